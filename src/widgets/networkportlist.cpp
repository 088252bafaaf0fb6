// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/networkportlist.h"

#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "serial/networkaddress.h"

NetworkPortList *NetworkPortList::instance()
{
    static NetworkPortList list;
    return &list;
}

QStringList NetworkPortList::read(const ZemTool *settings)
{
    QStringList lines;
    const QStringList stored = settings->readSetting(SettingKeys::NetworkLines)
                                   .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &entry : stored) {
        NetworkAddress address;
        QString problem;
        if (!NetworkAddress::parse(entry, &address, &problem))
            continue;
        const QString plain = address.toString();
        if (!lines.contains(plain))
            lines.append(plain);
        if (lines.size() == MaxLines)
            break;
    }
    return lines;
}

void NetworkPortList::add(ZemTool *settings, const QString &address)
{
    NetworkAddress parsed;
    QString problem;
    if (!NetworkAddress::parse(address, &parsed, &problem))
        return;
    QStringList lines = read(settings);
    if (lines.contains(parsed.toString()))
        return;
    lines.append(parsed.toString());
    write(settings, lines);
}

void NetworkPortList::remove(ZemTool *settings, const QString &address)
{
    QStringList lines = read(settings);
    if (lines.removeAll(address.trimmed()) > 0)
        write(settings, lines);
}

void NetworkPortList::write(ZemTool *settings, const QStringList &lines)
{
    settings->writeSetting(SettingKeys::NetworkLines, lines.join(QLatin1Char(' ')));
    emit changed();
}
