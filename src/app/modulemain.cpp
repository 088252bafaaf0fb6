// SPDX-License-Identifier: GPL-3.0-or-later
// lumo-module: plays the Wi-Fi module against an MCU on a serial port, runs
// the conformance steps and exits 0 only when every step passed.
// Usage: lumo-module --port PATH [--robust] [--firmware FILE] [--junit FILE] ...
//        lumo-module --port PATH --replay CAPTURE [--exact] [--junit FILE] ...
#include "analyzer/captureanalysis.h"
#include "capture/linerecording.h"
#include "datapoint/definitionstore.h"
#include "engine/headlessprogram.h"
#include "module/conformancerun.h"
#include "module/replayregression.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "serial/anyline.h"
#include "serial/linesettings.h"
#include "serial/zemserialport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <functional>

#ifndef LUMO_VERSION
#error "LUMO_VERSION is the project version, defined by cmake/install.cmake"
#endif

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const HeadlessProgram program(QStringLiteral("lumo-module"));
    QCoreApplication::setApplicationName(program.name());
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays the Wi-Fi module against an MCU on a serial port: answers the MCU's own frames "
        "and runs the conformance steps (every request of the protocol, each answer "
        "checked).\n"
        "With --replay CAPTURE it plays the module's side of a recording instead and exits 0 "
        "only when every reply matches the recorded one.\n"
        "With --capture FILE the line is recorded as the analyzer window records it; the JUnit "
        "report names the file (a suite property \"capture\" and a line under each failure)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption = HeadlessProgram::portOption(
        QStringLiteral("Serial port to open; any path is taken as it stands (pseudo-terminals "
                       "included), and tcp://HOST:PORT or rfc2217://HOST:PORT opens a port "
                       "served over the network."));
    const QCommandLineOption baudOption = HeadlessProgram::baudOption();
    const QCommandLineOption dataBitsOption = HeadlessProgram::dataBitsOption();
    const QCommandLineOption stopBitsOption = HeadlessProgram::stopBitsOption();
    const QCommandLineOption parityOption = HeadlessProgram::parityOption();
    const QCommandLineOption rootOption = HeadlessProgram::rootOption();
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
                       "control command with a wrong checksum, and check that the MCU still "
                       "answers, but neither answers nor applies the damaged frame."));
    const QCommandLineOption junitOption(QStringLiteral("junit"),
                                         QStringLiteral("Write the JUnit XML report to this file."),
                                         QStringLiteral("file"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Print every frame sent and received."));
    const QCommandLineOption captureOption = HeadlessProgram::captureOption();
    const QCommandLineOption replayOption(
        QStringLiteral("replay"),
        QStringLiteral("Instead of the conformance steps, play the module's requests of this "
                       "capture to the MCU, each after the reply to the one before (or its "
                       "recorded wait), and compare every reply with the recorded one."),
        QStringLiteral("capture"));
    const QCommandLineOption exactOption(
        QStringLiteral("exact"),
        QStringLiteral("With --replay: only replies equal byte for byte pass (otherwise the same "
                       "command, sequence number and length suffice)."));
    const QCommandLineOption speedOption(
        QStringLiteral("replay-speed"),
        QStringLiteral("With --replay: the recorded pauses between requests scaled, 0.1 to 10 "
                       "(default 1), or \"max\": each request as soon as the last reply came."),
        QStringLiteral("factor"), QStringLiteral("1"));
    const QCommandLineOption slackOption(
        QStringLiteral("slack"),
        QStringLiteral("With --replay: how much longer than in the recording a reply may take, "
                       "in milliseconds (default 1000)."),
        QStringLiteral("ms"), QStringLiteral("1000"));
    parser.addOptions({portOption, baudOption, dataBitsOption, stopBitsOption, parityOption,
                       rootOption, keyOption, firmwareOption, limitOption, robustOption,
                       junitOption, verboseOption, captureOption, replayOption, exactOption,
                       speedOption, slackOption});
    if (!program.parse(parser))
        return HeadlessProgram::ExitUsage;

    if (!parser.positionalArguments().isEmpty())
        return program.usage(QStringLiteral("unexpected argument: %1 (see --help)")
                                 .arg(parser.positionalArguments().constFirst()));
    if (!parser.isSet(portOption))
        return program.usage(QStringLiteral("--port PATH is required (see --help)"));

    LineSettings::Settings line;
    QString problem;
    if (!LineSettings::parse(parser.value(baudOption), parser.value(dataBitsOption),
                             parser.value(stopBitsOption), parser.value(parityOption), &line,
                             &problem))
        return program.usage(problem);

    bool ok = false;
    const int limit = parser.value(limitOption).toInt(&ok);
    if (!ok || limit < 1 || limit > 600000)
        return program.usage(QStringLiteral("not a reply limit in milliseconds (1 to 600000): %1")
                                 .arg(parser.value(limitOption)));

    const bool replay = parser.isSet(replayOption);
    for (const QCommandLineOption *conformanceOnly : {&robustOption, &firmwareOption, &keyOption})
        if (replay && parser.isSet(*conformanceOnly))
            return program.usage(QStringLiteral("--%1 is not an option of --replay")
                                     .arg(conformanceOnly->names().constLast()));
    for (const QCommandLineOption *replayOnly : {&exactOption, &speedOption, &slackOption})
        if (!replay && parser.isSet(*replayOnly))
            return program.usage(
                QStringLiteral("--%1 needs --replay").arg(replayOnly->names().constLast()));
    ReplayRegressionOptions replayOptions;
    replayOptions.exact = parser.isSet(exactOption);
    if (parser.value(speedOption) == QLatin1String("max")) {
        replayOptions.speed = 0;
    } else {
        replayOptions.speed = parser.value(speedOption).toDouble(&ok);
        if (!ok || replayOptions.speed < 0.1 || replayOptions.speed > 10)
            return program.usage(QStringLiteral("not a speed (0.1 to 10, or max): %1")
                                     .arg(parser.value(speedOption)));
    }
    replayOptions.slackMs = parser.value(slackOption).toInt(&ok);
    if (!ok || replayOptions.slackMs < 0 || replayOptions.slackMs > 600000)
        return program.usage(QStringLiteral("not a slack in milliseconds (0 to 600000): %1")
                                 .arg(parser.value(slackOption)));
    // The recording, read as the analyzer reads it: its pairs say which
    // reply answered which request.
    CaptureAnalysis recorded(qint64(limit) * 1000);
    if (replay && !recorded.read(parser.value(replayOption)))
        return program.usage(
            QStringLiteral("cannot read %1: %2").arg(parser.value(replayOption), recorded.error()));

    ConformanceOptions options;
    options.replyLimitMs = limit;
    options.robust = parser.isSet(robustOption);
    if (parser.isSet(firmwareOption)) {
        const QFileInfo image(parser.value(firmwareOption));
        if (!image.isFile() || !image.isReadable())
            return program.usage(
                QStringLiteral("cannot read firmware file %1").arg(image.filePath()));
        options.firmwarePath = image.absoluteFilePath();
    }

    if (!program.chooseRoot(parser))
        return HeadlessProgram::ExitUsage;

    const QString junitPath = parser.value(junitOption);
    const bool verbose = parser.isSet(verboseOption);
    // The core's debug lines (the definition fetch, each status report)
    // would mix with the results; --verbose keeps them.
    HeadlessProgram::showCoreDebug(verbose);
    const QString portPath = parser.value(portOption);

    // The program's one settings object, for the key and the store.
    ZemTool tool;
    QString key = parser.value(keyOption).trimmed();
    if (parser.isSet(keyOption)) {
        if (key.isEmpty())
            return program.usage(QStringLiteral("--product-key needs a key"));
        options.expectedProductKey = key;
    } else {
        key = tool.readSetting(SettingKeys::ProductKey);
    }

    AnyLine port;
    // A path typed on the command line is the device meant, listed or not.
    port.port()->setAcceptUnlisted(true);
    // The MCU's bytes come in; the module's requests and answers go out.
    LineRecording recording;
    if (parser.isSet(captureOption)) {
        QString why;
        if (!recording.start(&port, LineDirection::McuToModule, parser.value(captureOption), &why))
            return program.usage(why);
        QObject::connect(&recording, &LineRecording::failed, &app,
                         [&program](const QString &reason) { program.error(reason); });
    }
    DefinitionStore definitions(&tool);
    ConformanceRun *run = nullptr;
    ReplayRegression *regression = nullptr;
    int status = HeadlessProgram::ExitUsage;
    bool portLost = false;

    auto finish = [&](int code) {
        status = code;
        port.closeLine();
        recording.stop();
        QTimer::singleShot(0, &app, [&app, code] { app.exit(code); });
    };

    std::function<void()> beginRun;
    auto startRun = [&](const DataPointDefinition &definition) {
        options.definition = definition;
        if (!port.openLine(portPath, line)) {
            program.cannotOpen(portPath, port.openFailureReason());
            finish(HeadlessProgram::ExitUsage);
            return;
        }
        if (port.isLineConnecting()) {
            // A network line: the run begins once it is connected, so that
            // no step's wait includes the connecting.
            QObject::connect(&port, &Line::Opened, &app, [&] {
                if (!run && status == HeadlessProgram::ExitUsage)
                    beginRun();
            });
            QObject::connect(&port, &Line::OpenFailed, &app, [&](const QString &reason) {
                program.cannotOpen(portPath, reason);
                finish(HeadlessProgram::ExitUsage);
            });
            return;
        }
        beginRun();
    };

    auto beginReplay = [&] {
        regression = new ReplayRegression(&recorded.analyzer(), &port, &app);
        QObject::connect(
            regression, &ReplayRegression::stepFinished, &app,
            [](const ReplayStep &step) { HeadlessProgram::print(ReplayRegression::line(step)); });
        if (verbose) {
            QObject::connect(regression, &ReplayRegression::bytesSent, &app,
                             [](const QByteArray &wire) {
                                 HeadlessProgram::print(QStringLiteral("  > ")
                                                        + ZemTool::hexText(wire).trimmed());
                             });
            QObject::connect(
                regression, &ReplayRegression::frameReceived, &app, [](const QByteArray &f) {
                    HeadlessProgram::print(QStringLiteral("  < ") + ZemTool::hexText(f).trimmed());
                });
        }
        QObject::connect(&port, &Line::Lost, &app,
                         [&](const QString &reason) { program.portLost(portPath, reason); });
        QObject::connect(regression, &ReplayRegression::finished, &app, [&](bool allPassed) {
            ConformanceReport report = regression->report();
            if (recording.isRecording())
                report.setCapturePath(recording.path());
            HeadlessProgram::print(regression->summary());
            int code = allPassed ? HeadlessProgram::ExitOk : HeadlessProgram::ExitFailed;
            if (!junitPath.isEmpty()) {
                QString error;
                if (!report.writeJUnit(junitPath, QStringLiteral("lumo-module replay"), &error)) {
                    program.error(QStringLiteral("cannot write %1: %2").arg(junitPath, error));
                    code = HeadlessProgram::ExitUsage;
                }
            }
            finish(code);
        });
        QString why;
        if (!regression->start(replayOptions, &why)) {
            program.error(QStringLiteral("%1: %2").arg(parser.value(replayOption), why));
            finish(HeadlessProgram::ExitUsage);
            return;
        }
        HeadlessProgram::print(QStringLiteral("%1: %2 at %3 baud, replaying %4 requests of %5")
                                   .arg(program.name(), portPath)
                                   .arg(line.baudRate)
                                   .arg(regression->stepCount())
                                   .arg(parser.value(replayOption)));
    };

    beginRun = [&] {
        if (replay) {
            beginReplay();
            return;
        }
        run = new ConformanceRun(&port, options, &app);
        QObject::connect(run, &ConformanceRun::stepFinished, &app, [](const StepResult &step) {
            HeadlessProgram::print(ConformanceReport::line(step));
        });
        if (verbose) {
            QObject::connect(run, &ConformanceRun::bytesSent, &app, [](const QByteArray &wire) {
                HeadlessProgram::print(QStringLiteral("  > ") + ZemTool::hexText(wire).trimmed());
            });
            QObject::connect(run, &ConformanceRun::frameReceived, &app, [](const QByteArray &f) {
                HeadlessProgram::print(QStringLiteral("  < ") + ZemTool::hexText(f).trimmed());
            });
        }
        QObject::connect(&port, &Line::Lost, &app, [&](const QString &reason) {
            program.portLost(portPath, reason);
            portLost = true;
            run->abort(QStringLiteral("serial port lost: ") + reason);
        });
        QObject::connect(run, &ConformanceRun::finished, &app, [&](bool allPassed) {
            ConformanceReport report = run->report();
            if (recording.isRecording())
                report.setCapturePath(recording.path());
            HeadlessProgram::print(report.summary());
            // A lost port fails the run as a failed step does.
            int code
                = allPassed && !portLost ? HeadlessProgram::ExitOk : HeadlessProgram::ExitFailed;
            if (!junitPath.isEmpty()) {
                QString error;
                if (!report.writeJUnit(junitPath, QStringLiteral("lumo-module"), &error)) {
                    program.error(QStringLiteral("cannot write %1: %2").arg(junitPath, error));
                    code = HeadlessProgram::ExitUsage;
                }
            }
            finish(code);
        });
        HeadlessProgram::print(QStringLiteral("%1: %2 at %3 baud, product key %4, %5 data points")
                                   .arg(program.name(), portPath)
                                   .arg(line.baudRate)
                                   .arg(key.isEmpty() ? QStringLiteral("(none)") : key)
                                   .arg(options.definition.records().size()));
        run->start();
    };

    // A stop ends the run as a failed one, its report still written.
    if (!HeadlessProgram::onStopSignal(&app, [&] {
            if (run && run->isRunning())
                run->abort(QStringLiteral("stopped by a signal"));
            else if (regression && regression->isRunning())
                regression->stop(QStringLiteral("stopped by a signal"));
            else
                finish(HeadlessProgram::ExitFailed);
        })) {
        program.error(QStringLiteral("cannot install the SIGINT/SIGTERM handlers"));
        return HeadlessProgram::ExitUsage;
    }

    // The definition comes from the same store as the simulated-MCU tab's:
    // the cache, and when it lacks the key, the service.
    QObject::connect(
        &definitions, &DefinitionStore::ready, &app,
        [&](const QString &, const DataPointDefinition &definition) { startRun(definition); });
    QObject::connect(
        &definitions, &DefinitionStore::failed, &app,
        [&](const QString &, const QString &reason, bool refused) {
            program.error(refused
                              ? QStringLiteral("the data-point service refused product key %1: %2")
                                    .arg(key, reason)
                              : QStringLiteral("no cached definition for %1 and the "
                                               "service gave none: %2")
                                    .arg(key, reason));
            finish(HeadlessProgram::ExitUsage);
        });
    if (!replay && DefinitionStore::namesProduct(key))
        definitions.obtain(key);
    else
        QTimer::singleShot(0, &app, [&] { startRun(DataPointDefinition()); });
    app.exec();
    return status;
}
