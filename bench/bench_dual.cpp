// SPDX-License-Identifier: GPL-3.0-or-later
// The dual tab under load.
//
// BM_DisplayRule*: the pure display rule (hex text and timestamped lines) on a
// realistic frame stream, and the same text going into a receive box.
//
// BM_BridgeStreaming: the real window (offscreen) with two pseudo-terminal
// pairs; a device thread plays the MCU and the module, both streaming frames
// at about 92 KB/s (921600 baud) at the same time, for 10 seconds. Measured: whether every
// forwarded byte arrives intact and in order, the forwarding latency (write
// on one device to arrival at the other) and how late a 5 ms timer of the
// GUI thread fires (event-loop delay).
#include "bridge/dualdisplay.h"
#include "dual/doublewindow.h"
#include "dual/receivebox.h"
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
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <thread>
#include <vector>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const QString Stamp = QStringLiteral("12:34:56.789");

void BM_DisplayRule(benchmark::State &state)
{
    const QByteArray stream = frameStream(4 << 20, 42);
    const int chunk = int(state.range(0));
    qint64 chars = 0;
    for (auto _ : state) {
        QByteArray held;
        for (int at = 0; at < stream.size(); at += chunk) {
            const QString text = DualDisplay::takeChunk(
                held,
                QByteArray::fromRawData(stream.constData() + at, qMin(chunk, stream.size() - at)),
                false, Stamp);
            chars += text.size();
        }
        chars += DualDisplay::flush(held).size();
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
    state.counters["chars/byte"] = double(chars) / double(state.iterations() * stream.size());
}
BENCHMARK(BM_DisplayRule)->Arg(64)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond);

