// SPDX-License-Identifier: GPL-3.0-or-later
// lumo-analyze: the analyzer window's judgement of a capture, in a shell.
// It reads a capture (Lumo's own, or any pcap or pcapng of link type 147)
// with the window's analyzer, prints its rows as text or as the window's
// CSV, and exits 1 when a row carries a problem of the chosen kinds, so a
// CI job can fail on a capture.
#include "analyzer/captureanalysis.h"
#include "analyzer/datapointhistory.h"
#include "analyzer/framelistmodel.h"
#include "analyzer/liveanalysis.h"
#include "datapoint/datapointdefinition.h"
#include "datapoint/definitionstore.h"
#include "engine/headlessprogram.h"
#include "protocol/zemtool.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#ifndef LUMO_VERSION
#error "LUMO_VERSION is the project version, defined by cmake/install.cmake"
#endif

namespace {

const HeadlessProgram Program(QStringLiteral("lumo-analyze"));

// A definition file as the service answers it, or the cached definition of
// a product key.
bool loadDefinition(const QString &keyOrFile, ZemTool *settings, DataPointDefinition *out)
{
    if (QFileInfo(keyOrFile).isFile()) {
        QFile file(keyOrFile);
        if (!file.open(QIODevice::ReadOnly)) {
            Program.error(QStringLiteral("cannot read %1: %2").arg(keyOrFile, file.errorString()));
            return false;
        }
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
        if (!doc.isObject()) {
            Program.error(QStringLiteral("%1: not a JSON object: %2")
                              .arg(keyOrFile, parseError.errorString()));
            return false;
        }
        *out = DataPointDefinition::fromJson(doc.object());
        return true;
    }
    DefinitionStore store(settings);
    if (!DefinitionStore::namesProduct(keyOrFile) || !store.load(keyOrFile, out)) {
        Program.error(QStringLiteral("--definition %1 is neither a definition file nor a product "
                                     "key cached in json/ of the program folder")
                          .arg(keyOrFile));
        return false;
    }
    return true;
}

// Why the file gave nothing, in the shell's words.
void cannotRead(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Program.error(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    else
        Program.error(QStringLiteral("%1 is no capture of the line (pcap or pcapng, link type "
                                     "147, packets with Lumo's header)")
                          .arg(path));
}

void warnAboutTail(const CaptureAnalysis &capture, const QString &path)
{
    if (capture.skipped() > 0)
        Program.error(QStringLiteral("warning: %1 packets of %2 are not of Lumo's format and were "
                                     "skipped")
                          .arg(capture.skipped())
                          .arg(path));
    if (capture.untimed() > 0)
        Program.error(QStringLiteral("warning: %1 packets carry no time stamp (pcapng simple "
                                     "packet blocks) and take the time of the packet before")
                          .arg(capture.untimed()));
    if (capture.cutShort())
        Program.error(QStringLiteral("warning: %1 ends inside a packet; read up to the last "
                                     "whole one")
                          .arg(path));
    else if (!capture.readToEnd())
        Program.error(QStringLiteral("warning: the rest of %1 cannot be read").arg(path));
}

// The rows go out through the C library's buffer, not a line at a time: a
// capture of a million rows is read by a pipe at the end, not live.
void writeLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(Program.name());
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Reads a capture of the line (Lumo's own, from the analyzer window, lumo-mcu "
            "--capture or lumo-module --capture, or any pcap or pcapng of link type 147) with "
            "the analyzer of Lumo's window and prints its rows: number, time, direction, command "
            "with its name, sequence number, the pairing with its latency, and the problems, "
            "tab-separated. With --definition, the data-point values of status and control "
            "frames follow by name.\n"
            "Problem kinds: %1.\n"
            "Here status 0 means no row carries a problem of the kinds in --fail-on, 1 that one "
            "does, 2 for a file that cannot be read or bad options.")
            .arg(CaptureAnalysis::kindNames(quint16((1u << FrameProblem::KindCount) - 1))
                     .replace(QLatin1Char(','), QStringLiteral(", "))));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The capture to read."));
    const QCommandLineOption definitionOption(
        QStringLiteral("definition"),
        QStringLiteral("The product's data-point definition: a JSON file as the service answers "
                       "it, or a product key cached in json/ of the program folder."),
        QStringLiteral("key|file"));
    const QCommandLineOption limitOption(
        QStringLiteral("reply-limit"),
        QStringLiteral("A request with no reply within this many milliseconds has no reply "
                       "(default %1, as in the window).")
            .arg(LiveAnalysis::DefaultReplyLimitMs),
        QStringLiteral("ms"), QString::number(LiveAnalysis::DefaultReplyLimitMs));
    const QCommandLineOption csvOption(
        QStringLiteral("csv"),
        QStringLiteral("Print the rows as the analyzer window's CSV export does, same columns."));
    const QCommandLineOption problemsOption(
        QStringLiteral("problems"),
        QStringLiteral("Print only rows with problems, then the number of rows of each kind."));
    const QCommandLineOption failOnOption(
        QStringLiteral("fail-on"),
        QStringLiteral("Comma-separated problem kinds that make the exit status 1, or none "
                       "(default %1).")
            .arg(CaptureAnalysis::kindNames(CaptureAnalysis::DefaultFailOn)),
        QStringLiteral("kinds"), CaptureAnalysis::kindNames(CaptureAnalysis::DefaultFailOn));
    const QCommandLineOption datapointsOption(
        QStringLiteral("datapoints"),
        QStringLiteral("With --definition: print the data-point values over time as CSV, as the "
                       "window's chart exports them: time, row number, direction, kind of frame "
                       "(report, query answer, control), then one column per data point holding "
                       "the value that frame carried. Frames with a bad checksum or length give "
                       "no values."));
    const QCommandLineOption rootOption = HeadlessProgram::rootOption();
    parser.addOptions({definitionOption, limitOption, csvOption, problemsOption, datapointsOption,
                       failOnOption, rootOption});
    if (!Program.parse(parser))
        return HeadlessProgram::ExitUsage;

    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return Program.usage(
            files.isEmpty() ? QStringLiteral("which capture? (see --help)")
                            : QStringLiteral("one capture at a time, not %1").arg(files.size()));
    bool ok = false;
    const int limitMs = parser.value(limitOption).toInt(&ok);
    if (!ok || limitMs < 1 || limitMs > 600000)
        return Program.usage(QStringLiteral("not a reply limit in milliseconds (1 to 600000): %1")
                                 .arg(parser.value(limitOption)));
    const bool datapoints = parser.isSet(datapointsOption);
    if (datapoints && !parser.isSet(definitionOption))
        return Program.usage(QStringLiteral("--datapoints needs --definition"));
    if (datapoints && (parser.isSet(csvOption) || parser.isSet(problemsOption)))
        return Program.usage(QStringLiteral("--datapoints prints its own CSV: not with --csv or "
                                            "--problems"));
    quint16 failOn = 0;
    QString unknown;
    if (!CaptureAnalysis::parseKinds(parser.value(failOnOption), &failOn, &unknown))
        return Program.usage(QStringLiteral("not a problem kind: %1 (see --help)").arg(unknown));

