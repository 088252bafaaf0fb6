// SPDX-License-Identifier: GPL-3.0-or-later
#include "rig/wiresharkextcap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

namespace {

QString homeDir()
{
    return QString::fromLocal8Bit(qgetenv("HOME"));
}

// One extcap sentence: `word` then {key=value} for each pair.
QString sentence(const char *word, const QList<QPair<QString, QString>> &fields)
{
    QString line = QLatin1String(word) + QLatin1Char(' ');
    for (const auto &f : fields)
        line += QStringLiteral("{%1=%2}").arg(f.first, f.second);
    return line + QLatin1Char('\n');
}

struct Arg
{
    const char *call;
    const char *display;
    const char *type;
    const char *tooltip;
    QStringList values;
    QString defaultValue;
};

QString shellQuoted(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1String("'"), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

bool writeFile(const QString &path, const QByteArray &bytes, bool executable, QString *error)
{
    QFile file(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly)
        || file.write(bytes) != bytes.size() || !file.flush()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QFile::Permissions permissions
        = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (executable)
        permissions |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    file.setPermissions(permissions);
    return true;
}

} // namespace

QString WiresharkExtcap::interfaceName()
{
    return QStringLiteral("lumo");
}

QString WiresharkExtcap::interfaceDisplay()
{
    return QStringLiteral("Lumo UART line");
}

QString WiresharkExtcap::interfacesAnswer(const QString &version)
{
    return sentence("extcap",
                    {{QStringLiteral("version"), version},
                     {QStringLiteral("display"), interfaceDisplay()}})
        + sentence("interface",
                   {{QStringLiteral("value"), interfaceName()},
                    {QStringLiteral("display"), interfaceDisplay()}});
}

QString WiresharkExtcap::dltsAnswer()
{
    // The session capture's own link type: USER0, with the pseudo-header
    // the shipped dissector reads.
    return sentence("dlt",
                    {{QStringLiteral("number"), QStringLiteral("147")},
                     {QStringLiteral("name"), QStringLiteral("USER0")},
                     {QStringLiteral("display"), interfaceDisplay()}});
}

bool WiresharkExtcap::hasEditableSelector(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    bool ok = false;
    const int major = parts.value(0).toInt(&ok);
    if (!ok)
        return false;
    return major > 4 || (major == 4 && parts.value(1).toInt() >= 2);
}

QString WiresharkExtcap::configAnswer(const QStringList &ports, bool editable)
{
    const char *const portType = editable ? "editselector" : "selector";
    const QList<Arg> args = {
        {"--mcu", "MCU side", portType,
         "The port wired to the MCU (side 1), or tcp://HOST:PORT, rfc2217://HOST:PORT", ports,
         ports.value(0)},
        {"--module", "Module side", portType,
         "The port wired to the Wi-Fi module (side 2), or a network line", ports, ports.value(1)},
        {"--sides",
         "Sides",
         "radio",
         "Bridge both sides, or listen on one without sending",
         {QStringLiteral("both"), QStringLiteral("mcu"), QStringLiteral("module")},
         QStringLiteral("both")},
        {"--baud",
         "Baud rate",
         portType,
         "The line's baud rate",
         {QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
          QStringLiteral("57600"), QStringLiteral("115200"), QStringLiteral("230400"),
          QStringLiteral("460800"), QStringLiteral("921600")},
         QStringLiteral("9600")},
        {"--data-bits",
         "Data bits",
         "selector",
         "Data bits per character",
         {QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")},
         QStringLiteral("8")},
        {"--stop-bits",
         "Stop bits",
         "selector",
         "Stop bits per character",
         {QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")},
         QStringLiteral("1")},
        {"--parity",
         "Parity",
         "selector",
         "Parity bit",
         {QStringLiteral("none"), QStringLiteral("odd"), QStringLiteral("even"),
          QStringLiteral("space")},
         QStringLiteral("none")},
    };
    const QMap<QString, QString> sideNames = {
        {QStringLiteral("both"), QStringLiteral("Both: bridge MCU and module, record both ways")},
        {QStringLiteral("mcu"), QStringLiteral("MCU side only: listen, send nothing")},
        {QStringLiteral("module"), QStringLiteral("Module side only: listen, send nothing")},
    };
    QString answer;
    for (int n = 0; n < args.size(); ++n) {
        const Arg &a = args.at(n);
        answer += sentence("arg",
                           {{QStringLiteral("number"), QString::number(n)},
                            {QStringLiteral("call"), QLatin1String(a.call)},
                            {QStringLiteral("display"), QLatin1String(a.display)},
                            {QStringLiteral("type"), QLatin1String(a.type)},
                            {QStringLiteral("tooltip"), QLatin1String(a.tooltip)}});
        for (const QString &v : a.values)
            answer += sentence(
                "value",
                {{QStringLiteral("arg"), QString::number(n)},
                 {QStringLiteral("value"), v},
                 {QStringLiteral("display"), sideNames.value(v, v)},
                 {QStringLiteral("default"),
                  v == a.defaultValue ? QStringLiteral("true") : QStringLiteral("false")}});
    }
    return answer;
}

QStringList WiresharkExtcap::userExtcapDirs()
{
    QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty())
        config = homeDir() + QStringLiteral("/.config");
    return {config + QStringLiteral("/wireshark/extcap"),
            homeDir() + QStringLiteral("/.local/lib/wireshark/extcap")};
}

QString WiresharkExtcap::userPluginDir()
{
    return homeDir() + QStringLiteral("/.local/lib/wireshark/plugins");
}

bool WiresharkExtcap::installForUser(const QString &program, const QString &dissector,
                                     QStringList *installed, QString *error)
{
    QFile source(dissector);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the dissector %1: %2")
                     .arg(dissector, source.errorString());
        return false;
    }
    const QByteArray lua = source.readAll();
    const QByteArray script
        = "#!/bin/sh\n"
          "# Wireshark's capture interface \"Lumo UART line\": the program below.\n"
          "exec "
        + shellQuoted(QFileInfo(program).absoluteFilePath()).toLocal8Bit() + " \"$@\"\n";
    const QString name = QFileInfo(program).fileName();
    for (const QString &dir : userExtcapDirs()) {
        const QString path = dir + QLatin1Char('/') + name;
        if (!writeFile(path, script, true, error))
            return false;
        installed->append(path);
    }
    const QString plugin = userPluginDir() + QStringLiteral("/lumo.lua");
    if (!writeFile(plugin, lua, false, error))
        return false;
    installed->append(plugin);
    return true;
}
