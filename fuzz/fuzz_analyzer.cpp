// SPDX-License-Identifier: GPL-3.0-or-later
// The line analyzer on raw wire bytes: segmenter, analyzer, frame list and
// field list.
//
// The input is the byte stream of one side of a serial line. It is cut into
// segments once in one chunk and once in chunks of random sizes (seeded from
// the input). Checked:
// - the wire bytes of the segments, after flush(), are the input exactly;
// - the segments (bytes and kinds) do not depend on how the stream was cut;
// - every segment of a frame kind starts with its header.
// The segments then go to a FrameAnalyzer, alternating between the two
// directions with rising times drawn from the input, so requests and replies
// meet, pair, expire and repeat. Checked on every row:
// - its kind, direction, time, size and bytes are the segment's;
// - command, sequence number and length field are -1 or fit their bytes;
//   problem bits are only the known kinds;
// - a pair is mutual, between different rows of opposite directions, with the
//   same latency on both sides, never negative;
// - the counters add up to the segments.
// Every row's texts are built through FrameListModel (every column, the row
// line, the CSV, with and without a filter) and its fields through
// frameFields, with and without a data-point definition. A second analyzer
// keeps only a few rows and is fed the segments over and over, so whole
// blocks are dropped under the model.
#include "fuzzsupport.h"

#include "analyzer/frameanalyzer.h"
#include "analyzer/framefields.h"
#include "analyzer/framelistmodel.h"
#include "protocol/frameformat.h"
#include "protocol/streamsegmenter.h"

#include <QVector>

namespace {

QVector<LineSegment> segment(const QByteArray &input, Fuzz::Random *split)
{
    StreamSegmenter segmenter(LineDirection::McuToModule);
    QVector<LineSegment> out;
    int pos = 0;
    while (pos < input.size()) {
        const int n = split ? split->chunk(input.size() - pos) : input.size() - pos;
        segmenter.feed(input.mid(pos, n), pos, out);
        pos += n;
    }
    segmenter.flush(out);
    if (segmenter.holding())
        Fuzz::fail("the segmenter holds bytes after flush", input);
    return out;
}

bool sameSegments(const QVector<LineSegment> &a, const QVector<LineSegment> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].kind != b[i].kind || a[i].wire != b[i].wire)
            return false;
    }
    return true;
}

void checkSegments(const QVector<LineSegment> &segments, const QByteArray &input)
{
    QByteArray joined;
    for (const LineSegment &s : segments) {
        if (s.wire.isEmpty())
            Fuzz::fail("empty segment", input);
        if (s.kind == SegmentKind::Frame4 && !s.wire.startsWith("\xFF\xFF"))
            Fuzz::fail("v4 segment does not start FF FF", input, s.wire);
        if (s.kind == SegmentKind::Frame3 && !s.wire.startsWith(QByteArray("\0\0\0\3", 4)))
            Fuzz::fail("v3 segment does not start 00 00 00 03", input, s.wire);
        if (s.kind == SegmentKind::Other && s.wire.size() > StreamSegmenter::MaxOtherRun)
            Fuzz::fail("run of other bytes longer than the limit", input, s.wire);
        joined += s.wire;
    }
    if (joined != input)
        Fuzz::fail("the segments' wire bytes are not the input", input, joined);
}

// Directions alternate; times rise by a gap drawn from the input, mostly
// within the reply limit, sometimes far beyond it.
QVector<LineSegment> onTheLine(QVector<LineSegment> segments, Fuzz::Random &random)
{
    qint64 time = 1700000000000000;
    for (int i = 0; i < segments.size(); ++i) {
        const quint32 r = random.next();
        time += (r & 3) == 0 ? qint64(r % 3000000) : qint64(r % 250000);
        segments[i].timeUs = time;
        segments[i].direction = i % 2 ? LineDirection::ModuleToMcu : LineDirection::McuToModule;
    }
    return segments;
}

void checkRecord(const FrameAnalyzer &analyzer, qint64 id, const LineSegment &s,
                 const QByteArray &input)
{
    const FrameRecord &r = analyzer.record(id);
    const QByteArray detail = s.wire;
    if (r.kind != s.kind || r.direction != s.direction || r.timeUs != s.timeUs)
        Fuzz::fail("row's kind, direction or time is not its segment's", input, detail);
    if (r.wireSize != quint32(s.wire.size()) || analyzer.wire(id) != s.wire)
        Fuzz::fail("row's bytes are not its segment's", input, detail);
    if (r.command < -1 || r.command > 0xFF || r.sequence < -1 || r.sequence > 0xFF
        || r.lengthField < -1 || r.lengthField > 0xFFFF)
        Fuzz::fail("row's command, sequence or length out of range", input, detail);
    if (r.kind == SegmentKind::Other && (r.command != -1 || !(r.problems & FrameProblem::Noise)))
        Fuzz::fail("other bytes decoded as a frame", input, detail);
    if (r.problems >= FrameProblem::bit(FrameProblem::KindCount))
        Fuzz::fail("row carries an unknown problem bit", input, detail);
    if (r.latencyUs < -1)
        Fuzz::fail("negative latency", input, detail);
    if (r.pairId == -1)
        return;
    if (r.pairId == id || r.pairId >= analyzer.endId())
        Fuzz::fail("row paired with itself or a row not yet added", input, detail);
    if (r.latencyUs < 0)
        Fuzz::fail("paired row without latency", input, detail);
    if (!analyzer.contains(r.pairId))
        return; // dropped with an older block
    const FrameRecord &p = analyzer.record(r.pairId);
    if (p.pairId != id)
        Fuzz::fail("pair does not point back", input, detail);
    if (p.direction == r.direction)
        Fuzz::fail("pair within one direction", input, detail);
    if (p.latencyUs != r.latencyUs)
        Fuzz::fail("the two sides of a pair give different latencies", input, detail);
}

