// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of one automatic reply, including the settings reads it makes, of
// storing a firmware piece, and of describing a logged frame.
#include "testsupport.h"

#include "engine/zemanalyze.h"
#include "protocol/zemframer.h"
#include "protocol/zemproductkey.h"
#include "protocol/zemtool.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

// A program folder with the shipped settings and a responder on it.
struct Rig
{
    TestRoot root;
    ZemTool tool;
    ZemAnalyze analyze{nullptr, &tool};
    qint64 replies = 0;
    Rig()
    {
        QObject::connect(&analyze, &ZemAnalyze::RespondReady,
                         [this](const QByteArray &) { ++replies; });
    }
};

void reply(benchmark::State &state, const QByteArray &request, const char *moduleType)
{
    Rig rig;
    rig.tool.writeSetting(QStringLiteral("setting/moduletype"), QString::fromLatin1(moduleType));
    for (auto _ : state)
        rig.analyze.FindRespond(request);
    if (rig.replies != qint64(state.iterations()))
        state.SkipWithError("a request went unanswered");
}

void BM_ReplyProductInfo(benchmark::State &state)
{
    reply(state, makeFrame(0x01, 0x2A), "normal");
}
BENCHMARK(BM_ReplyProductInfo);

void BM_ReplyProductInfoCentral(benchmark::State &state)
{
    reply(state, makeFrame(0x01, 0x2A), "central");
}
BENCHMARK(BM_ReplyProductInfoCentral);

void BM_ReplyHeartbeat(benchmark::State &state)
{
    reply(state, makeFrame(0x07, 1), "normal");
}
BENCHMARK(BM_ReplyHeartbeat);

void BM_ReplyStatusRead(benchmark::State &state)
{
    reply(state, makeFrame(0x03, 1, hex("02")), "normal");
}
BENCHMARK(BM_ReplyStatusRead);

// Each piece has a new number, so each is appended to mcu.bin (open, write,
// close); a new transfer starts every 4096 pieces to bound the file.
void BM_FirmwarePiece(benchmark::State &state)
{
    Rig rig;
    const QByteArray data(int(state.range(0)), '\x5A');
    const QByteArray start = makeFrame(0x19, 1, hex("00000000 0004 01020304"));
    int number = 0;
    for (auto _ : state) {
        if (number % 4096 == 0)
            rig.analyze.FindRespond(start);
        QByteArray payload = ZemTool::numberToBytes(quint32(number % 4096), 2);
        payload.append(hex("0000")).append(data);
        rig.analyze.FindRespond(makeFrame(0x1D, number & 0xFF, payload));
        ++number;
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(BM_FirmwarePiece)->Arg(64)->Arg(1024);

void BM_DescribeWifiStatus(benchmark::State &state)
{
    Rig rig;
    const QByteArray frame = makeFrame(0x0D, 4, hex("0B 21"));
    for (auto _ : state)
        benchmark::DoNotOptimize(rig.analyze.describe(frame));
}
BENCHMARK(BM_DescribeWifiStatus);

void BM_DescribeTime(benchmark::State &state)
{
    Rig rig;
    const QByteArray frame = makeFrame(0x18, 4, hex("07 E2 0C 1F 17 3B 3A"));
    for (auto _ : state)
        benchmark::DoNotOptimize(rig.analyze.describe(frame));
}
BENCHMARK(BM_DescribeTime);

void BM_ProductKeyNormalize(benchmark::State &state)
{
    const QString text = QStringLiteral(" 5d1c7a90 e4b3f206 8a9c1e7d 3b5f0a24 ");
    for (auto _ : state)
        benchmark::DoNotOptimize(ZemProductKey::normalize(text));
}
BENCHMARK(BM_ProductKeyNormalize);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "default.debug=false");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
