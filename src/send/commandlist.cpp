// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/commandlist.h"

#include "protocol/zemtool.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {
const QString FormatName = QStringLiteral("lumo-commands");
constexpr int FormatVersion = 1;
// An export file of this program is a few kilobytes; anything far larger is
// some other file picked by mistake.
constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;
} // namespace

bool CommandList::replace(int i, const Command &command)
{
    if (i < 0 || i >= size())
        return false;
    m_commands[i] = command;
    return true;
}

bool CommandList::remove(int i)
{
    if (i < 0 || i >= size())
        return false;
    m_commands.remove(i);
    return true;
}

bool CommandList::move(int from, int to)
{
    if (from < 0 || from >= size() || to < 0 || to >= size())
        return false;
    const Command c = m_commands.at(from);
    m_commands.remove(from);
    m_commands.insert(to, c);
    return true;
}

QByteArray CommandList::toJson(bool compact) const
{
    QJsonArray list;
    for (const Command &c : m_commands)
        list.append(QJsonObject{{QStringLiteral("name"), c.name}, {QStringLiteral("hex"), c.hex}});
    const QJsonObject root{{QStringLiteral("format"), FormatName},
                           {QStringLiteral("version"), FormatVersion},
                           {QStringLiteral("commands"), list}};
    return QJsonDocument(root).toJson(compact ? QJsonDocument::Compact : QJsonDocument::Indented);
}

bool CommandList::fromJson(const QByteArray &json, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError)
        return fail(QStringLiteral("不是有效的 JSON：%1（第 %2 个字符处）")
                        .arg(parse.errorString())
                        .arg(parse.offset + 1));
    const QJsonObject root = doc.object();
    if (!doc.isObject() || root.value(QStringLiteral("format")).toString() != FormatName)
        return fail(QStringLiteral("不是指令列表文件：缺少 \"format\": \"%1\"").arg(FormatName));
    const int version = root.value(QStringLiteral("version")).toInt(-1);
    if (version != FormatVersion)
        return fail(QStringLiteral("不支持的指令列表版本 %1（本程序读取版本 %2）")
                        .arg(version)
                        .arg(FormatVersion));
    const QJsonValue listValue = root.value(QStringLiteral("commands"));
    if (!listValue.isArray())
        return fail(QStringLiteral("缺少指令数组 \"commands\""));
    QVector<Command> read;
    const QJsonArray list = listValue.toArray();
    for (int i = 0; i < list.size(); ++i) {
        const QJsonObject o = list.at(i).toObject();
        const QJsonValue name = o.value(QStringLiteral("name"));
        const QJsonValue hex = o.value(QStringLiteral("hex"));
        if (!list.at(i).isObject() || !name.isString() || !hex.isString())
            return fail(QStringLiteral("第 %1 条指令缺少文本字段 \"name\" 或 \"hex\"").arg(i + 1));
        read.append({name.toString(), hex.toString()});
    }
    m_commands = read;
    return true;
}

void CommandList::load(const ZemTool *settings, const QString &key)
{
    m_commands.clear();
    const QString text = settings->readSetting(key);
    if (!text.isEmpty())
        fromJson(text.toUtf8());
}

void CommandList::save(ZemTool *settings, const QString &key) const
{
    settings->writeSetting(key, QString::fromUtf8(toJson(true)));
}

bool CommandList::exportTo(const QString &path, QString *error) const
{
    QFile file(path);
    const QByteArray json = toJson();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(json) != json.size()) {
        if (error)
            *error = QStringLiteral("无法写入 %1：%2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool CommandList::importFrom(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("无法读取 %1：%2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > MaxFileBytes) {
        if (error)
            *error
                = QStringLiteral("%1 太大（%2 字节），不是指令列表文件").arg(path).arg(file.size());
        return false;
    }
    return fromJson(file.readAll(), error);
}
