// SPDX-License-Identifier: GPL-3.0-or-later
// Throughput of the analysis path: decoding, pairing and checking a realistic
// conversation between an MCU and its module, with and without cutting the
// raw bytes into segments first, filtering a million-row frame list, and
// reading the data-point values over time out of a million rows.
#include "testsupport.h"

#include "analyzer/datapointhistory.h"
#include "analyzer/frameanalyzer.h"
#include "analyzer/framelistmodel.h"
#include "datapoint/datapointvalues.h"
#include "protocol/streamsegmenter.h"
#include "protocol/zemtool.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

namespace {

constexpr LineDirection Mcu = LineDirection::McuToModule;
constexpr LineDirection Module = LineDirection::ModuleToMcu;

// A session as it looks on a busy line: the module's heartbeats, status reads
// and Wi-Fi status pushes answered by the MCU, the MCU's reports (with FFs in
// their values) acknowledged by the module, now and then a lost answer, a
// resent request, a damaged frame and a line of the module's log.
QVector<LineSegment> conversation(int segments, quint32 seed)
{
    QRandomGenerator rng(seed);
    QVector<LineSegment> out;
    out.reserve(segments + 4);
    qint64 time = 1'700'000'000'000'000;
    int seq = 0;
    while (out.size() < segments) {
        time += rng.bounded(50, 400);
        seq = (seq + 1) & 0xFF;
        const int what = int(rng.bounded(100));
        if (what < 2) {
            out.append(segment(Module, time, "[wifi] rssi -61 dBm, ch 6\r\n", SegmentKind::Other));
            continue;
        }
        QByteArray request;
        QByteArray reply;
        LineDirection from = Module;
        if (what < 40) {
            request = makeFrame(0x07, seq);
            reply = makeFrame(0x08, seq);
        } else if (what < 60) {
            request = makeFrame(0x03, seq, hex("02"));
            QByteArray values(12, '\0');
            for (char &c : values)
                c = char(rng.bounded(256));
            reply = makeFrame(0x04, seq, hex("03") + values);
        } else if (what < 70) {
            request = makeFrame(0x0D, seq, hex("0B 21"));
            reply = makeFrame(0x0E, seq);
        } else {
            from = Mcu;
            QByteArray values(16, '\0');
            for (char &c : values)
                c = char(rng.bounded(4) == 0 ? 0xFF : rng.bounded(256));
            request = makeFrame(0x05, seq, hex("04") + values);
            reply = makeFrame(0x06, seq);
        }
        QByteArray wire = ZemTool::escape(request);
        if (what == 97)
            wire[wire.size() - 1] = char(wire.at(wire.size() - 1) ^ 0x5A); // damaged
        out.append(segment(from, time, wire));
        if (what == 98) { // resent after no answer
            time += 250'000;
            out.append(segment(from, time, wire));
        }
        if (what == 99)
            continue; // never answered
        time += rng.bounded(200, 20'000);
        out.append(segment(oppositeDirection(from), time, ZemTool::escape(reply)));
    }
    out.resize(segments);
    return out;
}

void BM_AnalyzeSegments(benchmark::State &state)
{
    const QVector<LineSegment> segments = conversation(int(state.range(0)), 42);
    qint64 problems = 0;
    for (auto _ : state) {
        FrameAnalyzer analyzer;
        for (const LineSegment &s : segments)
            analyzer.add(s);
        analyzer.expire(segments.last().timeUs + 1'000'000, nullptr);
        problems = analyzer.counters().rows - analyzer.counters().framesTotal();
        benchmark::DoNotOptimize(analyzer.endId());
    }
    state.counters["frames/s"] = benchmark::Counter(double(segments.size()) * state.iterations(),
                                                    benchmark::Counter::kIsRate);
    state.counters["text rows"] = double(problems);
}
BENCHMARK(BM_AnalyzeSegments)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Live: the analyzer keeps a million rows and drops the oldest block by block.
void BM_AnalyzeBounded(benchmark::State &state)
{
    const QVector<LineSegment> segments = conversation(200'000, 7);
    FrameAnalyzer analyzer;
    analyzer.setMaxRows(100'000);
    qint64 added = 0;
    qint64 shift = 0;
    for (auto _ : state) {
        for (LineSegment s : segments) {
            s.timeUs += shift;
            analyzer.add(s);
        }
        shift += segments.last().timeUs - segments.first().timeUs + 1'000'000;
        added += segments.size();
    }
    state.counters["frames/s"] = benchmark::Counter(double(added), benchmark::Counter::kIsRate);
    state.counters["rows kept"] = double(analyzer.endId() - analyzer.firstId());
}
BENCHMARK(BM_AnalyzeBounded)->Unit(benchmark::kMillisecond)->UseRealTime();

// From raw bytes: each direction's bytes arrive in chunks (a serial read
// hands over whatever came in), are cut into segments and analyzed.
void BM_SegmentAndAnalyze(benchmark::State &state)
{
    const QVector<LineSegment> segments = conversation(int(state.range(0)), 42);
    const int chunk = int(state.range(1));
    struct Chunk
    {
        LineDirection direction;
        qint64 timeUs;
        QByteArray bytes;
    };
    QVector<Chunk> chunks;
    for (const LineSegment &s : segments) {
        for (int at = 0; at < s.wire.size(); at += chunk)
            chunks.append({s.direction, s.timeUs, s.wire.mid(at, chunk)});
    }
    qint64 bytes = 0;
    for (const Chunk &c : chunks)
        bytes += c.bytes.size();

    qint64 rows = 0;
    for (auto _ : state) {
        StreamSegmenter fromMcu(Mcu);
        StreamSegmenter fromModule(Module);
        FrameAnalyzer analyzer;
        QVector<LineSegment> out;
        for (const Chunk &c : chunks) {
            out.clear();
            (c.direction == Mcu ? fromMcu : fromModule).feed(c.bytes, c.timeUs, out);
            for (const LineSegment &s : out)
                analyzer.add(s);
        }
        out.clear();
        fromMcu.flush(out);
        fromModule.flush(out);
        for (const LineSegment &s : out)
            analyzer.add(s);
        rows = analyzer.endId();
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["frames/s"]
        = benchmark::Counter(double(rows) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SegmentAndAnalyze)
    ->Args({1'000'000, 4096})
    ->Args({1'000'000, 16})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A filter over a million rows: one pass, the list rebuilt.
void BM_FilterMillionRows(benchmark::State &state)
{
    const QVector<LineSegment> segments = conversation(1'000'000, 42);
    FrameAnalyzer analyzer;
    for (const LineSegment &s : segments)
        analyzer.add(s);
    analyzer.expire(segments.last().timeUs + 1'000'000, nullptr);
    FrameListModel model;
    model.setDescriptionLookup([](const QString &key) { return QStringLiteral("说明 ") + key; });
    model.appendFrom(analyzer);

    FrameListModel::Filter filter;
    switch (state.range(0)) {
    case 0:
        filter.problemsOnly = true;
        break;
    case 1:
        filter.command = 0x05;
        filter.direction = int(Mcu);
        break;
    case 2:
        filter.text = QStringLiteral("0B 21");
        break;
    default:
        filter.text = QStringLiteral("说明 cmd/0403");
        break;
    }
    for (auto _ : state) {
        model.setFilter(filter);
        benchmark::DoNotOptimize(model.rowCount());
        model.setFilter(FrameListModel::Filter());
    }
    model.setFilter(filter);
    state.counters["rows shown"] = model.rowCount();
}
BENCHMARK(BM_FilterMillionRows)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The values over time of a million-row capture whose every tenth row is a
// lamp's status report with changing values: what the chart reads when a
// capture opens.
void BM_DataPointHistory(benchmark::State &state)
{
    QFile f(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"));
    f.open(QIODevice::ReadOnly);
    const DataPointDefinition def
        = DataPointDefinition::fromJson(QJsonDocument::fromJson(f.readAll()).object());
    DataPointValues device(def);
    const int brightness = def.indexOf(QStringLiteral("亮度"));
    const int scene = def.indexOf(QStringLiteral("场景数据"));
    FrameAnalyzer analyzer;
    const qint64 t0 = 1765238400000000;
    for (int i = 0; i < 1'000'000; ++i) {
        QByteArray wire;
        if (i % 10 == 0) {
            device.setNumber(brightness, (i / 10) % 101);
            if (i % 1000 == 0)
                device.setHexText(scene, QString::number(i, 16));
            wire = ZemTool::escape(device.statusReport());
        } else {
            wire = wireFrame(i % 2 ? 0x07 : 0x08, i & 0xff);
        }
        analyzer.add(segment(i % 10 == 0 ? Mcu : Module, t0 + qint64(i) * 1000, wire));
    }
    qint64 frames = 0;
    for (auto _ : state) {
        DataPointHistory history(def);
        frames = history.addRows(analyzer, analyzer.firstId(), analyzer.endId());
        benchmark::DoNotOptimize(history.changeCount());
    }
    state.counters["reports"] = double(frames);
}
BENCHMARK(BM_DataPointHistory)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
