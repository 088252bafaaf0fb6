// SPDX-License-Identifier: GPL-3.0-or-later
// lumo-capture: the dual tab's bridge and recorder without a window. It sits
// between the MCU and the module (or listens on one tap port), records both
// directions into a pcap file as the window records them, and answers
// Wireshark's external-capture protocol so that Wireshark lists the line as
// an interface of its own.
#include "capture/capturewriter.h"
#include "capture/sessionrecorder.h"
#include "engine/headlessprogram.h"
#include "rig/capturesession.h"
#include "rig/wiresharkextcap.h"
#include "serial/linesettings.h"
#include "serial/portwatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <csignal>

#ifndef LUMO_VERSION
#error "LUMO_VERSION is the project version, defined by cmake/install.cmake"
#endif

namespace {

const HeadlessProgram Program(QStringLiteral("lumo-capture"));

// An answer of several lines, each flushed as it goes.
void printLines(const QString &text)
{
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        HeadlessProgram::print(line);
}

// The system's ports as paths, for Wireshark's port selectors: the port
// watcher is asked for a fresh scan, which a short-lived program must wait
// for.
QStringList portPaths()
{
    PortWatcher *watcher = PortWatcher::instance();
    const quint64 ticket = watcher->rescan();
    QElapsedTimer waited;
    waited.start();
    while (watcher->scannedTicket() < ticket && waited.elapsed() < 3000) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    QStringList paths;
    for (const QString &name : watcher->ports())
        paths.append(name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name);
    return paths;
}

// The dissector shipped beside a build folder's program, or the installed one.
QString shippedDissector()
{
    const QString beside
        = QCoreApplication::applicationDirPath() + QStringLiteral("/wireshark/lumo.lua");
    return QFileInfo::exists(beside) ? beside
                                     : QCoreApplication::applicationDirPath()
            + QStringLiteral("/../share/lumo/wireshark/lumo.lua");
}

int installWireshark()
{
    QStringList installed;
    QString why;
    const bool ok
        = WiresharkExtcap::installForUser(QCoreApplication::applicationFilePath(),
                                          QDir::cleanPath(shippedDissector()), &installed, &why);
    for (const QString &path : installed)
        HeadlessProgram::print(QStringLiteral("installed %1").arg(path));
    if (!ok)
        return Program.usage(why);
    HeadlessProgram::print(QStringLiteral("Wireshark lists \"%1\" from its next start")
                               .arg(WiresharkExtcap::interfaceDisplay()));
    return HeadlessProgram::ExitOk;
}

} // namespace

