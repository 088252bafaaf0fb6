// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding, pairing and checking the rows of a conversation between an MCU
// and its module.
#include "testsupport.h"

#include "analyzer/frameanalyzer.h"
#include "protocol/frameescape.h"
#include "protocol/frameformat.h"
#include "protocol/lineevent.h"
#include "protocol/streamsegmenter.h"
#include "protocol/zemtool.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

constexpr LineDirection Mcu = LineDirection::McuToModule;
constexpr LineDirection Module = LineDirection::ModuleToMcu;
constexpr qint64 Ms = 1000;
constexpr qint64 T0 = 1'700'000'000'000'000; // some time in 2023, in microseconds

} // namespace

class TestFrameAnalyzer : public QObject
{
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void pairsRequestWithReply();
    void pairsEveryRequestOfTheTable_data();
    void pairsEveryRequestOfTheTable();
    void replyLatencyAtTheLimit_data();
    void replyLatencyAtTheLimit();
    void expiresUnansweredRequests();
    void replyBegunInTimeButAddedLate();
    void unexpectedReplies_data();
    void unexpectedReplies();
    void retransmissions_data();
    void retransmissions();
    void countsPerDirectionAndKind();
    void dropsOldBlocksAndStaysConsistent();
    void clearStartsOverWithNewIds();
    void segmentedConversationRoundTrip();
    void randomConversationKeepsItsInvariants();
};

void TestFrameAnalyzer::decodes_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("problems");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<int>("length");

    const int f4 = int(SegmentKind::Frame4);
    QByteArray badSum = wireFrame(0x07, 3);
    badSum[badSum.size() - 1] = char(badSum.at(badSum.size() - 1) + 1);
    const QByteArray ffEverywhere = wireFrame(0x05, 0xFF, hex("04 FF FF 01"));
    QByteArray bareFf = makeFrame(0x05, 0x01, hex("04 FF 01")); // not escaped
    const QByteArray v3 = hex("00 00 00 03 00 02 03 0b");

    QTest::newRow("heartbeat") << hex("FF FF 00 05 07 07 00 00 13") << f4 << 0 << 7 << 7 << 5;
    QTest::newRow("FF in sequence and payload, escaped")
        << ffEverywhere << f4 << 0 << 5 << 0xFF << 9;
    QTest::newRow("wrong checksum")
        << badSum << f4 << int(FrameProblem::BadChecksum) << 7 << 3 << 5;
    QTest::newRow("cut short") << hex("FF FF 00 09 03 01 00 00") << f4
                               << int(FrameProblem::Truncated) << 3 << 1 << 9;
    QTest::newRow("longer than its length field") << hex("FF FF 00 05 07 07 00 00 13 00") << f4
                                                  << int(FrameProblem::Truncated) << 7 << 7 << 5;
    QTest::newRow("header and length only")
        << hex("FF FF 00 05") << f4 << int(FrameProblem::Truncated) << -1 << -1 << 5;
    QTest::newRow("bare FF in the payload")
        << bareFf << f4 << int(FrameProblem::UnescapedFf) << 5 << 1 << 8;
    QTest::newRow("bare FF at the end of a cut frame")
        << hex("FF FF 00 09 03 01 00 FF") << f4
        << int(FrameProblem::Truncated | FrameProblem::UnescapedFf) << 3 << 1 << 9;
    QTest::newRow("version 3 frame") << v3 << int(SegmentKind::Frame3) << 0 << -1 << -1 << 2;
    QTest::newRow("version 3 frame cut short")
        << v3.left(7) << int(SegmentKind::Frame3) << int(FrameProblem::Truncated) << -1 << -1 << 2;
    QTest::newRow("boot text") << QByteArray("ready\r\n") << int(SegmentKind::Other)
                               << int(FrameProblem::Noise) << -1 << -1 << -1;
    // An event row: its bytes say what was done to the line, never a frame.
    QTest::newRow("line event") << LineEvent::breakSent(250) << int(SegmentKind::Event) << 0 << -1
                                << -1 << -1;
}