    HeadlessProgram::showCoreDebug(false);
    if (!Program.chooseRoot(parser))
        return HeadlessProgram::ExitUsage;
    // The command names come from the settings file, as in the window.
    ZemTool settings;
    DataPointDefinition definition;
    const bool withDefinition = parser.isSet(definitionOption);
    if (withDefinition && !loadDefinition(parser.value(definitionOption), &settings, &definition))
        return HeadlessProgram::ExitUsage;

    const QString path = files.constFirst();
    CaptureAnalysis capture(qint64(limitMs) * 1000);
    if (!capture.read(path)) {
        cannotRead(path);
        return HeadlessProgram::ExitUsage;
    }
    warnAboutTail(capture, path);

    FrameListModel model;
    model.setDescriptionLookup(
        [tool = &settings](const QString &key) { return tool->readSetting(key); });
    model.reset(&capture.analyzer());
    const bool problemsOnly = parser.isSet(problemsOption);
    if (problemsOnly) {
        FrameListModel::Filter filter;
        filter.problemsOnly = true;
        model.setFilter(filter);
    }
    bool written = true;
    if (datapoints) {
        DataPointHistory history(definition);
        history.addRows(capture.analyzer(), capture.analyzer().firstId(),
                        capture.analyzer().endId());
        QFile out;
        written = out.open(stdout, QIODevice::WriteOnly) && history.writeCsv(&out) && out.flush();
    } else if (parser.isSet(csvOption)) {
        QFile out;
        written = out.open(stdout, QIODevice::WriteOnly) && model.writeCsv(&out) && out.flush();
    } else {
        const DataPointDefinition *values = withDefinition ? &definition : nullptr;
        for (int row = 0; row < model.rowCount(); ++row)
            writeLine(capture.rowLine(model, row, values));
        if (problemsOnly) {
            const QStringList summary = capture.problemSummary();
            writeLine(summary.isEmpty() ? QStringLiteral("no problems")
                                        : summary.join(QLatin1Char('\n')));
        }
        written = fflush(stdout) == 0 && !ferror(stdout);
    }
    if (!written) {
        Program.error(QStringLiteral("cannot write to standard output"));
        return HeadlessProgram::ExitUsage;
    }
    return capture.anyRowWith(failOn) ? HeadlessProgram::ExitFailed : HeadlessProgram::ExitOk;
}
