// SPDX-License-Identifier: GPL-3.0-or-later
// What lumo-capture costs on a live line.
//
// BM_BridgeAndRecord: the built lumo-capture, started as a process, bridges
// two pseudo-terminals at 921,600 baud and records both directions into a
// file. The benchmark plays both devices: each side sends 92,160 bytes a
// second (the line's full rate) in chunks of about 1 ms of line time, as a
// USB adapter hands them on, and reads back what the bridge forwarded. The
// counter cpu_% is the program's own CPU time (user plus system, from /proc;
// user_% and system_% apart) per second of traffic, in percent of one core; lost_bytes counts bytes
// that did not reach the far side or the file (each direction's packets
// joined, compared with what was sent), and must be 0.
#include "testsupport.h"

#include "capture/capturereader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#ifndef LUMO_CAPTURE_PATH
#error "LUMO_CAPTURE_PATH is the built lumo-capture, defined by bench/CMakeLists.txt"
#endif

namespace {

constexpr int BytesPerSecond = 92160; // 921,600 baud, 10 bits a byte
constexpr int TrafficSeconds = 10;

// User and system CPU seconds of process `pid` so far.
struct CpuTimes
{
    double user = 0;
    double system = 0;
};

CpuTimes processCpu(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    // Fields after the command name in parentheses: utime is the 14th field
    // of the line, stime the 15th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return {};
    const double tick = double(sysconf(_SC_CLK_TCK));
    return {double(fields.at(11).toLongLong()) / tick, double(fields.at(12).toLongLong()) / tick};
}

// Reads what is waiting on a non-blocking master end.
void drain(int fd, QByteArray &into)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return;
        into.append(buffer, int(got));
    }
}

// Writes as much of `bytes` from `at` as the pty takes now.
void feed(int fd, const QByteArray &bytes, qsizetype &at, qsizetype upTo)
{
    while (at < upTo) {
        const ssize_t put = ::write(fd, bytes.constData() + at, size_t(upTo - at));
        if (put <= 0)
            return;
        at += put;
    }
}

void BM_BridgeAndRecord(benchmark::State &state)
{
    const int total = BytesPerSecond * TrafficSeconds;
    const QByteArray fromMcu = frameStream(total, 31);
    const QByteArray fromModule = frameStream(total, 32);
    double userPercent = 0;
    double systemPercent = 0;
    qint64 lost = 0;
    for (auto _ : state) {
        PtyPair mcu;
        PtyPair module;
        QTemporaryDir dir;
        for (const PtyPair *p : {&mcu, &module})
            ::fcntl(p->masterFd(), F_SETFD, FD_CLOEXEC);
        const QString out = dir.filePath(QStringLiteral("line.pcap"));
        QProcess capture;
        capture.start(QStringLiteral(LUMO_CAPTURE_PATH),
                      {QStringLiteral("--mcu"), mcu.slavePath(), QStringLiteral("--module"),
                       module.slavePath(), QStringLiteral("-b"), QStringLiteral("921600"),
                       QStringLiteral("-w"), out});
        if (!capture.waitForStarted()) {
            state.SkipWithError("lumo-capture does not start");
            return;
        }
        QThread::msleep(500); // the ports open
        const CpuTimes before = processCpu(capture.processId());
        QByteArray atModule;
        QByteArray atMcu;
        qsizetype sentMcu = 0;
        qsizetype sentModule = 0;
        QElapsedTimer clock;
        clock.start();
        while (sentMcu < fromMcu.size() || sentModule < fromModule.size()) {
            const qsizetype due
                = qMin<qsizetype>(total, clock.nsecsElapsed() / 1000 * BytesPerSecond / 1000000);
            feed(mcu.masterFd(), fromMcu, sentMcu, qMin<qsizetype>(due, fromMcu.size()));
            feed(module.masterFd(), fromModule, sentModule,
                 qMin<qsizetype>(due, fromModule.size()));
            drain(module.masterFd(), atModule);
            drain(mcu.masterFd(), atMcu);
            QThread::usleep(1000);
        }
        const double trafficSeconds = clock.nsecsElapsed() / 1e9;
        QElapsedTimer settle;
        settle.start();
        while ((atModule.size() < fromMcu.size() || atMcu.size() < fromModule.size())
               && settle.elapsed() < 5000) {
            drain(module.masterFd(), atModule);
            drain(mcu.masterFd(), atMcu);
            QThread::msleep(5);
        }
        const CpuTimes after = processCpu(capture.processId());
        capture.terminate();
        capture.waitForFinished(10000);

        QByteArray recordedMcu;
        QByteArray recordedModule;
        QString error;
        bool cutShort = false;
        CaptureReader::read(
            out,
            [&](const LineSegment &s, const QString &) {
                (s.direction == LineDirection::McuToModule ? recordedMcu : recordedModule)
                    .append(s.wire);
                return true;
            },
            &error, &cutShort);
        auto missing = [](const QByteArray &got, const QByteArray &sent) {
            return got == sent ? 0 : qMax<qint64>(1, sent.size() - got.size());
        };
        lost = missing(atModule, fromMcu) + missing(atMcu, fromModule)
            + missing(recordedMcu, fromMcu) + missing(recordedModule, fromModule);
        userPercent = 100.0 * (after.user - before.user) / trafficSeconds;
        systemPercent = 100.0 * (after.system - before.system) / trafficSeconds;
        state.SetIterationTime(trafficSeconds);
    }
    state.counters["cpu_%"] = userPercent + systemPercent;
    state.counters["user_%"] = userPercent;
    state.counters["system_%"] = systemPercent;
    state.counters["lost_bytes"] = double(lost);
    state.SetBytesProcessed(int64_t(state.iterations()) * 2 * total);
}
BENCHMARK(BM_BridgeAndRecord)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
