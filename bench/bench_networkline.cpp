// SPDX-License-Identifier: GPL-3.0-or-later
// Lines served over the network, on loopback through a real ser2net with a
// pseudo-terminal behind it.
// - The simulated MCU's reply time at 1,000 requests a second, over a local
//   pty and over tcp:// and rfc2217:// lines to the same kind of pty: the
//   network may add at most a millisecond at the 99th percentile.
// - The bridge between a local and a network line carrying two 921,600-baud
//   streams at once (92,160 bytes a second each way): every byte arrives,
//   in order.
#include "testsupport.h"

#include "bridge/linebridge.h"
#include "engine/mcusimulator.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/anyline.h"
#include "serial/zemserialport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

enum LineKind { LocalPty, RawTcp, Rfc2217 };

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// ser2net serving `device` on 127.0.0.1, raw or with RFC 2217, for as long
// as the object lives.
class Served
{
public:
    Served(const QString &device, bool telnet)
        : m_port(freePort())
    {
        const QString config = m_dir.filePath(QStringLiteral("ser2net.yaml"));
        QFile file(config);
        file.open(QIODevice::WriteOnly);
        file.write(QStringLiteral("connection: &bench\n"
                                  "    accepter: %1tcp,127.0.0.1,%2\n"
                                  "    connector: serialdev,%3,115200n81,local\n"
                                  // ser2net otherwise holds what the device
                                  // sends for two characters' time, at
                                  // least 1 ms, to send it in fewer packets.
                                  "    options:\n"
                                  "      chardelay: false\n")
                       .arg(telnet ? QStringLiteral("telnet(rfc2217),") : QString())
                       .arg(m_port)
                       .arg(device)
                       .toUtf8());
        file.close();
        m_process.start(QStringLiteral("ser2net"),
                        {QStringLiteral("-n"), QStringLiteral("-c"), config, QStringLiteral("-P"),
                         m_dir.filePath(QStringLiteral("pid"))});
        m_process.waitForStarted(3000);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(200)) {
                socket.abort();
                m_ready = true;
                break;
            }
            QThread::msleep(50);
        }
        // The probe connection made ser2net open the device once; let it
        // close it again before the line under test connects.
        QThread::msleep(100);
    }
    ~Served()
    {
        m_process.terminate();
        m_process.waitForFinished(3000);
    }
    bool ready() const { return m_ready; }
    QString address(bool telnet) const
    {
        return (telnet ? QStringLiteral("rfc2217://127.0.0.1:")
                       : QStringLiteral("tcp://127.0.0.1:"))
            + QString::number(m_port);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port;
    bool m_ready = false;
};

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
    std::unique_ptr<Served> served;
    if (kind != LocalPty) {
        served.reset(new Served(pty.slavePath(), kind == Rfc2217));
        if (!served->ready()) {
            state.SkipWithError("ser2net did not start (is it installed?)");
            return;
        }
    }
    ZemTool settings;
    McuSimulator sim(&settings);
    sim.port()->setAcceptUnlisted(true);
    if (!openAndWait(sim.line(),
                     kind == LocalPty ? pty.slavePath() : served->address(kind == Rfc2217))) {
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
    Served served(module.slavePath(), true);
    if (!served.ready()) {
        state.SkipWithError("ser2net did not start (is it installed?)");
        return;
    }
    AnyLine local;
    local.port()->setAcceptUnlisted(true);
    AnyLine remote;
    if (!openAndWait(&local, mcu.slavePath()) || !openAndWait(&remote, served.address(true))) {
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