void TestFrameAnalyzer::decodes()
{
    QFETCH(QByteArray, wire);
    QFETCH(int, kind);
    QFETCH(int, problems);
    QFETCH(int, command);
    QFETCH(int, sequence);
    QFETCH(int, length);

    FrameAnalyzer analyzer;
    const qint64 id = analyzer.add(segment(Module, T0, wire, SegmentKind(kind)));
    const FrameRecord &r = analyzer.record(id);
    QCOMPARE(int(r.problems), problems);
    QCOMPARE(int(r.command), command);
    QCOMPARE(int(r.sequence), sequence);
    QCOMPARE(int(r.lengthField), length);
    QCOMPARE(r.wireSize, quint32(wire.size()));
    QCOMPARE(r.timeUs, T0);
    QCOMPARE(analyzer.wire(id), wire);
    const QByteArray expectedFrame
        = SegmentKind(kind) == SegmentKind::Frame4 ? Frame::unescape(wire) : wire;
    QCOMPARE(analyzer.frame(id), expectedFrame);
}

void TestFrameAnalyzer::pairsRequestWithReply()
{
    FrameAnalyzer analyzer;
    // The module asks for the product information, the MCU sends a status
    // report meanwhile, then both answers arrive.
    const qint64 ask = analyzer.add(segment(Module, T0, wireFrame(0x01, 0x10)));
    const qint64 report
        = analyzer.add(segment(Mcu, T0 + 5 * Ms, wireFrame(0x05, 0x22, hex("04 01"))));
    const qint64 answer = analyzer.add(segment(Mcu, T0 + 30 * Ms, wireFrame(0x02, 0x10)));
    const qint64 ack = analyzer.add(segment(Module, T0 + 31 * Ms, wireFrame(0x06, 0x22)));

    QCOMPARE(analyzer.record(ask).pairId, answer);
    QCOMPARE(analyzer.record(answer).pairId, ask);
    QCOMPARE(analyzer.record(ask).latencyUs, 30 * Ms);
    QCOMPARE(analyzer.record(answer).latencyUs, 30 * Ms);
    QCOMPARE(analyzer.record(report).pairId, ack);
    QCOMPARE(analyzer.record(ack).latencyUs, 26 * Ms);
    for (qint64 id = ask; id <= ack; ++id)
        QCOMPARE(int(analyzer.record(id).problems), 0);
    // The answer changed the question's row.
    QCOMPARE(analyzer.takeChangedFrom(), ask);
    QCOMPARE(analyzer.takeChangedFrom(), analyzer.endId());

    // Long after: nothing is left to expire.
    QVector<qint64> changed;
    analyzer.expire(T0 + 10'000 * Ms, &changed);
    QVERIFY(changed.isEmpty());
}

void TestFrameAnalyzer::pairsEveryRequestOfTheTable_data()
{
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("direction");
    // The module's requests, answered by the MCU, and the MCU's own.
    for (int code : {0x01, 0x03, 0x07, 0x0D, 0x0F, 0x11, 0x13, 0x15, 0x19, 0x1D, 0x1F})
        QTest::addRow("module %02X", code) << code << int(Module);
    for (int code : {0x05, 0x09, 0x0B, 0x13, 0x15, 0x17, 0x1B})
        QTest::addRow("MCU %02X", code) << code << int(Mcu);
}

void TestFrameAnalyzer::pairsEveryRequestOfTheTable()
{
    QFETCH(int, request);
    QFETCH(int, direction);
    const LineDirection from = LineDirection(direction);

    FrameAnalyzer analyzer;
    const qint64 asked = analyzer.add(segment(from, T0, wireFrame(request, 0x42)));
    // An answer from the asking side answers nothing.
    const qint64 sameSide = analyzer.add(segment(from, T0 + 1, wireFrame(request + 1, 0x42)));
    const qint64 answer
        = analyzer.add(segment(oppositeDirection(from), T0 + 3 * Ms, wireFrame(request + 1, 0x42)));

    QCOMPARE(analyzer.record(asked).pairId, answer);
    QCOMPARE(analyzer.record(answer).pairId, asked);
    QCOMPARE(analyzer.record(asked).latencyUs, 3 * Ms);
    QCOMPARE(int(analyzer.record(asked).problems), 0);
    QCOMPARE(int(analyzer.record(answer).problems), 0);
    QCOMPARE(int(analyzer.record(sameSide).problems), int(FrameProblem::UnexpectedReply));
}

void TestFrameAnalyzer::replyLatencyAtTheLimit_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<qint64>("latency");
    QTest::addColumn<bool>("late");
    QTest::newRow("default limit, just in time") << qint64(-1) << 200 * Ms << false;
    QTest::newRow("default limit, 1 us late") << qint64(-1) << 200 * Ms + 1 << true;
    QTest::newRow("50 ms, just in time") << 50 * Ms << 50 * Ms << false;
    QTest::newRow("50 ms, 1 us late") << 50 * Ms << 50 * Ms + 1 << true;
    QTest::newRow("50 ms, very late, still paired") << 50 * Ms << 400 * Ms << true;
}