int main(int argc, char *argv[])
{
    // Qt's own event loop instead of GLib's: on a line at full speed the
    // loop turns for every chunk of every side, and GLib's costs about a
    // third more of a core there. Nothing in this program needs GLib.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(Program.name());
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Bridges the MCU's and the Wi-Fi module's ports as Lumo's dual tab does and records both "
        "directions into a pcap file (link type 147, USER0), cut into packets as the window's "
        "recorder cuts them: one frame, or one run of other bytes, per packet. With --sniff it "
        "listens on one port and sends nothing. Runs until SIGINT or SIGTERM, the --duration or "
        "--count limit (exit 0), or until a port is lost (exit 1); the file is complete in every "
        "case.\n"
        "-w - writes the capture to standard output, flushed twice a second: lumo-capture ... -w - "
        "| wireshark -k -i -\n"
        "Wireshark: lumo-capture --install-wireshark puts the interface \"Lumo UART line\" and "
        "the dissector into the user's Wireshark folders. Wireshark then runs it with "
        "--extcap-interfaces, --extcap-dlts, --extcap-config and --capture --fifo PATH; "
        "stopping the capture there ends it."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption mcuOption(
        QStringLiteral("mcu"),
        QStringLiteral("The port wired to the MCU (side 1): a path, or a "
                       "network line tcp://HOST:PORT or "
                       "rfc2217://HOST:PORT."),
        QStringLiteral("path"));
    const QCommandLineOption moduleOption(
        QStringLiteral("module"),
        QStringLiteral("The port wired to the Wi-Fi module (side 2), as --mcu."),
        QStringLiteral("path"));
    const QCommandLineOption sniffOption(
        QStringLiteral("sniff"),
        QStringLiteral("Listen on one port that hears the MCU, sending nothing (the same as "
                       "--mcu PATH --sides mcu)."),
        QStringLiteral("path"));
    const QCommandLineOption sidesOption(
        QStringLiteral("sides"),
        QStringLiteral("both: bridge --mcu and --module (default); mcu or module: only listen on "
                       "that side's port, which hears that device."),
        QStringLiteral("sides"), QStringLiteral("both"));
    const QCommandLineOption baudOption = HeadlessProgram::baudOption();
    const QCommandLineOption dataBitsOption = HeadlessProgram::dataBitsOption();
    const QCommandLineOption stopBitsOption = HeadlessProgram::stopBitsOption();
    const QCommandLineOption parityOption = HeadlessProgram::parityOption();
    const QCommandLineOption writeOption(
        {QStringLiteral("w"), QStringLiteral("write")},
        QStringLiteral("The capture file, replaced when it exists; - for standard output "
                       "(default: captures/lumo-yyyyMMdd-HHmmss.pcap in the program folder, "
                       "as the window names its recordings)."),
        QStringLiteral("file"));
    const QCommandLineOption durationOption(
        QStringLiteral("duration"), QStringLiteral("Stop after this many seconds (default: none)."),
        QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption countOption(
        {QStringLiteral("c"), QStringLiteral("count")},
        QStringLiteral("Stop once this many packets are recorded (default: none)."),
        QStringLiteral("packets"), QStringLiteral("0"));
    const QCommandLineOption waitOption(
        QStringLiteral("wait-for-port"),
        QStringLiteral("When a port is lost, or does not exist yet at start, wait for it instead "
                       "of exiting."));
    const QCommandLineOption rootOption = HeadlessProgram::rootOption();
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"), QStringLiteral("Also print debug messages on standard error."));
    const QCommandLineOption installOption(
        QStringLiteral("install-wireshark"),
        QStringLiteral("Put the capture interface and the dissector into the user's Wireshark "
                       "folders (extcap: ~/.config/wireshark/extcap for Wireshark 4.0 and "
                       "~/.local/lib/wireshark/extcap for 4.2 and later; dissector: "
                       "~/.local/lib/wireshark/plugins), then exit."));
    // Wireshark's side of the conversation.
    const QCommandLineOption interfacesOption(QStringLiteral("extcap-interfaces"),
                                              QStringLiteral("Wireshark: list the interface."));
    const QCommandLineOption dltsOption(QStringLiteral("extcap-dlts"),
                                        QStringLiteral("Wireshark: the interface's link type."));
    const QCommandLineOption configOption(QStringLiteral("extcap-config"),
                                          QStringLiteral("Wireshark: the interface's options."));
    const QCommandLineOption interfaceOption(QStringLiteral("extcap-interface"),
                                             QStringLiteral("Wireshark: the interface (lumo)."),
                                             QStringLiteral("name"));
    const QCommandLineOption versionOption(QStringLiteral("extcap-version"),
                                           QStringLiteral("Wireshark: its version (ignored)."),
                                           QStringLiteral("version"));
    const QCommandLineOption captureOption(QStringLiteral("capture"),
                                           QStringLiteral("Wireshark: capture into --fifo."));
    const QCommandLineOption fifoOption(QStringLiteral("fifo"),
                                        QStringLiteral("Wireshark: the FIFO to write into."),
                                        QStringLiteral("path"));
    const QCommandLineOption filterOption(QStringLiteral("extcap-capture-filter"),
                                          QStringLiteral("Wireshark: a capture filter (ignored: "
                                                         "every byte of the line is recorded)."),
                                          QStringLiteral("filter"));
    const QCommandLineOption debugOption(QStringLiteral("debug"),
                                         QStringLiteral("Wireshark: the same as --verbose."));
    const QCommandLineOption debugFileOption(QStringLiteral("debug-file"),
                                             QStringLiteral("Wireshark: a debug file (ignored)."),
                                             QStringLiteral("file"));
    parser.addOptions(
        {mcuOption,        moduleOption,   sniffOption,  sidesOption,     baudOption,
         dataBitsOption,   stopBitsOption, parityOption, writeOption,     durationOption,
         countOption,      waitOption,     rootOption,   verboseOption,   installOption,
         interfacesOption, dltsOption,     configOption, interfaceOption, versionOption,
         captureOption,    fifoOption,     filterOption, debugOption,     debugFileOption});
    if (!Program.parse(parser))
        return HeadlessProgram::ExitUsage;
    if (!parser.positionalArguments().isEmpty())
        return Program.usage(QStringLiteral("unexpected argument: %1 (see --help)")
                                 .arg(parser.positionalArguments().first()));

    if (parser.isSet(interfacesOption)) {
        printLines(WiresharkExtcap::interfacesAnswer(QStringLiteral(LUMO_VERSION)));
        return HeadlessProgram::ExitOk;
    }
    if (parser.isSet(interfaceOption)
        && parser.value(interfaceOption) != WiresharkExtcap::interfaceName())
        return Program.usage(
            QStringLiteral("no such interface: %1 (there is only %2)")
                .arg(parser.value(interfaceOption), WiresharkExtcap::interfaceName()));
    if (parser.isSet(dltsOption)) {
        printLines(WiresharkExtcap::dltsAnswer());
        return HeadlessProgram::ExitOk;
    }
    if (parser.isSet(configOption)) {
        printLines(WiresharkExtcap::configAnswer(
            portPaths(), WiresharkExtcap::hasEditableSelector(parser.value(versionOption))));
        return HeadlessProgram::ExitOk;
    }
    if (parser.isSet(installOption))
        return installWireshark();

    CaptureSession::Options options;
    const QString sides = parser.value(sidesOption);
    if (parser.isSet(sniffOption)) {
        options.sniffPort = parser.value(sniffOption);
    } else if (sides == QLatin1String("both")) {
        options.mcuPort = parser.value(mcuOption);
        options.modulePort = parser.value(moduleOption);
        if (options.mcuPort.isEmpty() || options.modulePort.isEmpty())
            return Program.usage(
                QStringLiteral("--mcu PATH and --module PATH, or --sniff PATH, are required "
                               "(see --help)"));
    } else if (sides == QLatin1String("mcu") || sides == QLatin1String("module")) {
        const bool mcu = sides == QLatin1String("mcu");
        options.sniffPort = parser.value(mcu ? mcuOption : moduleOption);
        options.sniffDirection = mcu ? LineDirection::McuToModule : LineDirection::ModuleToMcu;
        if (options.sniffPort.isEmpty())
            return Program.usage(
                QStringLiteral("--sides %1 listens on --%1 PATH, which is missing").arg(sides));
    } else {
        return Program.usage(
            QStringLiteral("--sides takes both, mcu or module, not %1").arg(sides));
    }
    QString lineProblem;
    if (!LineSettings::parse(parser.value(baudOption), parser.value(dataBitsOption),
                             parser.value(stopBitsOption), parser.value(parityOption),
                             &options.line, &lineProblem))
        return Program.usage(lineProblem);
    bool ok = false;
    const double seconds = parser.value(durationOption).toDouble(&ok);
    if (!ok || seconds < 0 || seconds > 24 * 3600 * 24)
        return Program.usage(QStringLiteral("--duration takes seconds, 0 or more, not %1")
                                 .arg(parser.value(durationOption)));
    options.durationMs = int(seconds * 1000);
    options.packetLimit = parser.value(countOption).toLongLong(&ok);
    if (!ok || options.packetLimit < 0)
        return Program.usage(QStringLiteral("--count takes a whole number, 0 or more, not %1")
                                 .arg(parser.value(countOption)));
    options.waitForPort = parser.isSet(waitOption);
    if (parser.isSet(captureOption)) {
        options.output = parser.value(fifoOption);
        if (options.output.isEmpty())
            return Program.usage(QStringLiteral("--capture needs --fifo PATH"));
    } else {
        options.output = parser.value(writeOption);
    }

    HeadlessProgram::showCoreDebug(parser.isSet(verboseOption) || parser.isSet(debugOption));
    // The program folder matters only for the default file name.
    if (options.output.isEmpty() || parser.isSet(rootOption)) {
        if (!Program.chooseRoot(parser))
            return HeadlessProgram::ExitUsage;
    }
    if (options.output.isEmpty()) {
        const QString dir = SessionRecorder::captureDir();
        if (!QDir().mkpath(dir))
            return Program.usage(QStringLiteral("cannot create the folder %1").arg(dir));
        options.output
            = dir + QLatin1Char('/') + SessionRecorder::fileNameFor(QDateTime::currentDateTime());
    }
    CaptureWriter::setEnglishMessages(true);
    // A reader that goes away (Wireshark stopped, `| head`) is seen as a
    // failed write, never as a signal that kills the program mid-file.
    std::signal(SIGPIPE, SIG_IGN);

    // The ports are the paths given; a port list would be scanned for nobody.
    PortWatcher::instance()->setPolling(false);
    CaptureSession session(options, Program);
    QObject::connect(&session, &CaptureSession::finished, &app,
                     [](int status) { QCoreApplication::exit(status); });
    if (!HeadlessProgram::onStopSignal(&session, [&session] { session.stop(0); })) {
        Program.error(QStringLiteral("cannot install the SIGINT/SIGTERM handlers"));
        return HeadlessProgram::ExitUsage;
    }
    QTimer::singleShot(0, &session, [&session] { session.start(); });
    const int status = app.exec();
    // Wireshark shows whatever an extcap writes on standard error as an
    // error: a capture it ran ends without a word.
    if (!parser.isSet(captureOption) && status != HeadlessProgram::ExitUsage)
        Program.error(QStringLiteral("%1 packets recorded in %2")
                          .arg(session.packetCount())
                          .arg(options.output == QLatin1String("-")
                                   ? QStringLiteral("standard output")
                                   : options.output));
    return status;
}
