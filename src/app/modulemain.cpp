// SPDX-License-Identifier: GPL-3.0-or-later
// lumo-module: plays the Wi-Fi module against an MCU on a serial port, runs
// the conformance steps and exits 0 only when every step passed.
// Usage: lumo-module --port PATH [--robust] [--firmware FILE] [--junit FILE] ...
#include "datapoint/zemjson.h"
#include "engine/apppaths.h"
#include "engine/settingkeys.h"
#include "module/conformancerun.h"
#include "protocol/zemtool.h"
#include "serial/linesettings.h"
#include "serial/serialline.h"
#include "serial/zemserialport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTextStream>
#include <QTimer>

#ifndef LUMO_VERSION
#error "LUMO_VERSION is the project version, defined by cmake/install.cmake"
#endif

namespace {

// Exit statuses: 0 every step passed, 1 a step failed, 2 the run could not
// be made (options, port, definition).
constexpr int ExitFailed = 1;
constexpr int ExitError = 2;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int fail(const QString &message)
{
    err() << "lumo-module: " << message << Qt::endl;
    return ExitError;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumo-module"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays the Wi-Fi module against an MCU on a serial port: answers the MCU's own frames "
        "and runs the conformance steps (every request of the protocol, each answer checked).\n"
        "Exit status: 0 every step passed, 1 a step failed, 2 the run could not be made."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Serial port to open; any path is taken as it stands (pseudo-terminals "
                       "included)."),
        QStringLiteral("path"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
                                        QStringLiteral("Baud rate (default 9600)."),
                                        QStringLiteral("rate"), QStringLiteral("9600"));
    const QCommandLineOption dataBitsOption(QStringLiteral("data-bits"),
                                            QStringLiteral("Data bits, 5 to 8 (default 8)."),
                                            QStringLiteral("bits"), QStringLiteral("8"));
    const QCommandLineOption stopBitsOption(QStringLiteral("stop-bits"),
                                            QStringLiteral("Stop bits: 1, 1.5 or 2 (default 1)."),
                                            QStringLiteral("bits"), QStringLiteral("1"));
    const QCommandLineOption parityOption(
        QStringLiteral("parity"),
        QStringLiteral("Parity: none, odd, even or space (default none)."),
        QStringLiteral("parity"), QStringLiteral("none"));
    const QCommandLineOption rootOption(
        QStringLiteral("root"),
        QStringLiteral("Program folder holding auto_analyze.ini and the cached definitions in "
                       "json/ (default: the folder Lumo itself uses)."),
        QStringLiteral("dir"));
    const QCommandLineOption keyOption(
        QStringLiteral("product-key"),
        QStringLiteral("Product key: the data-point definition to use (cached in json/, fetched "
                       "from the service otherwise) and the key the MCU must report. Default: "
                       "the stored key, whose report is then not checked."),
        QStringLiteral("key"));
    const QCommandLineOption firmwareOption(
        QStringLiteral("firmware"),
        QStringLiteral("Image the firmware transfer sends; without it that step is skipped."),
        QStringLiteral("file"));
    const QCommandLineOption limitOption(
        QStringLiteral("reply-limit"),
        QStringLiteral("Longest acceptable reply time in milliseconds (default 200)."),
        QStringLiteral("ms"), QStringLiteral("200"));
    const QCommandLineOption robustOption(
        QStringLiteral("robust"),
        QStringLiteral("Also split frames, send noise, FF in every field, a retransmission and a "
                       "wrong checksum, and check that the MCU still answers."));
    const QCommandLineOption junitOption(QStringLiteral("junit"),
                                         QStringLiteral("Write the JUnit XML report to this file."),
                                         QStringLiteral("file"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Print every frame sent and received."));
    parser.addOptions({portOption, baudOption, dataBitsOption, stopBitsOption, parityOption,
                       rootOption, keyOption, firmwareOption, limitOption, robustOption,
                       junitOption, verboseOption});
    parser.process(app);

    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: %1 (see --help)")
                        .arg(parser.positionalArguments().constFirst()));
    if (!parser.isSet(portOption))
        return fail(QStringLiteral("--port PATH is required (see --help)"));

    LineSettings::Settings line;
    QString problem;
    if (!LineSettings::parse(parser.value(baudOption), parser.value(dataBitsOption),
                             parser.value(stopBitsOption), parser.value(parityOption), &line,
                             &problem))
        return fail(problem);

    bool ok = false;
    const int limit = parser.value(limitOption).toInt(&ok);
    if (!ok || limit < 1 || limit > 600000)
        return fail(QStringLiteral("not a reply limit in milliseconds (1 to 600000): %1")
                        .arg(parser.value(limitOption)));

    ConformanceOptions options;
    options.replyLimitMs = limit;
    options.robust = parser.isSet(robustOption);
    if (parser.isSet(firmwareOption)) {
        const QFileInfo image(parser.value(firmwareOption));
        if (!image.isFile() || !image.isReadable())
            return fail(QStringLiteral("cannot read firmware file %1").arg(image.filePath()));
        options.firmwarePath = image.absoluteFilePath();
    }

    if (parser.isSet(rootOption)) {
        const QDir root(parser.value(rootOption));
        if (!root.exists())
            return fail(QStringLiteral("no such folder: %1").arg(root.path()));
        AppPaths::setRoot(root.absolutePath());
    } else {
        AppPaths::chooseRoot();
    }

    const QString junitPath = parser.value(junitOption);
    const bool verbose = parser.isSet(verboseOption);
    // The core's debug lines (the definition fetch, each status report)
    // would mix with the results; --verbose keeps them.
    if (!verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const QString portPath = parser.value(portOption);

    ZemTool tool;
    QString key = parser.value(keyOption).trimmed();
    if (parser.isSet(keyOption)) {
        if (key.isEmpty())
            return fail(QStringLiteral("--product-key needs a key"));
        options.expectedProductKey = key;
    } else {
        key = tool.readSetting(SettingKeys::ProductKey);
    }

    SerialLine port;
    // A path typed on the command line is the device meant, listed or not.
    port.port()->setAcceptUnlisted(true);
    ZemJson definitions;
    ConformanceRun *run = nullptr;
    int status = ExitError;
    bool portLost = false;

    auto finish = [&](int code) {
        status = code;
        port.closeLine();
        QTimer::singleShot(0, &app, [&app, code] { app.exit(code); });
    };

    auto startRun = [&]() {
        options.definition = definitions.definition();
        if (!port.openLine(portPath, line)) {
            fail(QStringLiteral("cannot open %1: %2").arg(portPath, port.openFailureReason()));
            finish(ExitError);
            return;
        }
        run = new ConformanceRun(&port, options, &app);
        QObject::connect(run, &ConformanceRun::stepFinished, &app, [](const StepResult &step) {
            out() << ConformanceReport::line(step) << Qt::endl;
        });
        if (verbose) {
            QObject::connect(run, &ConformanceRun::bytesSent, &app, [](const QByteArray &wire) {
                out() << "  > " << ZemTool::hexText(wire).trimmed() << Qt::endl;
            });
            QObject::connect(run, &ConformanceRun::frameReceived, &app, [](const QByteArray &f) {
                out() << "  < " << ZemTool::hexText(f).trimmed() << Qt::endl;
            });
        }
        QObject::connect(&port, &Line::Lost, &app, [&](const QString &reason) {
            err() << "lumo-module: lost " << portPath << ": " << reason << Qt::endl;
            portLost = true;
            run->abort(QStringLiteral("serial port lost: ") + reason);
        });
        QObject::connect(run, &ConformanceRun::finished, &app, [&](bool allPassed) {
            const ConformanceReport &report = run->report();
            out() << report.summary() << Qt::endl;
            int code = portLost ? ExitError : allPassed ? 0 : ExitFailed;
            if (!junitPath.isEmpty()) {
                QString error;
                if (!report.writeJUnit(junitPath, QStringLiteral("lumo-module"), &error)) {
                    err() << "lumo-module: cannot write " << junitPath << ": " << error << Qt::endl;
                    code = ExitError;
                }
            }
            finish(code);
        });
        out() << "lumo-module: " << portPath << " at " << line.baudRate << " baud, product key "
              << (key.isEmpty() ? QStringLiteral("(none)") : key) << ", "
              << options.definition.records().size() << " data points" << Qt::endl;
        run->start();
    };

    // The definition comes from the same cache (and, when the cache lacks
    // it, the same service) as the simulated-MCU tab's.
    const bool cached = !key.isEmpty() && QFileInfo::exists(ZemJson::cachePath(key));
    if (key.isEmpty() || cached || key == SettingKeys::PlaceholderProductKey) {
        if (cached)
            definitions.loadJson(key);
        QTimer::singleShot(0, &app, startRun);
    } else {
        QObject::connect(&definitions, &ZemJson::json_stat, &app, [&](bool stored) {
            if (!stored) {
                fail(QStringLiteral("the data-point service refused product key %1: %2")
                         .arg(key, definitions.lastFetchDetail()));
                finish(ExitError);
                return;
            }
            definitions.loadJson(key);
            startRun();
        });
        QObject::connect(&definitions, &ZemJson::fetchFailed, &app, [&](const QString &reason) {
            fail(QStringLiteral("no cached definition for %1 and the service gave none: %2")
                     .arg(key, reason));
            finish(ExitError);
        });
        QDir().mkpath(AppPaths::jsonDir());
        definitions.getJson(key);
    }
    app.exec();
    return status;
}
