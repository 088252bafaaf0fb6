// SPDX-License-Identifier: GPL-3.0-or-later
// What session capture costs.
//
// BM_RecordSegments: the recorder's own work per packet (pseudo-header and
// pcap record into the file buffer, a flush every 500 ms of line time), on
// the segments of a realistic line. Its counter cpu_at_live_% is that cost at
// the rate of the dual tab with both lines at 921,600 baud: 92,160 bytes a
// second each way, 184,320 bytes a second recorded.
//
// BM_TapSegments: the line monitor's segmenting of the same bytes (the tap
// the analyzer needs whether recording or not), for comparison.
//
// BM_ReadCapture: reading a capture of a million packets back (what opening
// a file for offline analysis starts with).
#include "testsupport.h"

#include "capture/capturereader.h"
#include "capture/capturewriter.h"
#include "capture/linemonitor.h"
#include "protocol/streamsegmenter.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <ctime>

namespace {

constexpr double LiveBytesPerSecond = 2 * 92160.0;

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The share of one core that `cpuSeconds` spent on `bytes` means at the live
// rate: (CPU seconds per byte) x (bytes a second), in percent.
double shareAtLiveRate(double cpuSeconds, double bytes)
{
    return bytes > 0 ? 100.0 * cpuSeconds / bytes * LiveBytesPerSecond : 0;
}

// The segments of one direction of a realistic line: frames with payloads of
// up to maxPayload bytes, escaped FFs and a little noise.
QVector<LineSegment> lineSegments(int bytes, int maxPayload, quint32 seed)
{
    const QByteArray stream = frameStream(bytes, seed, maxPayload);
    StreamSegmenter segmenter(LineDirection::ModuleToMcu);
    QVector<LineSegment> out;
    qint64 t = 1765000000000000LL;
    for (int at = 0; at < stream.size(); at += 256, t += 2778) // 256 bytes at 92 KB/s
        segmenter.feed(stream.mid(at, 256), t, out);
    segmenter.flush(out);
    return out;
}

void BM_RecordSegments(benchmark::State &state)
{
    const int maxPayload = int(state.range(0));
    const QVector<LineSegment> segments = lineSegments(1 << 20, maxPayload, 5);
    qint64 bytes = 0;
    for (const LineSegment &s : segments)
        bytes += s.wire.size();
    // A flush every 500 ms of line time: 46,080 bytes at 92 KB/s.
    const qint64 bytesPerFlush = qint64(LiveBytesPerSecond / 2);

    QTemporaryDir dir;
    CaptureWriter writer;
    QString error;
    if (!writer.open(dir.filePath(QStringLiteral("bench.pcap")), &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    const QString port = QStringLiteral("/dev/ttyUSB0");
    qint64 sinceFlush = 0;
    const double cpuStart = threadCpuSeconds();
    for (auto _ : state) {
        for (const LineSegment &s : segments) {
            writer.write(s, port);
            sinceFlush += s.wire.size();
            if (sinceFlush >= bytesPerFlush) {
                writer.flush();
                sinceFlush = 0;
            }
        }
        // Keep the file from filling the disk on long runs.
        state.PauseTiming();
        if (writer.packetCount() > 4000000)
            writer.open(dir.filePath(QStringLiteral("bench.pcap")), &error);
        state.ResumeTiming();
    }
    const double cpu = threadCpuSeconds() - cpuStart;
    writer.close();
    state.SetItemsProcessed(state.iterations() * segments.size());
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["bytes/packet"] = double(bytes) / double(segments.size());
    state.counters["cpu_at_live_%"]
        = shareAtLiveRate(cpu, double(state.iterations()) * double(bytes));
}
// Argument: largest payload (0: every frame 9 bytes, the most packets per byte).
BENCHMARK(BM_RecordSegments)->Arg(291)->Arg(32)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_TapSegments(benchmark::State &state)
{
    const int maxPayload = int(state.range(0));
    const QByteArray stream = frameStream(1 << 20, 6, maxPayload);
    LineMonitor monitor;
    qint64 segments = 0;
    QObject::connect(&monitor, &LineMonitor::segments,
                     [&segments](const QVector<LineSegment> &batch, const QStringList &) {
                         segments += batch.size();
                     });
    const QString port = QStringLiteral("/dev/ttyUSB0");
    const double cpuStart = threadCpuSeconds();
    for (auto _ : state) {
        for (int at = 0; at < stream.size(); at += 256)
            monitor.addBytes(LineDirection::ModuleToMcu, port, stream.mid(at, 256));
        monitor.flush();
    }
    state.SetItemsProcessed(segments);
    state.SetBytesProcessed(state.iterations() * stream.size());
    state.counters["cpu_at_live_%"] = shareAtLiveRate(
        threadCpuSeconds() - cpuStart, double(state.iterations()) * double(stream.size()));
}
BENCHMARK(BM_TapSegments)->Arg(291)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_ReadCapture(benchmark::State &state)
{
    const qint64 packets = state.range(0);
    const QVector<LineSegment> segments = lineSegments(1 << 20, 32, 7);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("million.pcap"));
    {
        CaptureWriter writer;
        QString error;
        if (!writer.open(path, &error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        LineSegment s;
        for (qint64 i = 0; i < packets; ++i) {
            s = segments.at(int(i % segments.size()));
            s.timeUs += i;
            s.direction = i % 2 ? LineDirection::McuToModule : LineDirection::ModuleToMcu;
            writer.write(s, i % 2 ? QStringLiteral("COM1") : QStringLiteral("COM2"));
        }
        writer.close();
    }
    qint64 read = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        QString error;
        bool cut = false;
        CaptureReader::read(
            path,
            [&](const LineSegment &s, const QString &) {
                ++read;
                bytes += s.wire.size();
                return true;
            },
            &error, &cut);
    }
    state.SetItemsProcessed(read);
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ReadCapture)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
