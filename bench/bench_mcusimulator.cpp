// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated MCU's whole road for a burst of module requests on a real
// pseudo-terminal: framing, the responder, the status answer built from the
// data-point values, escaping, writing and the log line. The cost per request
// should not grow with the burst.
#include "testsupport.h"

#include "engine/mcusimulator.h"
#include "protocol/settingkeys.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>

#include <benchmark/benchmark.h>

namespace {

const QString SampleKey = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");

void burst(benchmark::State &state, const QByteArray &request)
{
    TestRoot root;
    ZemTool().writeSetting(SettingKeys::ProductKey, SampleKey);
    QFile::copy(QStringLiteral(LUMO_TEST_DATA) + QStringLiteral("/smart-lamp.json"),
                root.file(QStringLiteral("json/") + SampleKey + QStringLiteral(".json")));
    PtyPair pty;
    ZemTool settings;
    McuSimulator sim(&settings);
    sim.port()->setAcceptUnlisted(true);
    sim.loadDefinition();
    qint64 logLines = 0;
    QObject::connect(&sim, &McuSimulator::transferred,
                     [&logLines](const McuTransfer &) { logLines += 2; });
    if (!sim.openPort(pty.slavePath(),
                      LineSettings::fromFormIndexes(QStringLiteral("115200"), 3, 0, 0))) {
        state.SkipWithError("port did not open");
        return;
    }
    const int count = int(state.range(0));
    QByteArray wire;
    for (int i = 0; i < count; ++i)
        wire += ZemTool::escape(request);

    ZemFramer module;
    int answers = 0;
    QObject::connect(&module, &ZemFramer::LineDataReady,
                     [&answers](const QByteArray &) { ++answers; });
    for (auto _ : state) {
        answers = 0;
        pty.write(wire);
        QElapsedTimer clock;
        clock.start();
        while (answers < count && clock.elapsed() < 10000)
            module.dataToV4(pty.read(1, 20));
        if (answers < count) {
            state.SkipWithError("requests went unanswered");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
    benchmark::DoNotOptimize(logLines);
}

void BM_SimulatorStatusReads(benchmark::State &state)
{
    burst(state, makeFrame(0x03, 0x21, hex("02")));
}
BENCHMARK(BM_SimulatorStatusReads)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);

void BM_SimulatorHeartbeats(benchmark::State &state)
{
    burst(state, makeFrame(0x07, 0x21));
}
BENCHMARK(BM_SimulatorHeartbeats)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The status report is written to the debug log each time it is built.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