void TestFrameAnalyzer::replyLatencyAtTheLimit()
{
    QFETCH(qint64, limit);
    QFETCH(qint64, latency);
    QFETCH(bool, late);

    FrameAnalyzer analyzer;
    if (limit >= 0)
        analyzer.setReplyLimitUs(limit);
    const qint64 request = analyzer.add(segment(Mcu, T0, wireFrame(0x17, 0x01)));
    const qint64 reply = analyzer.add(segment(Module, T0 + latency, wireFrame(0x18, 0x01)));
    QCOMPARE(analyzer.record(request).pairId, reply);
    QCOMPARE(analyzer.record(reply).latencyUs, latency);
    QCOMPARE(bool(analyzer.record(request).problems & FrameProblem::NoReply), late);
    QCOMPARE(int(analyzer.record(reply).problems), 0);
    QCOMPARE(analyzer.counters().problemCount(FrameProblem::NoReply), late ? 1 : 0);
}

void TestFrameAnalyzer::expiresUnansweredRequests()
{
    FrameAnalyzer analyzer;
    analyzer.setReplyLimitUs(100 * Ms);
    const qint64 first = analyzer.add(segment(Module, T0, wireFrame(0x07, 1)));
    const qint64 second = analyzer.add(segment(Module, T0 + 50 * Ms, wireFrame(0x07, 2)));

    QVector<qint64> changed;
    analyzer.expire(T0 + 100 * Ms, &changed); // exactly at the limit: still in time
    QVERIFY(changed.isEmpty());
    analyzer.expire(T0 + 100 * Ms + 1, &changed);
    QCOMPARE(changed, QVector<qint64>{first});
    QVERIFY(analyzer.record(first).problems & FrameProblem::NoReply);
    QCOMPARE(int(analyzer.record(second).problems), 0);

    // A later segment expires implicitly.
    const qint64 text = analyzer.add(segment(Mcu, T0 + 151 * Ms, "log\n", SegmentKind::Other));
    QVERIFY(analyzer.record(second).problems & FrameProblem::NoReply);
    QCOMPARE(analyzer.takeChangedFrom(), first);
    QCOMPARE(int(analyzer.record(text).problems), int(FrameProblem::Noise));

    // Marked once, counted once.
    changed.clear();
    analyzer.expire(T0 + 10'000 * Ms, &changed);
    QVERIFY(changed.isEmpty());
    QCOMPARE(analyzer.counters().problemCount(FrameProblem::NoReply), 2);
}

// The answer's first byte came 150 ms after the request, but a long answer
// completes after a segment of 210 ms (and a timer) already ran out the limit.
void TestFrameAnalyzer::replyBegunInTimeButAddedLate()
{
    FrameAnalyzer analyzer;
    const qint64 request = analyzer.add(segment(Module, T0, wireFrame(0x03, 7, hex("02"))));
    analyzer.add(segment(Module, T0 + 210 * Ms, "log\n", SegmentKind::Other));
    analyzer.expire(T0 + 260 * Ms, nullptr);
    QVERIFY(analyzer.record(request).problems & FrameProblem::NoReply);
    QCOMPARE(analyzer.counters().problemCount(FrameProblem::NoReply), 1);

    const qint64 reply
        = analyzer.add(segment(Mcu, T0 + 150 * Ms, wireFrame(0x04, 7, QByteArray(200, '\x01'))));
    QCOMPARE(analyzer.record(request).pairId, reply);
    QCOMPARE(analyzer.record(request).latencyUs, 150 * Ms);
    QCOMPARE(int(analyzer.record(request).problems), 0);
    QCOMPARE(analyzer.counters().problemCount(FrameProblem::NoReply), 0);
}

void TestFrameAnalyzer::unexpectedReplies_data()
{
    QTest::addColumn<QByteArray>("requestWire");
    QTest::addColumn<int>("requestDirection");
    QTest::addColumn<QByteArray>("replyWire");
    QTest::addColumn<int>("replyDirection");
    QTest::addColumn<qint64>("latency");
    QTest::addColumn<bool>("paired");

    const int mcu = int(Mcu);
    const int module = int(Module);
    QTest::newRow("answer") << wireFrame(0x03, 5, hex("02")) << module << wireFrame(0x04, 5) << mcu
                            << 10 * Ms << true;
    QTest::newRow("no request at all")
        << QByteArray() << module << wireFrame(0x04, 5) << mcu << 10 * Ms << false;
    QTest::newRow("other sequence number")
        << wireFrame(0x03, 5, hex("02")) << module << wireFrame(0x04, 6) << mcu << 10 * Ms << false;
    QTest::newRow("same direction as the request")
        << wireFrame(0x03, 5, hex("02")) << module << wireFrame(0x04, 5) << module << 10 * Ms
        << false;
    QTest::newRow("code of another request")
        << wireFrame(0x07, 5) << module << wireFrame(0x04, 5) << mcu << 10 * Ms << false;
    QTest::newRow("ten limits later: no longer an answer")
        << wireFrame(0x07, 5) << module << wireFrame(0x08, 5) << mcu << 2001 * Ms << false;
    QTest::newRow("MCU's request, module's answer")
        << wireFrame(0x09, 9, hex("01")) << mcu << wireFrame(0x0A, 9) << module << 1 * Ms << true;
}

void TestFrameAnalyzer::unexpectedReplies()
{
    QFETCH(QByteArray, requestWire);
    QFETCH(int, requestDirection);
    QFETCH(QByteArray, replyWire);
    QFETCH(int, replyDirection);
    QFETCH(qint64, latency);
    QFETCH(bool, paired);

    FrameAnalyzer analyzer;
    qint64 request = -1;
    if (!requestWire.isEmpty())
        request = analyzer.add(segment(LineDirection(requestDirection), T0, requestWire));
    const qint64 reply
        = analyzer.add(segment(LineDirection(replyDirection), T0 + latency, replyWire));
    QCOMPARE(analyzer.record(reply).pairId, paired ? request : -1);
    QCOMPARE(bool(analyzer.record(reply).problems & FrameProblem::UnexpectedReply), !paired);
    QCOMPARE(analyzer.counters().problemCount(FrameProblem::UnexpectedReply), paired ? 0 : 1);

    // A second answer to the same request is unexpected either way.
    const qint64 again
        = analyzer.add(segment(LineDirection(replyDirection), T0 + latency + 1, replyWire));
    QCOMPARE(analyzer.record(again).pairId, qint64(-1));
    QVERIFY(analyzer.record(again).problems & FrameProblem::UnexpectedReply);
}

void TestFrameAnalyzer::retransmissions_data()
{
    QTest::addColumn<int>("secondDirection");
    QTest::addColumn<int>("secondSequence");
    QTest::addColumn<bool>("answerFirst");
    QTest::addColumn<qint64>("gap");
    QTest::addColumn<QByteArray>("secondPayload");
    QTest::addColumn<bool>("retransmission");

    const int module = int(Module);
    const QByteArray same;
    const QByteArray other = QByteArray::fromHex("0102");
    QTest::newRow("unanswered, resent after the limit")
        << module << 4 << false << 300 * Ms << same << true;
    QTest::newRow("unanswered, resent at once") << module << 4 << false << 1 * Ms << same << true;
    QTest::newRow("unanswered, other bytes") << module << 4 << false << 1 * Ms << other << true;
    QTest::newRow("answered, same bytes within the limit")
        << module << 4 << true << 150 * Ms << same << true;
    QTest::newRow("answered, same bytes after the limit")
        << module << 4 << true << 201 * Ms << same << true;
    // Sequence numbers wrap: a later firmware piece with the number of an
    // answered one is a new request.
    QTest::newRow("answered, number come round again within the limit")
        << module << 4 << true << 150 * Ms << other << false;
    QTest::newRow("unanswered, next number") << module << 5 << false << 300 * Ms << same << false;
    QTest::newRow("same number from the other side")
        << int(Mcu) << 4 << false << 10 * Ms << same << false;
    QTest::newRow("unanswered for ten limits: a new request")
        << module << 4 << false << 2001 * Ms << other << false;
    QTest::newRow("answered, same bytes ten limits later: a new request")
        << module << 4 << true << 2001 * Ms << same << false;
}

void TestFrameAnalyzer::retransmissions()
{
    QFETCH(int, secondDirection);
    QFETCH(int, secondSequence);
    QFETCH(bool, answerFirst);
    QFETCH(qint64, gap);
    QFETCH(QByteArray, secondPayload);
    QFETCH(bool, retransmission);

    FrameAnalyzer analyzer;
    const qint64 first = analyzer.add(segment(Module, T0, wireFrame(0x13, 4)));
    if (answerFirst)
        analyzer.add(segment(Mcu, T0 + 20 * Ms, wireFrame(0x14, 4)));
    const qint64 second = analyzer.add(segment(LineDirection(secondDirection), T0 + gap,
                                               wireFrame(0x13, secondSequence, secondPayload)));
    QCOMPARE(bool(analyzer.record(second).problems & FrameProblem::Retransmission), retransmission);
    QVERIFY(!(analyzer.record(first).problems & FrameProblem::Retransmission));

    // The answer after a resend pairs with the resend.
    if (retransmission && !answerFirst) {
        const qint64 reply = analyzer.add(segment(Mcu, T0 + gap + 5 * Ms, wireFrame(0x14, 4)));
        QCOMPARE(analyzer.record(reply).pairId, second);
        QCOMPARE(analyzer.record(first).pairId, qint64(-1));
    }
}

void TestFrameAnalyzer::countsPerDirectionAndKind()
{
    FrameAnalyzer analyzer;
    const QByteArray heartbeat = wireFrame(0x07, 1);
    const QByteArray answer = wireFrame(0x08, 1);
    QByteArray bad = wireFrame(0x0D, 2, hex("0B 21"));
    bad[bad.size() - 1] = 0;
    analyzer.add(segment(Module, T0, heartbeat));
    analyzer.add(segment(Mcu, T0 + 1 * Ms, answer));
    analyzer.add(segment(Module, T0 + 2 * Ms, "boot\n", SegmentKind::Other));
    analyzer.add(segment(Module, T0 + 3 * Ms, bad));
    analyzer.add(segment(Mcu, T0 + 4 * Ms, hex("00 00 00 03 00 02 03 0b"), SegmentKind::Frame3));
    analyzer.expire(T0 + 1000 * Ms, nullptr);

    const AnalyzerCounters &c = analyzer.counters();
    QCOMPARE(c.frames[int(Module)], 2);
    QCOMPARE(c.frames[int(Mcu)], 2);
    QCOMPARE(c.framesTotal(), 4);
    QCOMPARE(c.bytes[int(Module)], heartbeat.size() + 5 + bad.size());
    QCOMPARE(c.bytes[int(Mcu)], answer.size() + 8);
    QCOMPARE(c.rows, 5);
    QCOMPARE(c.problemCount(FrameProblem::Noise), 1);
    QCOMPARE(c.problemCount(FrameProblem::BadChecksum), 1);
    QCOMPARE(c.problemCount(FrameProblem::NoReply), 1); // the bad 0D got no answer
    QCOMPARE(c.problemCount(FrameProblem::Truncated), 0);
    QCOMPARE(c.firstTimeUs, T0);
    QCOMPARE(c.lastTimeUs, T0 + 4 * Ms);
}

void TestFrameAnalyzer::dropsOldBlocksAndStaysConsistent()
{
    const int block = FrameAnalyzer::BlockRows;
    FrameAnalyzer analyzer;
    analyzer.setMaxRows(block);
    const qint64 oldRequest = analyzer.add(segment(Module, T0, wireFrame(0x03, 9, hex("02"))));
    for (int i = 1; i < 3 * block + 10; ++i) {
        const QByteArray wire = wireFrame(0x05, i & 0xFF, ZemTool::numberToBytes(quint32(i), 4));
        const qint64 id = analyzer.add(segment(Mcu, T0 + i, wire));
        QCOMPARE(id, qint64(i));
        const qint64 kept = analyzer.endId() - analyzer.firstId();
        QVERIFY(kept >= qMin<qint64>(i + 1, block));
        QVERIFY(kept < 2 * block);
    }
    QCOMPARE(analyzer.firstId() % block, 0);
    QVERIFY(!analyzer.contains(oldRequest));
    QVERIFY(analyzer.wire(oldRequest).isEmpty());
    for (qint64 id = analyzer.firstId(); id < analyzer.endId(); id += 97) {
        const QByteArray expected
            = wireFrame(0x05, int(id & 0xFF), ZemTool::numberToBytes(quint32(id), 4));
        QCOMPARE(analyzer.wire(id), expected);
        QCOMPARE(analyzer.record(id).timeUs, T0 + id);
    }
    // The answer to a dropped request finds nothing to pair with.
    const qint64 late = analyzer.add(segment(Mcu, T0 + 3 * block + 20, wireFrame(0x04, 9)));
    QVERIFY(analyzer.record(late).problems & FrameProblem::UnexpectedReply);
    // Totals keep counting what was dropped.
    QCOMPARE(analyzer.counters().rows, 3 * block + 11);
}

void TestFrameAnalyzer::clearStartsOverWithNewIds()
{
    FrameAnalyzer analyzer;
    analyzer.add(segment(Module, T0, wireFrame(0x07, 1)));
    const qint64 before = analyzer.add(segment(Module, T0, "x", SegmentKind::Other));
    analyzer.clear();
    QCOMPARE(analyzer.firstId(), analyzer.endId());
    QCOMPARE(analyzer.firstId(), before + 1); // numbers go on, without a gap
    QCOMPARE(analyzer.counters().rows, 0);
    QCOMPARE(analyzer.counters().problemCount(FrameProblem::Noise), 0);
    // The request before clear() is forgotten: its answer is unexpected now.
    const qint64 reply = analyzer.add(segment(Mcu, T0 + 1, wireFrame(0x08, 1)));
    QCOMPARE(reply, analyzer.firstId());
    QVERIFY(analyzer.record(reply).problems & FrameProblem::UnexpectedReply);
    QVERIFY(!analyzer.contains(before));
    // A first block begun part of the way in is dropped like any other.
    const int block = FrameAnalyzer::BlockRows;
    analyzer.setMaxRows(block);
    for (int i = 0; i < 2 * block; ++i)
        analyzer.add(segment(Mcu, T0 + 2 + i, wireFrame(0x05, i & 0xFF)));
    QCOMPARE(analyzer.firstId() % block, 0);
    QCOMPARE(analyzer.wire(analyzer.endId() - 1), wireFrame(0x05, (2 * block - 1) & 0xFF));
    QCOMPARE(analyzer.record(analyzer.firstId()).timeUs, T0 + 2 + analyzer.firstId() - reply - 1);
}

// Bytes as they cross the line, through the segmenter into the analyzer: a
// heartbeat, its answer split over two chunks and escaped FFs, boot text.
void TestFrameAnalyzer::segmentedConversationRoundTrip()
{
    StreamSegmenter fromModule(Module);
    StreamSegmenter fromMcu(Mcu);
    FrameAnalyzer analyzer;
    QVector<LineSegment> out;
    const QByteArray ask = wireFrame(0x03, 0xFF, hex("02"));
    const QByteArray status = wireFrame(0x04, 0xFF, hex("03 FF 00 FF"));
    fromModule.feed(QByteArray("boot\r\n") + ask, T0, out);
    fromMcu.feed(status.left(5), T0 + 3 * Ms, out);
    fromMcu.feed(status.mid(5), T0 + 4 * Ms, out);
    for (const LineSegment &s : out)
        analyzer.add(s);

    QCOMPARE(analyzer.endId() - analyzer.firstId(), 3);
    const qint64 first = analyzer.firstId();
    QCOMPARE(analyzer.record(first).kind, SegmentKind::Other);
    QCOMPARE(analyzer.record(first + 1).pairId, first + 2);
    QCOMPARE(analyzer.record(first + 2).latencyUs, 3 * Ms);
    QCOMPARE(int(analyzer.record(first + 2).problems), 0);
    QCOMPARE(analyzer.frame(first + 2), Frame::unescape(status));
    QCOMPARE(analyzer.wire(first + 2), status);
}

// Random requests and answers from both sides, some lost, some late, some
// resent, some in the wrong order: pairs always point at each other with the
// same latency, a reply pairs with a request of code - 1 from the other side,
// and the problem counters equal what the rows carry.
void TestFrameAnalyzer::randomConversationKeepsItsInvariants()
{
    QRandomGenerator rng(2024);
    FrameAnalyzer analyzer;
    qint64 time = T0;
    for (int i = 0; i < 20000; ++i) {
        time += rng.bounded(0, 120) * Ms;
        const LineDirection side = rng.bounded(2) ? Mcu : Module;
        const int code = int(rng.bounded(1, 0x21));
        const int sequence = int(rng.bounded(4)); // few numbers: many resends and clashes
        // Now and then a segment that began a little earlier than the last one.
        const qint64 at = time - (rng.bounded(10) == 0 ? rng.bounded(0, 100) * Ms : 0);
        if (rng.bounded(50) == 0)
            analyzer.add(segment(side, at, "noise", SegmentKind::Other));
        else
            analyzer.add(segment(side, at, wireFrame(code, sequence)));
        if (rng.bounded(100) == 0)
            analyzer.expire(time, nullptr);
    }
    analyzer.expire(time + 10'000 * Ms, nullptr);

    qint64 problems[FrameProblem::KindCount] = {};
    qint64 pairs = 0;
    for (qint64 id = analyzer.firstId(); id < analyzer.endId(); ++id) {
        const FrameRecord &r = analyzer.record(id);
        for (int kind = 0; kind < FrameProblem::KindCount; ++kind)
            problems[kind] += (r.problems & FrameProblem::bit(kind)) ? 1 : 0;
        if (r.pairId < 0)
            continue;
        ++pairs;
        const FrameRecord &other = analyzer.record(r.pairId);
        QCOMPARE(other.pairId, id);
        QCOMPARE(other.latencyUs, r.latencyUs);
        QVERIFY(other.direction != r.direction);
        const FrameRecord &request = (r.command & 1) ? r : other;
        const FrameRecord &reply = (r.command & 1) ? other : r;
        QCOMPARE(reply.command, qint16(request.command + 1));
        QCOMPARE(reply.sequence, request.sequence);
        QCOMPARE(bool(request.problems & FrameProblem::NoReply),
                 r.latencyUs > analyzer.replyLimitUs());
        QVERIFY(!(reply.problems & FrameProblem::UnexpectedReply));
    }
    QVERIFY(pairs > 1000);
    for (int kind = 0; kind < FrameProblem::KindCount; ++kind)
        QCOMPARE(analyzer.counters().problems[kind], problems[kind]);
}

QTEST_GUILESS_MAIN(TestFrameAnalyzer)
#include "tst_frameanalyzer.moc"
