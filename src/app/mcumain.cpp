// SPDX-License-Identifier: GPL-3.0-or-later
// lumo-mcu: the simulated MCU without a window. It opens a serial port (a
// pseudo-terminal or socat link as well: the path is taken as it stands),
// answers the Wi-Fi module as the "模拟V4MCU" tab does, receives firmware into
// bin/, sends status reports and prints the traffic log to standard output.
// It runs until SIGINT or SIGTERM, or until the port is lost.
#include "base/apppaths.h"
#include "capture/linerecording.h"
#include "datapoint/definitionstore.h"
#include "engine/headlessprogram.h"
#include "engine/mcusimulator.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "serial/line.h"
#include "serial/linesettings.h"
#include "serial/networkaddress.h"
#include "serial/zemserialport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#ifndef LUMO_VERSION
#error "LUMO_VERSION is the project version, defined by cmake/install.cmake"
#endif

namespace {

const HeadlessProgram Program(QStringLiteral("lumo-mcu"));
constexpr int RetryIntervalMs = 500;

// The tab's log form: the tag with the local time right after it, then the
// bytes as hex text; a notice is "注意:" + time + " " + text.
QString logTime(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs).toString(QStringLiteral("hh:mm:ss.zzz"));
}

void printTransfer(const McuTransfer &transfer)
{
    HeadlessProgram::print(
        transfer.tag + logTime(transfer.time)
        + (transfer.dropped ? QStringLiteral(" (dropped: wrong checksum)") : QString()));
    HeadlessProgram::print(ZemTool::hexText(transfer.wire));
}

void printNotice(const QString &text)
{
    HeadlessProgram::print(QStringLiteral("注意:") + logTime(QDateTime::currentMSecsSinceEpoch())
                           + QLatin1Char(' ') + text);
}

// --- values ------------------------------------------------------------------

using Assignment = QPair<QString, QString>;

bool splitAssignment(const QString &text, Assignment *out)
{
    const int eq = text.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return false;
    *out = {text.left(eq).trimmed(), text.mid(eq + 1).trimmed()};
    return !out->first.isEmpty();
}

// A values file is either a JSON object from data-point name to value, or
// lines NAME=VALUE (blank lines and lines starting with # are skipped).
bool readValuesFile(const QString &path, QList<Assignment> *out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Program.error(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    const QByteArray text = file.readAll();
    file.close();
    if (text.trimmed().startsWith('{')) {
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
        if (!doc.isObject()) {
            Program.error(
                QStringLiteral("%1: not a JSON object: %2").arg(path, parseError.errorString()));
            return false;
        }
        const QJsonObject object = doc.object();
        for (auto it = object.begin(); it != object.end(); ++it) {
            const QJsonValue v = it.value();
            QString value;
            if (v.isString())
                value = v.toString();
            else if (v.isBool())
                value = v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
            else if (v.isDouble())
                value = QString::number(v.toDouble(), 'g', 17); // 80.5 stays no whole number
            else {
                Program.error(QStringLiteral("%1: value of '%2' is no string, number or bool")
                                  .arg(path, it.key()));
                return false;
            }
            out->append({it.key(), value});
        }
        return true;
    }
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        Assignment a;
        if (!splitAssignment(line, &a)) {
            Program.error(QStringLiteral("%1:%2: expected NAME=VALUE, got: %3")
                              .arg(path)
                              .arg(i + 1)
                              .arg(line));
            return false;
        }
        out->append(a);
    }
    return true;
}

// --- the run -----------------------------------------------------------------

struct Options
{
    QString port;
    LineSettings::Settings line;
    QList<Assignment> values;
    int reportEvery = 0;
    bool reportOnce = false;
    bool waitForPort = false;
};

