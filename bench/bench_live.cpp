// SPDX-License-Identifier: GPL-3.0-or-later
// The dual tab with its protocol analyzer under live traffic.
//
// BM_LiveLine: the real dual tab (offscreen, bridge on) between two
// pseudo-terminal pairs. A device thread plays the MCU and the module, each
// streaming frames at 921,600 baud (92,160 bytes a second) at the same time,
// paced every 25 ms. The tab's line taps feed a line monitor; depending on
// the mode the analyzer window is open and a session recording runs.
//
// Measured:
// - lost: bytes that did not arrive at the far device, plus (when recording)
//   bytes whose capture does not match what the devices sent: each
//   direction's packets, concatenated, must give back exactly its stream;
// - loop_lag_p99_ms: how late a 1 ms timer of the GUI thread fires;
// - gui_cpu_%: CPU time of the GUI thread over the run, as a share of one
//   core; the recording's own share is the difference between the runs with
//   and without it (bench_capture measures it directly, per packet);
// - rss_MB: resident memory at the end.
#include "analyzer/duallinetap.h"
#include "analyzer/liveanalysis.h"
#include "analyzerwindow/analyzerwindow.h"
#include "capture/capturereader.h"
#include "capture/linemonitor.h"
#include "capture/sessionrecorder.h"
#include "dual/doublewindow.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// An endless, repeatable stream of frames: the device, the far-end check and
// the capture check each own one with the same seed, so nothing of a long
// run is kept in memory.
class FrameSource
{
public:
    FrameSource(quint32 seed, int maxPayload)
        : m_rng(seed)
        , m_maxPayload(maxPayload)
    { }
    QByteArray take(int n)
    {
        while (m_buffer.size() - m_at < n) {
            m_buffer.remove(0, m_at);
            m_at = 0;
            m_buffer.append(frameStream(4096, m_rng.generate(), m_maxPayload));
        }
        const QByteArray out = m_buffer.mid(m_at, n);
        m_at += n;
        return out;
    }

private:
    QRandomGenerator m_rng;
    int m_maxPayload;
    QByteArray m_buffer;
    int m_at = 0;
};

// Compares arriving bytes with the stream they should be.
struct StreamCheck
{
    StreamCheck(quint32 seed, int maxPayload)
        : expected(seed, maxPayload)
    { }
    FrameSource expected;
    qint64 seen = 0;
    qint64 differing = 0;
    void check(const char *bytes, int n)
    {
        const QByteArray want = expected.take(n);
        for (int i = 0; i < n; ++i)
            if (bytes[i] != want.at(i))
                ++differing;
        seen += n;
    }
};

struct Leg
{
    Leg(quint32 seed, int maxPayload)
        : writer(seed, maxPayload)
        , farEnd(seed, maxPayload)
    { }
    FrameSource writer;
    StreamCheck farEnd;
    qint64 total = 0;
    qint64 written = 0;
    QByteArray unwritten;
};