// Rule plus the box: what one side costs the GUI thread per received byte
// (layout included, painting not). Second argument: largest payload; with
// 0 every frame is 9 bytes, so the line limit, not the character limit,
// trims the box.
void BM_DisplayRuleIntoBox(benchmark::State &state)
{
    const QByteArray stream = frameStream(1 << 20, 43, int(state.range(1)));
    const int chunk = int(state.range(0));
    ReceiveBox box;
    box.resize(290, 226);
    QByteArray held;
    for (auto _ : state) {
        for (int at = 0; at < stream.size(); at += chunk) {
            box.addText(DualDisplay::takeChunk(
                held,
                QByteArray::fromRawData(stream.constData() + at, qMin(chunk, stream.size() - at)),
                false, Stamp));
            box.drawNow();
        }
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
    state.counters["boxChars"] = box.document()->characterCount();
    state.counters["boxLines"] = box.document()->blockCount();
}
BENCHMARK(BM_DisplayRuleIntoBox)
    ->Args({256, 291})
    ->Args({4096, 291})
    ->Args({256, 0})
    ->Args({4096, 0})
    ->Unit(benchmark::kMillisecond);

// --- Streaming through the real window ------------------------------------

// An endless, repeatable stream of frames: the writer and the checker each
// own one with the same seed, so nothing of a long run is kept in memory.
class FrameSource
{
public:
    FrameSource(quint32 seed, int maxPayload)
        : m_rng(seed)
        , m_maxPayload(maxPayload)
    { }
    // The next n bytes of the stream.
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

// One direction as the device thread sees it: what it writes into one pty
// and what arrives at the other, checked byte for byte as it arrives.
struct Direction
{
    Direction(quint32 seed, int maxPayload)
        : writer(seed, maxPayload)
        , checker(seed, maxPayload)
    { }
    FrameSource writer;
    FrameSource checker;
    qint64 total = 0; // bytes to send in all
    qint64 written = 0;
    QByteArray unwritten; // taken from the writer, not accepted by the pty yet
    qint64 received = 0;
    qint64 mismatched = 0; // received bytes that differ from what was sent
    std::deque<std::pair<qint64, Clock::time_point>> marks; // end offset, write time
    std::vector<double> latencyMs;

    void arrived(const char *bytes, int n, Clock::time_point now)
    {
        const QByteArray expected = checker.take(n);
        for (int i = 0; i < n; ++i)
            if (bytes[i] != expected.at(i))
                ++mismatched;
        received += n;
        while (!marks.empty() && received >= marks.front().first) {
            latencyMs.push_back(
                std::chrono::duration<double, std::milli>(now - marks.front().second).count());
            marks.pop_front();
        }
    }
};

// Resident memory of the process in MB (VmRSS), or 0 if unknown.
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

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

void readAvailable(int fd, Direction &d, Clock::time_point now)
{
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return;
        d.arrived(buf, int(n), now);
    }
}

// Paces writes of `perTick` bytes every `tickMs` to both devices, reads what
// the bridge forwards, and stops when everything arrived or time is up.
void deviceThread(PtyPair *mcu, PtyPair *module, Direction *toModule, Direction *toMcu, int perTick,
                  int tickMs, int seconds, std::atomic<bool> *done)
{
    struct Leg
    {
        int writeFd;
        int readFd;
        Direction *d;
    } legs[] = {{mcu->masterFd(), module->masterFd(), toModule},
                {module->masterFd(), mcu->masterFd(), toMcu}};
    auto next = Clock::now();
    const auto giveUp = Clock::now() + std::chrono::seconds(seconds + 30);
    for (;;) {
        if (Clock::now() >= next) {
            for (Leg &leg : legs) {
                Direction &d = *leg.d;
                const qint64 room = d.total - d.written - d.unwritten.size();
                d.unwritten += d.writer.take(int(std::min<qint64>(perTick, room)));
                while (!d.unwritten.isEmpty()) {
                    const ssize_t n
                        = ::write(leg.writeFd, d.unwritten.constData(), size_t(d.unwritten.size()));
                    if (n <= 0)
                        break; // pty full: the rest goes with the next tick
                    d.unwritten.remove(0, int(n));
                    d.written += n;
                    d.marks.emplace_back(d.written, Clock::now());
                }
            }
            next += std::chrono::milliseconds(tickMs);
        }
        pollfd fds[2] = {{module->masterFd(), POLLIN, 0}, {mcu->masterFd(), POLLIN, 0}};
        const auto wait
            = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        ::poll(fds, 2, int(std::clamp<qint64>(wait, 0, tickMs)));
        const auto arrival = Clock::now();
        for (Leg &leg : legs)
            readAvailable(leg.readFd, *leg.d, arrival);
        const bool allIn = toModule->received >= toModule->total && toMcu->received >= toMcu->total;
        if (allIn || Clock::now() > giveUp)
            break;
    }
    done->store(true);
}

void BM_BridgeStreaming(benchmark::State &state)
{
    const int seconds = int(state.range(0));
    const int maxPayload = int(state.range(1));
    const int tickMs = 10;
    const int perTick = 920; // 92 000 bytes a second each way
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
        auto *port1 = window.findChild<ZemSerialPort *>(QStringLiteral("port_1"));
        auto *port2 = window.findChild<ZemSerialPort *>(QStringLiteral("port_2"));
        port1->getComList();
        window.findChild<QComboBox *>(QStringLiteral("com_1"))->setCurrentText(mcu.slavePath());
        window.findChild<QComboBox *>(QStringLiteral("com_2"))->setCurrentText(module.slavePath());
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_open1")),
                          Qt::LeftButton);
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_open2")),
                          Qt::LeftButton);
        if (!port1->isOpen() || !port2->isOpen()) {
            state.SkipWithError("ports did not open");
            return;
        }

        Direction toModule(1, maxPayload), toMcu(2, maxPayload);
        toModule.total = toMcu.total = qint64(perTick) * (1000 / tickMs) * seconds;

        // Event-loop delay: how late a 5 ms timer fires on the GUI thread.
        std::vector<double> lagMs;
        QElapsedTimer lagClock;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(5);
        qint64 last = 0;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 now = lagClock.nsecsElapsed();
            lagMs.push_back(double(now - last) / 1e6 - 5.0);
            last = now;
        });

        std::atomic<bool> done{false};
        lagClock.start();
        probe.start();
        const auto start = Clock::now();
        std::thread devices(deviceThread, &mcu, &module, &toModule, &toMcu, perTick, tickMs,
                            seconds, &done);
        // Resident memory, sampled every second once the boxes have filled
        // up (after the first third of the run): a steady range, not a
        // climb, is what a long session needs.
        double rssMin = 0, rssMax = 0;
        auto nextSample = start + std::chrono::seconds(std::max(1, seconds / 3));
        while (!done.load()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (Clock::now() >= nextSample) {
                const double rss = residentMb();
                rssMin = rssMin == 0 ? rss : std::min(rssMin, rss);
                rssMax = std::max(rssMax, rss);
                nextSample += std::chrono::seconds(1);
            }
        }
        devices.join();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        probe.stop();
        // Let the flush timers print the held bytes.
        QTest::qWait(600);

        const bool intact = toModule.received == toModule.total && toMcu.received == toMcu.total
            && toModule.mismatched == 0 && toMcu.mismatched == 0;
        std::vector<double> latency = toModule.latencyMs;
        latency.insert(latency.end(), toMcu.latencyMs.begin(), toMcu.latencyMs.end());

        state.counters["intact"] = intact ? 1 : 0;
        state.counters["KB/s_each_way"] = double(toModule.total) / 1000.0 / seconds;
        state.counters["seconds"] = elapsed;
        state.counters["fwd_lat_p50_ms"] = percentile(latency, 0.5);
        state.counters["fwd_lat_p99_ms"] = percentile(latency, 0.99);
        state.counters["fwd_lat_max_ms"] = percentile(latency, 1.0);
        state.counters["loop_lag_p50_ms"] = percentile(lagMs, 0.5);
        state.counters["loop_lag_p99_ms"] = percentile(lagMs, 0.99);
        state.counters["loop_lag_max_ms"] = percentile(lagMs, 1.0);
        const auto *rec1 = window.findChild<QTextEdit *>(QStringLiteral("textEdit_rec1"));
        state.counters["box1_chars"] = rec1->document()->characterCount();
        state.counters["box1_lines"] = rec1->document()->blockCount();
        state.counters["rss_min_MB"] = rssMin;
        state.counters["rss_max_MB"] = rssMax;
        if (!intact) {
            qWarning("forwarded bytes: to module %lld of %lld (%lld differ), to MCU %lld of %lld "
                     "(%lld differ)",
                     toModule.received, toModule.total, toModule.mismatched, toMcu.received,
                     toMcu.total, toMcu.mismatched);
        }
        window.closeBothPorts();
        qunsetenv("LUMO_EXTRA_PORTS");
    }
}
// Arguments: seconds of streaming, largest payload (0: only 9-byte frames,
// the most lines per byte).
BENCHMARK(BM_BridgeStreaming)
    ->Args({10, 291})
    ->Args({10, 0})
    ->Args({120, 291})
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