class McuProgram : public QObject
{
public:
    McuProgram(const Options &options, McuSimulator *sim)
        : m_options(options)
        , m_sim(sim)
        , m_retry(new QTimer(this))
    {
        m_retry->setInterval(RetryIntervalMs);
        connect(m_retry, &QTimer::timeout, this, &McuProgram::retryOpen);
        connect(m_sim, &McuSimulator::transferred, this, &printTransfer);
        connect(m_sim, &McuSimulator::notice, this, &printNotice);
        connect(m_sim, &McuSimulator::portLost, this, &McuProgram::onPortLost);
        // A local port is ready when openLine() returns; a network line
        // connects in the background and says which way it went.
        connect(m_sim->line(), &Line::Opened, this, &McuProgram::onOpened);
        connect(m_sim->line(), &Line::OpenFailed, this, &McuProgram::onOpenFailed);
        connect(m_sim, &McuSimulator::definitionFetched, this, &McuProgram::onFetched);
        connect(m_sim, &McuSimulator::firmwareReceived, this,
                [](int pieces, qint64 bytes, const QString &file) {
                    Program.error(QStringLiteral("firmware received: %1 pieces, %2 bytes in %3")
                                      .arg(pieces)
                                      .arg(bytes)
                                      .arg(file));
                });
        connect(m_sim, &McuSimulator::firmwareCut, this,
                [](int pieces, qint64 bytes, const QString &file, const QString &marker) {
                    Program.error(QStringLiteral("firmware transfer cut short: %1 pieces, %2 "
                                                 "bytes in %3, which is incomplete (marked by %4)")
                                      .arg(pieces)
                                      .arg(bytes)
                                      .arg(file, marker));
                });
    }

    // Loads (or fetches) the definition, then sets the values and opens the
    // port. Runs from the event loop.
    void start()
    {
        const QString key = m_sim->productKey();
        if (!DefinitionStore::namesProduct(key) || m_sim->hasCachedDefinition()) {
            m_sim->loadDefinition();
            if (m_sim->values().count() == 0)
                Program.error(
                    QStringLiteral("warning: no data-point definition for product key %1 in "
                                   "%2; status reports carry no data points")
                        .arg(key, AppPaths::jsonDir()));
            run();
            return;
        }
        Program.error(QStringLiteral("fetching the data-point definition of %1 from %2")
                          .arg(key, m_sim->tool()->readSetting(SettingKeys::Environment)));
        m_sim->fetchDefinition();
    }

private:
    void onFetched(bool ok, const QString &reason)
    {
        if (!ok) {
            Program.error(QStringLiteral("cannot fetch the data-point definition of %1: %2")
                              .arg(m_sim->productKey(), reason));
            QCoreApplication::exit(HeadlessProgram::ExitUsage);
            return;
        }
        run();
    }

    void run()
    {
        for (const Assignment &a : qAsConst(m_options.values)) {
            QString why;
            if (!m_sim->setValue(a.first, a.second, &why)) {
                Program.error(why);
                QCoreApplication::exit(HeadlessProgram::ExitUsage);
                return;
            }
        }
        if (!openPort()) {
            // A rig may start the MCU before the link it is to open exists.
            if (m_options.waitForPort && !onNetwork() && !QFileInfo::exists(m_options.port)) {
                Program.error(QStringLiteral("port %1 does not exist yet; waiting for it")
                                  .arg(m_options.port));
                m_waiting = true;
                m_retry->start();
                return;
            }
            Program.cannotOpen(m_options.port, m_sim->openFailureReason());
            QCoreApplication::exit(HeadlessProgram::ExitUsage);
            return;
        }
    }

    bool openPort() { return m_sim->openPort(m_options.port, m_options.line); }
    bool onNetwork() const { return NetworkAddress::isNetwork(m_options.port); }

    void onOpened()
    {
        if (m_waiting)
            Program.error(QStringLiteral("port %1 is open").arg(m_options.port));
        m_waiting = false;
        opened();
    }

    void onOpenFailed(const QString &reason)
    {
        if (!m_options.waitForPort) {
            Program.cannotOpen(m_options.port, reason);
            QCoreApplication::exit(HeadlessProgram::ExitUsage);
            return;
        }
        if (!m_waiting)
            Program.error(QStringLiteral("cannot reach %1 yet (%2); waiting for it")
                              .arg(m_options.port, reason));
        m_waiting = true;
        m_retry->start();
    }