void devices(PtyPair *mcu, PtyPair *module, Leg *toModule, Leg *toMcu, int perTick, int tickMs,
             int seconds, std::atomic<bool> *done)
{
    struct Way
    {
        int writeFd;
        int readFd;
        Leg *leg;
    } ways[] = {{mcu->masterFd(), module->masterFd(), toModule},
                {module->masterFd(), mcu->masterFd(), toMcu}};
    auto next = Clock::now();
    const auto giveUp = Clock::now() + std::chrono::seconds(seconds + 30);
    char buf[16384];
    for (;;) {
        if (Clock::now() >= next) {
            for (Way &w : ways) {
                Leg &l = *w.leg;
                const qint64 room = l.total - l.written - l.unwritten.size();
                l.unwritten += l.writer.take(int(std::min<qint64>(perTick, room)));
                while (!l.unwritten.isEmpty()) {
                    const ssize_t n
                        = ::write(w.writeFd, l.unwritten.constData(), size_t(l.unwritten.size()));
                    if (n <= 0)
                        break;
                    l.unwritten.remove(0, int(n));
                    l.written += n;
                }
            }
            next += std::chrono::milliseconds(tickMs);
        }
        pollfd fds[2] = {{module->masterFd(), POLLIN, 0}, {mcu->masterFd(), POLLIN, 0}};
        const auto wait
            = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        ::poll(fds, 2, int(std::clamp<qint64>(wait, 0, tickMs)));
        for (Way &w : ways)
            for (;;) {
                const ssize_t n = ::read(w.readFd, buf, sizeof buf);
                if (n <= 0)
                    break;
                w.leg->farEnd.check(buf, int(n));
            }
        const bool allIn
            = toModule->farEnd.seen >= toModule->total && toMcu->farEnd.seen >= toMcu->total;
        if (allIn || Clock::now() > giveUp)
            break;
    }
    done->store(true);
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

double threadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

enum Mode { DualOnly = 0, AnalyzerOpen = 1, AnalyzerAndRecording = 2, RecordingOnly = 3 };

void BM_LiveLine(benchmark::State &state)
{
    const int seconds = int(state.range(0));
    const int maxPayload = int(state.range(1));
    const Mode mode = Mode(state.range(2));
    const int tickMs = 25;
    const int perTick = 2304; // 92,160 bytes a second: 921,600 baud, 10 bits a byte
    for (auto _ : state) {
        TestRoot root;
        PtyPair mcu, module;
        if (mcu.masterFd() < 0 || module.masterFd() < 0) {
            state.SkipWithError("no pseudo-terminals");
            return;
        }
        setExtraPorts({mcu.slavePath(), module.slavePath()});

        DoubleWindow window;
        window.resize(600, 570);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) {
            state.SkipWithError("window not exposed");
            return;
        }
        LineMonitor monitor;
        SessionRecorder recorder;
        DualLineTap *tap = nullptr;
        ZemTool settings;
        LiveAnalysis *live = nullptr;
        AnalyzerWindow *analyzer = nullptr;
        if (mode != DualOnly)
            tap = new DualLineTap(&monitor, window.line1(), window.line2(), &window);
        if (mode == AnalyzerOpen || mode == AnalyzerAndRecording) {
            live = new LiveAnalysis(&monitor, &settings);
            analyzer = new AnalyzerWindow(AnalyzerWindow::Source::Dual, live, &recorder, &settings);
            analyzer->resize(1100, 700);
            analyzer->show();
            if (!QTest::qWaitForWindowExposed(analyzer)) {
                state.SkipWithError("analyzer window not exposed");
                return;
            }
        }
        if (mode == AnalyzerAndRecording || mode == RecordingOnly) {
            QString error;
            if (!recorder.start(&monitor, &error)) {
                state.SkipWithError(qPrintable(error));
                return;
            }
        }

        window.port1()->getComList();
        window.findChild<QComboBox *>(QStringLiteral("com_1"))->setCurrentText(mcu.slavePath());
        window.findChild<QComboBox *>(QStringLiteral("com_2"))->setCurrentText(module.slavePath());
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_open1")),
                          Qt::LeftButton);
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_open2")),
                          Qt::LeftButton);
        if (!window.port1()->isOpen() || !window.port2()->isOpen()) {
            state.SkipWithError("ports did not open");
            return;
        }

        Leg toModule(1, maxPayload), toMcu(2, maxPayload);
        toModule.total = toMcu.total = qint64(perTick) * (1000 / tickMs) * seconds;

        std::vector<double> lagMs;
        QElapsedTimer lagClock;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        qint64 last = 0;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 now = lagClock.nsecsElapsed();
            lagMs.push_back(std::max(0.0, double(now - last) / 1e6 - 1.0));
            last = now;
        });

        std::atomic<bool> done{false};
        const double cpuStart = threadCpuSeconds();
        lagClock.start();
        probe.start();
        const auto start = Clock::now();
        std::thread deviceThread(devices, &mcu, &module, &toModule, &toMcu, perTick, tickMs,
                                 seconds, &done);
        while (!done.load())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        deviceThread.join();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = threadCpuSeconds() - cpuStart;
        probe.stop();
        QTest::qWait(600); // held bytes are handed on after 300 ms of quiet

        qint64 lost = (toModule.total - toModule.farEnd.seen) + toModule.farEnd.differing
            + (toMcu.total - toMcu.farEnd.seen) + toMcu.farEnd.differing;
        if (recorder.isRecording()) {
            recorder.stop();
            // Side 1 is the MCU: what it sent is MCU -> module.
            StreamCheck capturedToModule(1, maxPayload), capturedToMcu(2, maxPayload);
            QString error;
            bool cut = false;
            const bool ok = CaptureReader::read(
                recorder.filePath(),
                [&](const LineSegment &s, const QString &) {
                    StreamCheck &c = s.direction == LineDirection::McuToModule ? capturedToModule
                                                                               : capturedToMcu;
                    c.check(s.wire.constData(), int(s.wire.size()));
                    return true;
                },
                &error, &cut);
            if (!ok)
                qWarning("capture unreadable: %s", qPrintable(error));
            const qint64 captureLost = std::llabs(capturedToModule.seen - toModule.total)
                + capturedToModule.differing + std::llabs(capturedToMcu.seen - toMcu.total)
                + capturedToMcu.differing;
            state.counters["capture_lost"] = double(captureLost);
            state.counters["capture_MB"] = double(QFile(recorder.filePath()).size()) / 1e6;
            lost += captureLost;
        }

        state.counters["lost"] = double(lost);
        state.counters["KB/s_each_way"] = double(toModule.total) / 1000.0 / seconds;
        state.counters["seconds"] = elapsed;
        state.counters["loop_lag_p50_ms"] = percentile(lagMs, 0.5);
        state.counters["loop_lag_p99_ms"] = percentile(lagMs, 0.99);
        state.counters["loop_lag_max_ms"] = percentile(lagMs, 1.0);
        state.counters["gui_cpu_%"] = 100.0 * cpu / elapsed;
        state.counters["rss_MB"] = residentMb();
        window.closeBothPorts();
        delete analyzer;
        delete live;
        delete tap;
        qunsetenv("LUMO_EXTRA_PORTS");
    }
}
// Arguments: seconds, largest payload (0: only 9-byte frames, the most
// packets per byte), mode (0 dual tab alone, 1 analyzer open, 2 analyzer
// open and recording, 3 recording without the window).
BENCHMARK(BM_LiveLine)
    ->Args({10, 291, DualOnly})
    ->Args({10, 291, AnalyzerOpen})
    ->Args({10, 291, AnalyzerAndRecording})
    ->Args({10, 291, RecordingOnly})
    ->Args({10, 0, DualOnly})
    ->Args({10, 0, AnalyzerOpen})
    ->Args({10, 0, AnalyzerAndRecording})
    ->Args({10, 0, RecordingOnly})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

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
