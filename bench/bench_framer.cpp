// SPDX-License-Identifier: GPL-3.0-or-later
// Throughput of the byte paths: the frame assembler on a realistic stream and
// the hex-text conversion used by every log line.
#include "testsupport.h"

#include "protocol/zemframer.h"
#include "protocol/zemtool.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

namespace {

void BM_FramerRealisticStream(benchmark::State &state)
{
    int frames = 0;
    const QByteArray stream = frameStream(4 << 20, 42, 291, &frames);
    const int chunk = int(state.range(0));
    ZemFramer framer;
    qint64 emitted = 0;
    QObject::connect(&framer, &ZemFramer::LineDataReady,
                     [&emitted](const QByteArray &) { ++emitted; });
    for (auto _ : state) {
        for (int at = 0; at < stream.size(); at += chunk)
            framer.dataToV4(
                QByteArray::fromRawData(stream.constData() + at, qMin(chunk, stream.size() - at)));
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
    state.counters["frames/iter"] = double(emitted) / double(state.iterations());
    state.counters["expected"] = frames;
}
BENCHMARK(BM_FramerRealisticStream)->Arg(64)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_HexText(benchmark::State &state)
{
    QByteArray bytes(int(state.range(0)), '\0');
    QRandomGenerator rng(7);
    for (char &c : bytes)
        c = char(rng.bounded(256));
    for (auto _ : state)
        benchmark::DoNotOptimize(ZemTool::hexText(bytes));
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_HexText)->Arg(80)->Arg(64 << 10);

void BM_FromHex(benchmark::State &state)
{
    QByteArray bytes(int(state.range(0)), '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 37);
    const QByteArray text = ZemTool::hexText(bytes).toLatin1();
    for (auto _ : state)
        benchmark::DoNotOptimize(QByteArray::fromHex(text));
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_FromHex)->Arg(80)->Arg(64 << 10);

void BM_Escape(benchmark::State &state)
{
    QByteArray frame(int(state.range(0)), '\0');
    QRandomGenerator rng(9);
    for (char &c : frame)
        c = char(rng.bounded(256));
    for (auto _ : state)
        benchmark::DoNotOptimize(ZemTool::escape(frame));
    state.SetBytesProcessed(state.iterations() * frame.size());
}
BENCHMARK(BM_Escape)->Arg(80)->Arg(64 << 10);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
