// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated-MCU tab's reply latency with all three ports of the main
// window alive (the MCU tab's and the dual tab's two), while a module on
// its own thread streams 1 000 heartbeats a second through a real
// pseudo-terminal and 100 000 transfers are already logged. The peer times
// each request from its write to the reply's arrival; a 1 ms timer on the
// GUI thread records the longest gap of the event loop (a stall).
#include "testsupport.h"

#include "mcu/mcuwindow.h"
#include "mcu/trafficlog.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <poll.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray heartbeat(int sequence)
{
    QByteArray f = hex("FFFF0005 07 00 0000 00");
    f[5] = char(sequence);
    ZemTool::setFrameChecksum(f);
    return f;
}

// Plays the module for `frames` requests, one a millisecond, on the pty's
// master; appends each reply's latency in milliseconds.
void streamRequests(int masterFd, int frames, std::vector<double> *latencies)
{
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> sentAt(128);
    std::vector<bool> pending(128, false);
    QByteArray in;
    const Clock::time_point start = Clock::now();
    int sent = 0;
    int answered = 0;
    while (answered < frames) {
        const Clock::time_point now = Clock::now();
        if (now - start > std::chrono::milliseconds(frames + 5000))
            break; // replies lost: give up rather than hang
        if (sent < frames && now >= start + std::chrono::milliseconds(sent)) {
            const int seq = sent & 0x7F;
            if (pending[size_t(seq)]) {
                // Unanswered for 128 ms: counted with what it waited so far.
                latencies->push_back(
                    std::chrono::duration<double, std::milli>(now - sentAt[size_t(seq)]).count());
                ++answered;
            }
            const QByteArray request = heartbeat(seq);
            sentAt[size_t(seq)] = Clock::now();
            pending[size_t(seq)] = true;
            if (::write(masterFd, request.constData(), size_t(request.size())) > 0)
                ++sent;
        }
        pollfd pfd{masterFd, POLLIN, 0};
        if (::poll(&pfd, 1, 0) <= 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            continue;
        }
        char buf[4096];
        const ssize_t n = ::read(masterFd, buf, sizeof buf);
        if (n <= 0)
            continue;
        const Clock::time_point arrived = Clock::now();
        in.append(buf, int(n));
        // The reply to a heartbeat: FF FF 00 05 08 <sequence> ...
        static const QByteArray head("\xFF\xFF\x00\x05\x08", 5);
        int at = 0;
        int from;
        while ((from = in.indexOf(head, at)) >= 0 && from + 5 < in.size()) {
            const int seq = int(quint8(in.at(from + 5))) & 0x7F;
            if (pending[size_t(seq)]) {
                pending[size_t(seq)] = false;
                latencies->push_back(
                    std::chrono::duration<double, std::milli>(arrived - sentAt[size_t(seq)])
                        .count());
                ++answered;
            }
            at = from + 6;
        }
        in.remove(0, std::max(at, int(in.size()) - 5));
    }
}

qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The longest gap of the GUI thread's event loop, and the CPU time the
// thread itself used within it: a gap mostly without CPU is the machine
// running something else, one full of CPU is the program's own work.
struct Stall
{
    qint64 wallNs = 0;
    qint64 cpuNs = 0;
};

// Runs the event loop until the peer has made `frames` requests; returns
// the round's latencies and raises *stall to the longest loop gap.
std::vector<double> streamRound(int masterFd, int frames, Stall *stall)
{
    std::atomic<bool> done{false};
    std::vector<double> round;
    std::thread peer([&] {
        streamRequests(masterFd, frames, &round);
        done = true;
    });
    QEventLoop loop;
    QElapsedTimer gap;
    gap.start();
    qint64 cpuAt = threadCpuNs();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const qint64 cpu = threadCpuNs();
        if (gap.nsecsElapsed() > stall->wallNs)
            *stall = {gap.nsecsElapsed(), cpu - cpuAt};
        gap.restart();
        cpuAt = cpu;
        if (done)
            loop.quit();
    });
    tick.start();
    loop.exec();
    peer.join();
    return round;
}

void report(benchmark::State &state, std::vector<double> &latencies, const Stall &stall)
{
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        state.counters["p50_ms"] = latencies[latencies.size() / 2];
        state.counters["p99_ms"] = latencies[latencies.size() * 99 / 100];
        state.counters["max_ms"] = latencies.back();
    }
    state.counters["stall_ms"] = double(stall.wallNs) / 1e6;
    state.counters["stall_cpu_ms"] = double(stall.cpuNs) / 1e6;
}

// The floor the machine sets: a bare port on the GUI thread answering each
// heartbeat at once, no window, no log, no other port.
void BM_ReplyLatencyBarePort(benchmark::State &state)
{
    PtyPair pty;
    setExtraPorts({pty.slavePath()});
    ZemSerialPort port;
    if (!port.Open(pty.slavePath(), QStringLiteral("115200"), 3, 0, 0)) {
        state.SkipWithError("cannot open pty");
        return;
    }
    QByteArray in;
    QObject::connect(&port, &ZemSerialPort::DataReady, &port, [&](const QByteArray &chunk) {
        in += chunk;
        static const QByteArray head("\xFF\xFF\x00\x05\x07", 5);
        int at = 0;
        int from;
        while ((from = in.indexOf(head, at)) >= 0 && from + 5 < in.size()) {
            QByteArray reply = hex("FFFF0005 08 00 0000 00");
            reply[5] = in.at(from + 5);
            ZemTool::setFrameChecksum(reply);
            port.write(reply);
            at = from + 6;
        }
        in.remove(0, std::max(at, int(in.size()) - 5));
    });
    std::vector<double> latencies;
    Stall stall;
    for (auto _ : state) {
        const std::vector<double> round = streamRound(pty.masterFd(), 1000, &stall);
        latencies.insert(latencies.end(), round.begin(), round.end());
    }
    report(state, latencies, stall);
}
BENCHMARK(BM_ReplyLatencyBarePort)->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_ReplyLatencyThreePorts(benchmark::State &state)
{
    TestRoot root;
    PtyPair pty;
    setExtraPorts({pty.slavePath()});
    ZemTool settings;
    McuWindow window(&settings);
    ZemSerialPort dual1; // the dual tab's two ports, watching the list as well
    ZemSerialPort dual2;
    window.show();
    const QByteArray logged = hex("FFFF000A0D010000 0B21 AABBCC 00");
    for (int i = 0; i < int(state.range(0)); ++i)
        window.fromFramer(logged);
    window.findChild<TrafficLog *>("listWidget")->flush();
    QCoreApplication::processEvents();
    if (!window.port()->Open(pty.slavePath(), QStringLiteral("115200"), 3, 0, 0)) {
        state.SkipWithError("cannot open pty");
        return;
    }

    std::vector<double> latencies;
    Stall stall;
    for (auto _ : state) {
        const std::vector<double> round = streamRound(pty.masterFd(), 1000, &stall);
        latencies.insert(latencies.end(), round.begin(), round.end());
    }
    report(state, latencies, stall);
    state.counters["log items"] = window.findChild<TrafficLog *>("listWidget")->count();
}
// One iteration is one second of streaming.
BENCHMARK(BM_ReplyLatencyThreePorts)
    ->Arg(0)
    ->Arg(100000)
    ->Iterations(10)
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
