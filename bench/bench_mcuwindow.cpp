// SPDX-License-Identifier: GPL-3.0-or-later
// Responsiveness of the simulated-MCU tab under a module that sends
// continuously: the cost of logging a frame with 100 and with 100 000
// transfers already logged, and the time from a request's last byte on the line to
// the reply's arrival, through a real pseudo-terminal, while the module
// streams 1 000 frames a second.
#include "testsupport.h"

#include "mcu/mcuwindow.h"
#include "mcu/trafficlog.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

QByteArray heartbeat(int sequence)
{
    QByteArray f = hex("FFFF0005 07 00 0000 00");
    f[5] = char(sequence);
    ZemTool::setFrameChecksum(f);
    return f;
}

void fillLog(McuWindow &window, int transfers)
{
    const QByteArray frame = hex("FFFF000A0D010000 0B21 AABBCC 00");
    for (int i = 0; i < transfers; ++i)
        window.fromFramer(frame);
    window.findChild<TrafficLog *>("listWidget")->flush();
    QCoreApplication::processEvents();
}

// Logging received frames (header and hex line each) into a log that
// already holds range(0) transfers: one iteration is what a module sending
// 1 000 frames a second delivers between two log batches (100 frames), then
// the batch is inserted, the view scrolled and painted. items_per_second is
// the log's capacity in frames per second; the cost per iteration should be
// the same at 100 and at 100 000 logged transfers.
void BM_LogFrames(benchmark::State &state)
{
    TestRoot root;
    ZemTool settings;
    McuWindow window(&settings);
    window.show();
    fillLog(window, int(state.range(0)));
    auto *log = window.findChild<TrafficLog *>("listWidget");
    const QByteArray frame = hex("FFFF000A0D010000 0B21 AABBCC 00");
    constexpr int FramesPerBatch = 100;
    for (auto _ : state) {
        for (int i = 0; i < FramesPerBatch; ++i)
            window.fromFramer(frame);
        log->flush();
        QCoreApplication::processEvents();
        if (log->count() > 2 * state.range(0) + 2000) {
            // Back to the size under test (a full log stays full by itself).
            state.PauseTiming();
            window.clearLog();
            fillLog(window, int(state.range(0)));
            state.ResumeTiming();
        }
    }
    state.counters["log items"] = log->count();
    state.SetItemsProcessed(state.iterations() * FramesPerBatch);
}
BENCHMARK(BM_LogFrames)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

// Request -> reply latency through a pty while the module also streams
// background frames at about 1 000 frames a second, with range(0) transfers
// already logged. With none logged it shows what the machine itself adds.
void BM_ReplyLatencyUnderLoad(benchmark::State &state)
{
    TestRoot root;
    PtyPair pty;
    setExtraPorts({pty.slavePath()});
    ZemTool settings;
    McuWindow window(&settings);
    window.show();
    fillLog(window, int(state.range(0)));
    if (!window.findChild<ZemSerialPort *>("mcuPort")->Open(pty.slavePath(),
                                                            QStringLiteral("115200"), 3, 0, 0)) {
        state.SkipWithError("cannot open pty");
        return;
    }
    std::vector<double> latencies;
    int sequence = 0;
    QElapsedTimer streamClock;
    streamClock.start();
    qint64 backgroundSent = 0;
    for (auto _ : state) {
        // Background: keep up a 1 000 frames/s stream of Wi-Fi status frames.
        const qint64 due = streamClock.elapsed() - backgroundSent;
        QByteArray background;
        for (qint64 i = 0; i < due; ++i)
            background += hex("FFFF0007 0D 00 0000 0B21 00");
        backgroundSent += due;
        pty.write(background);
        pty.readFor(1); // drain the replies to the background frames

        sequence = (sequence + 1) & 0x7F;
        const QByteArray request = heartbeat(sequence);
        QElapsedTimer clock;
        clock.start();
        pty.write(request);
        QByteArray got;
        // Wait for our heartbeat's reply (command 08 with our sequence).
        const QByteArray needle = QByteArray("\x08") + char(sequence);
        while (!got.contains(needle) && clock.elapsed() < 2000)
            got += pty.read(1, 1);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        latencies.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
    }
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        state.counters["p50_ms"] = latencies[latencies.size() / 2];
        state.counters["p99_ms"] = latencies[latencies.size() * 99 / 100];
        state.counters["max_ms"] = latencies.back();
    }
    state.counters["background_frames"] = double(backgroundSent);
    state.counters["log items"] = window.findChild<TrafficLog *>("listWidget")->count();
}
BENCHMARK(BM_ReplyLatencyUnderLoad)
    ->Arg(0)
    ->Arg(100000)
    ->UseManualTime()
    ->Iterations(2000)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
