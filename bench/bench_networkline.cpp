// SPDX-License-Identifier: GPL-3.0-or-later
// Lines served over the network, on loopback through a real ser2net with a
// pseudo-terminal behind it.
// - The simulated MCU's reply time at 1,000 requests a second, over a local
//   pty and over tcp:// and rfc2217:// lines to the same kind of pty: the
//   network may add at most a millisecond at the 99th percentile.
// - The bridge between a local and a network line carrying two 921,600-baud
//   streams at once (92,160 bytes a second each way): every byte arrives,
//   in order.
#include "ser2netserver.h"
#include "testsupport.h"

#include "bridge/linebridge.h"
#include "engine/mcusimulator.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/anyline.h"
#include "serial/zemserialport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <vector>

namespace {

enum LineKind { LocalPty, RawTcp, Rfc2217 };

// Reads what `fd` has now, appending it to `into`.
void drain(int fd, QByteArray *into)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return;
        into->append(buffer, int(n));
    }
}

// Opens `line` at `address` and runs the event loop until it is ready.
bool openAndWait(Line *line, const QString &address)
{
    if (!line->openLine(address, LineSettings::fromFormIndexes(QStringLiteral("115200"), 3, 0, 0)))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (line->isLineConnecting() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return line->isLineOpen() && !line->isLineConnecting();
}

void BM_ReplyLatency(benchmark::State &state)
{
    const auto kind = LineKind(state.range(0));
    TestRoot root;
    PtyPair pty;
    Ser2netServer served(pty.slavePath());
    QString problem;
    if (kind != LocalPty && !served.start(&problem)) {
        state.SkipWithError(problem.toUtf8().constData());
        return;
    }
    ZemTool settings;
    McuSimulator sim(&settings);
    sim.port()->setAcceptUnlisted(true);
    const QString address = kind == LocalPty ? pty.slavePath()
        : kind == RawTcp                     ? served.rawAddress()
                                             : served.telnetAddress();
    if (!openAndWait(sim.line(), address)) {
        state.SkipWithError("line did not open");
        return;
    }
    const QByteArray request = ZemTool::escape(makeFrame(0x07, 0x21));
    ZemFramer module;
    int answers = 0;
    QObject::connect(&module, &ZemFramer::LineDataReady,
                     [&answers](const QByteArray &) { ++answers; });
    std::vector<qint64> latencies;
    const int count = 2000;
    latencies.reserve(count);
    for (auto _ : state) {
        latencies.clear();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < count; ++i) {
            // One request a millisecond, each waited for.
            while (clock.nsecsElapsed() < qint64(i) * 1000000)
                QCoreApplication::processEvents(QEventLoop::AllEvents);
            const int before = answers;
            const qint64 sent = clock.nsecsElapsed();
            pty.write(request);
            QByteArray reply;
            while (answers == before && clock.nsecsElapsed() - sent < 1000000000LL) {
                QCoreApplication::processEvents(QEventLoop::AllEvents);
                reply.clear();
                drain(pty.masterFd(), &reply);
                if (!reply.isEmpty())
                    module.dataToV4(reply);
            }
            if (answers == before) {
                state.SkipWithError("a request went unanswered");
                return;
            }
            latencies.push_back(clock.nsecsElapsed() - sent);
        }
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["p50_us"] = double(latencies[latencies.size() / 2]) / 1000.0;
    state.counters["p99_us"] = double(latencies[latencies.size() * 99 / 100]) / 1000.0;
    state.counters["max_us"] = double(latencies.back()) / 1000.0;
}
BENCHMARK(BM_ReplyLatency)
    ->ArgName("line")
    ->Arg(LocalPty)
    ->Arg(RawTcp)
    ->Arg(Rfc2217)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_BridgeLocalToNetwork(benchmark::State &state)
{
    TestRoot root;
    PtyPair mcu;    // the local line's device
    PtyPair module; // the device behind the served port
    Ser2netServer served(module.slavePath());
    QString problem;
    if (!served.start(&problem)) {
        state.SkipWithError(problem.toUtf8().constData());
        return;
    }
    AnyLine local;
    local.port()->setAcceptUnlisted(true);
    AnyLine remote;
    if (!openAndWait(&local, mcu.slavePath()) || !openAndWait(&remote, served.telnetAddress())) {
        state.SkipWithError("a line did not open");
        return;
    }
    LineBridge bridge(&local, &remote);
    bridge.setOn(true);

    // 921,600 baud with 8N1 is 92,160 bytes a second: 92 bytes each
    // millisecond, FF-rich so that the Telnet doubling is exercised.
    const int seconds = 3;
    const int perMs = 92;
    QByteArray pattern;
    for (int i = 0; i < 251; ++i)
        pattern.append(char(i % 3 == 0 ? 0xFF : i));
    QByteArray toModule, toMcu, atModule, atMcu;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        for (int ms = 0; ms < seconds * 1000; ++ms) {
            while (clock.nsecsElapsed() < qint64(ms) * 1000000) {
                QCoreApplication::processEvents(QEventLoop::AllEvents);
                drain(module.masterFd(), &atModule);
                drain(mcu.masterFd(), &atMcu);
            }
            QByteArray a, b;
            for (int i = 0; i < perMs; ++i) {
                a.append(pattern.at((toModule.size() + i) % pattern.size()));
                b.append(pattern.at((toMcu.size() + i * 7) % pattern.size()));
            }
            toModule += a;
            toMcu += b;
            mcu.write(a);
            module.write(b);
        }
        QElapsedTimer tail;
        tail.start();
        while ((atModule.size() < toModule.size() || atMcu.size() < toMcu.size())
               && tail.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            drain(module.masterFd(), &atModule);
            drain(mcu.masterFd(), &atMcu);
        }
    }
    if (atModule != toModule || atMcu != toMcu)
        state.SkipWithError("bytes were lost or changed on the bridge");
    state.SetBytesProcessed(toModule.size() + toMcu.size());
    state.counters["lost"]
        = double(toModule.size() - atModule.size() + toMcu.size() - atMcu.size());
}
BENCHMARK(BM_BridgeLocalToNetwork)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
