// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the simulated module's work per frame: answering the MCU's own
// frames, checking an answer against the bytes received with it, building a
// control command and reading the status back, and writing the JUnit report.
#include "testsupport.h"

#include "datapoint/datapointvalues.h"
#include "module/conformancereport.h"
#include "module/modulerequests.h"
#include "module/moduleresponder.h"
#include "module/replycheck.h"
#include "protocol/zemtool.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <benchmark/benchmark.h>

namespace {

DataPointDefinition sampleDefinition()
{
    QFile file(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"));
    file.open(QIODevice::ReadOnly);
    return DataPointDefinition::fromJson(QJsonDocument::fromJson(file.readAll()).object());
}

void BM_AnswerStatusReport(benchmark::State &state)
{
    const QByteArray report = DataPointValues(sampleDefinition()).statusReport();
    for (auto _ : state)
        benchmark::DoNotOptimize(ModuleResponder::reply(report));
}
BENCHMARK(BM_AnswerStatusReport);

void BM_AnswerTimeRequest(benchmark::State &state)
{
    const QByteArray request = makeFrame(0x17, 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(ModuleResponder::reply(request));
}
BENCHMARK(BM_AnswerTimeRequest);

// An answer found at the end of the bytes received since the request: the
// check is linear in what arrived (noise, reports of the MCU's own).
void BM_CheckAnswer(benchmark::State &state)
{
    const QByteArray answer = makeFrame(0x08, 7, QByteArray(4, '\xFF'));
    QByteArray wire = frameStream(int(state.range(0)), 7);
    wire.append(ZemTool::escape(answer));
    for (auto _ : state)
        benchmark::DoNotOptimize(ReplyCheck::frame(answer, wire, 0x08, 7));
    state.SetBytesProcessed(qint64(state.iterations()) * wire.size());
}
BENCHMARK(BM_CheckAnswer)->Range(64, 256 << 10);

// One control step's own work: the command, what it sets, and the check of
// the status answer.
void BM_ControlStep(benchmark::State &state)
{
    const DataPointDefinition def = sampleDefinition();
    const int record = def.indexOf(QStringLiteral("色温"));
    const ModuleRequests::ControlValue value = ModuleRequests::testValues(def, record).at(1);
    DataPointValues values(def);
    for (auto _ : state) {
        const QByteArray control = ModuleRequests::controlFrame(def, 3, value);
        values.applyControl(control);
        const QByteArray report = values.statusReport();
        benchmark::DoNotOptimize(ReplyCheck::reportsValues(
            report, def, {{QStringLiteral("色温"), QStringLiteral("6500")}}));
    }
}
BENCHMARK(BM_ControlStep);

void BM_JUnitReport(benchmark::State &state)
{
    ConformanceReport report;
    for (int i = 0; i < state.range(0); ++i) {
        StepResult step;
        step.name = QStringLiteral("step %1").arg(i);
        step.outcome = i % 7 ? StepResult::Outcome::Passed : StepResult::Outcome::Failed;
        step.reason = step.failed() ? QStringLiteral("checksum 0x12, expected 0x13") : QString();
        step.frames << QStringLiteral("> FF FF 00 05 07 01 00 00 0D")
                    << QStringLiteral("< FF FF 00 05 08 01 00 00 0E");
        report.add(step);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(report.junitXml(QStringLiteral("lumo-module")));
    state.SetItemsProcessed(qint64(state.iterations()) * state.range(0));
}
BENCHMARK(BM_JUnitReport)->Range(16, 4096);

void quiet(QtMsgType, const QMessageLogContext &, const QString &) { }

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quiet); // the status report writes a debug line each time
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