    // The single report goes out on the first open only; reports on a timer
    // resume after every open.
    void opened()
    {
        if (m_options.reportOnce && !m_reportedOnce)
            m_sim->sendStatusReport();
        m_reportedOnce = true;
        m_sim->startReports(m_options.reportEvery);
    }

    void onPortLost(const QString &reason)
    {
        if (!m_options.waitForPort) {
            Program.portLost(m_options.port, reason);
            QCoreApplication::exit(HeadlessProgram::ExitFailed);
            return;
        }
        Program.portLost(m_options.port, reason, QStringLiteral("; waiting for it to return"));
        m_waiting = true;
        // A network line reconnects by itself once the server answers again.
        if (!onNetwork())
            m_retry->start();
    }

    void retryOpen()
    {
        if (onNetwork()) {
            // One attempt at a time; a failure starts the timer again.
            m_retry->stop();
            openPort();
            return;
        }
        if (!QFileInfo::exists(m_options.port) || !openPort())
            return;
        m_retry->stop();
    }

    Options m_options;
    McuSimulator *m_sim;
    QTimer *m_retry;
    bool m_reportedOnce = false;
    bool m_waiting = false; // said that the port is awaited
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(Program.name());
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The simulated MCU without a window: answers a Wi-Fi module on PATH as Lumo's "
        "simulated-MCU tab does, stores firmware pieces in bin/ of the program folder, sends "
        "status reports of the data-point values and prints the traffic log to standard "
        "output. Runs until SIGINT or SIGTERM (exit 0) or until the port is lost (exit 1).\n"
        "Log: each transfer is a line WIFI:hh:mm:ss.zzz (from the module), MCU: (an answer) "
        "or SEND: (a status report), then a line of its bytes as hex; notices start with "
        "注意:. A frame whose checksum is wrong is neither answered nor applied: its header "
        "line ends in \" (dropped: wrong checksum)\".\n"
        "Firmware: a firmware start (0x19) is answered with the ready frame (0x1B) at once. "
        "While a transfer is under way, bin/mcu.incomplete stands beside bin/mcu.bin (or "
        "bin/mcu.hex); the module's transfer end (0x1F) removes it, so an image is complete "
        "exactly when that marker is absent. The end, or a port closed mid-transfer, is "
        "reported on standard error.\n"
        "Data-point values: those stored for the product key, then --values FILE, then each "
        "--set. A values file holds NAME=VALUE lines (# starts a comment) or one JSON object "
        "{\"NAME\": VALUE, ...}. NAME is a data point's display name or identifier; VALUE a "
        "decimal number (true/false for a bool), an enum label or its index, or hex digits "
        "for binary.\n"
        "The definition comes from json/KEY.json of the program folder; when it is missing "
        "it is fetched from the service in the settings (environment/environment).\n"
        "Capture: with --capture FILE both directions are recorded as the analyzer window "
        "records them; the file is closed cleanly on SIGINT or SIGTERM."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption = HeadlessProgram::portOption(
        QStringLiteral("Serial port, any path, or a network line tcp://HOST:PORT or "
                       "rfc2217://HOST:PORT (required)."));
    const QCommandLineOption baudOption = HeadlessProgram::baudOption();
    const QCommandLineOption dataBitsOption = HeadlessProgram::dataBitsOption();
    const QCommandLineOption stopBitsOption = HeadlessProgram::stopBitsOption();
    const QCommandLineOption parityOption = HeadlessProgram::parityOption();
    const QCommandLineOption rootOption = HeadlessProgram::rootOption();
    const QCommandLineOption keyOption(
        QStringLiteral("product-key"),
        QStringLiteral("Product key, checked and stored as the simulated-MCU tab stores a key "
                       "(default: the stored key)."),
        QStringLiteral("key"));
    const QCommandLineOption setOption(QStringLiteral("set"),
                                       QStringLiteral("A data point's value; repeatable."),
                                       QStringLiteral("name=value"));
    const QCommandLineOption valuesOption(
        QStringLiteral("values"), QStringLiteral("Data-point values from a file (see above)."),
        QStringLiteral("file"));
    const QCommandLineOption everyOption(
        QStringLiteral("report-every"),
        QStringLiteral("Send a status report every N seconds (default 0: none)."),
        QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption onceOption(
        QStringLiteral("report-once"),
        QStringLiteral("Send one status report once the port is open."));
    const QCommandLineOption waitOption(
        QStringLiteral("wait-for-port"),
        QStringLiteral("When the port is lost, or does not exist yet at start, wait for it "
                       "instead of exiting."));
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"), QStringLiteral("Also print debug messages on standard error."));
    const QCommandLineOption captureOption = HeadlessProgram::captureOption();
    parser.addOptions({portOption, baudOption, dataBitsOption, stopBitsOption, parityOption,
                       rootOption, keyOption, setOption, valuesOption, everyOption, onceOption,
                       waitOption, verboseOption, captureOption});
    if (!Program.parse(parser))
        return HeadlessProgram::ExitUsage;

    if (!parser.positionalArguments().isEmpty())
        return Program.usage(QStringLiteral("unexpected argument: %1 (see --help)")
                                 .arg(parser.positionalArguments().first()));
    Options options;
    options.port = parser.value(portOption);
    if (options.port.isEmpty())
        return Program.usage(QStringLiteral("--port PATH is required (see --help)"));
    QString lineProblem;
    if (!LineSettings::parse(parser.value(baudOption), parser.value(dataBitsOption),
                             parser.value(stopBitsOption), parser.value(parityOption),
                             &options.line, &lineProblem))
        return Program.usage(lineProblem);
    bool ok = false;
    options.reportEvery = parser.value(everyOption).toInt(&ok);
    if (!ok || options.reportEvery < 0)
        return Program.usage(QStringLiteral("--report-every takes whole seconds, 0 or more, not %1")
                                 .arg(parser.value(everyOption)));
    options.reportOnce = parser.isSet(onceOption);
    options.waitForPort = parser.isSet(waitOption);
    if (parser.isSet(valuesOption) && !readValuesFile(parser.value(valuesOption), &options.values))
        return HeadlessProgram::ExitUsage;
    for (const QString &text : parser.values(setOption)) {
        Assignment a;
        if (!splitAssignment(text, &a))
            return Program.usage(QStringLiteral("--set takes NAME=VALUE, not %1").arg(text));
        options.values.append(a);
    }

    // The engine writes its own debug lines (every request URL, every report
    // as hex); a test rig's standard error stays for what went wrong.
    HeadlessProgram::showCoreDebug(parser.isSet(verboseOption));
    if (!Program.chooseRoot(parser))
        return HeadlessProgram::ExitUsage;

    // The program's one settings object, handed to the engine.
    ZemTool settings;
    McuSimulator sim(&settings);
    // Whoever names a path on a command line means that device, listed or
    // not (a pseudo-terminal, a socat link).
    sim.port()->setAcceptUnlisted(true);
    // Nobody clicks "开始接收固件" on a rig: the 0x1B follows a firmware
    // start at once.
    sim.setAnswerFirmwareStart(true);
    if (parser.isSet(keyOption) && !sim.setProductKey(parser.value(keyOption)))
        return Program.usage(QStringLiteral("not a product key (32 letters and digits): %1")
                                 .arg(parser.value(keyOption)));

    // What the module sends comes in; Lumo's answers and reports go out.
    LineRecording recording;
    if (parser.isSet(captureOption)) {
        QString why;
        if (!recording.start(sim.line(), LineDirection::ModuleToMcu, parser.value(captureOption),
                             &why))
            return Program.usage(why);
        QObject::connect(&recording, &LineRecording::failed, &recording,
                         [](const QString &reason) { Program.error(reason); });
    }

    McuProgram program(options, &sim);
    if (!HeadlessProgram::onStopSignal(&program, [&sim] {
            sim.closePort();
            QCoreApplication::exit(HeadlessProgram::ExitOk);
        })) {
        Program.error(QStringLiteral("cannot install the SIGINT/SIGTERM handlers"));
        return HeadlessProgram::ExitUsage;
    }
    QTimer::singleShot(0, &program, [&program] { program.start(); });
    const int status = app.exec();
    sim.closePort();
    recording.stop();
    return status;
}