void touchModel(const FrameListModel &model, int step)
{
    for (int row = 0; row < model.rowCount(); row += step) {
        for (int column = 0; column < FrameListModel::ColumnCount; ++column)
            model.data(model.index(row, column));
        model.data(model.index(row, 0), FrameListModel::FrameRole);
        model.rowText(row);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    const QByteArray input = Fuzz::bytes(data, size);
    Fuzz::Random random(input);

    const QVector<LineSegment> whole = segment(input, nullptr);
    checkSegments(whole, input);
    const QVector<LineSegment> split = segment(input, &random);
    checkSegments(split, input);
    if (!sameSegments(whole, split))
        Fuzz::fail("segments depend on the chunk splits", input);

    const QVector<LineSegment> line = onTheLine(whole, random);
    const ZemDescriber::Lookup lookup = [](const QString &key) { return key; };

    FrameAnalyzer analyzer;
    analyzer.setReplyLimitUs(1 + qint64(random.next() % 400000));
    FrameListModel model;
    model.setUtc(true);
    model.setDescriptionLookup(lookup);
    qint64 bytes[2] = {};
    for (const LineSegment &s : line) {
        const qint64 id = analyzer.add(s);
        if (id != analyzer.endId() - 1)
            Fuzz::fail("add() returned another id than the last row's", input, s.wire);
        bytes[int(s.direction)] += s.wire.size();
        if (analyzer.takeChangedFrom() < analyzer.firstId())
            Fuzz::fail("changed rows start before the first row", input, s.wire);
    }
    QVector<qint64> changed;
    analyzer.expire(line.isEmpty() ? 0 : line.last().timeUs + 10000000, &changed);
    model.appendFrom(analyzer);
    model.refreshIds(changed);

    const AnalyzerCounters &c = analyzer.counters();
    if (c.rows != line.size() || c.bytes[0] != bytes[0] || c.bytes[1] != bytes[1])
        Fuzz::fail("counters do not add up to the segments", input);
    if (analyzer.endId() - analyzer.firstId() != line.size() || model.rowCount() != line.size())
        Fuzz::fail("rows lost without a row limit", input);
    for (qint64 id = analyzer.firstId(); id < analyzer.endId(); ++id) {
        const LineSegment &s = line[int(id)];
        checkRecord(analyzer, id, s, input);
        const QByteArray frame = analyzer.frame(id);
        frameFields(frame, s.kind, lookup);
        frameFields(frame, s.kind, lookup, &Fuzz::sampleDefinition());
    }
    touchModel(model, 1);
    model.toCsv();

    // A filter on the problem rows and one on a search text from the input.
    FrameListModel::Filter filter;
    filter.problemsOnly = true;
    filter.command = int(random.next() % 0x22) - 1;
    model.setFilter(filter);
    touchModel(model, 1);
    filter = FrameListModel::Filter();
    filter.text = QString::fromLatin1(input.left(4).toHex(' '));
    model.setFilter(filter);
    touchModel(model, 1);

    // A row limit far below the rows: the segments again and again, until
    // the oldest block goes while the model holds it. Thousands of rows per
    // input: only one input in eight pays for it.
    if (line.isEmpty() || random.next() % 8 != 0)
        return 0;
    FrameAnalyzer small;
    small.setMaxRows(1 + qint64(random.next() % 64));
    FrameListModel smallModel;
    smallModel.setUtc(true);
    FrameListModel::Filter noiseless;
    noiseless.problemsOnly = random.next() & 1;
    smallModel.setFilter(noiseless);
    const int rounds = int((FrameAnalyzer::BlockRows + small.maxRows()) / line.size()) + 2;
    const qint64 roundUs = line.last().timeUs - line.first().timeUs + 1000000;
    for (int round = 0; round < rounds; ++round) {
        for (LineSegment s : line) {
            s.timeUs += round * roundUs;
            small.add(s);
        }
        smallModel.appendFrom(small);
        if (small.endId() - small.firstId() > small.maxRows() + FrameAnalyzer::BlockRows)
            Fuzz::fail("row limit not kept", input);
    }
    for (qint64 id = small.firstId(); id < small.endId(); ++id) {
        LineSegment s = line[int(id % line.size())];
        s.timeUs += id / line.size() * roundUs;
        checkRecord(small, id, s, input);
    }
    if (small.firstId() == 0)
        Fuzz::fail("no block dropped beyond the row limit", input);
    if (smallModel.rowCount() > small.endId() - small.firstId())
        Fuzz::fail("model shows more rows than the analyzer keeps", input);
    touchModel(smallModel, 61);
    return 0;
}
