// SPDX-License-Identifier: GPL-3.0-or-later
// Cutting one direction's raw bytes into frames and runs of other bytes,
// without losing, adding or merging a byte.
#include "testsupport.h"

#include "protocol/streamsegmenter.h"
#include "protocol/zemtool.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// A segment as the tests compare it: kind letter and hex, e.g. "4:FF FF 00 05 …".
QString describe(const LineSegment &s)
{
    const char *kind = s.kind == SegmentKind::Frame4 ? "4"
        : s.kind == SegmentKind::Frame3              ? "3"
                                                     : "O";
    return QString::fromLatin1(kind) + QLatin1Char(':') + ZemTool::hexText(s.wire).trimmed();
}

QStringList describeAll(const QVector<LineSegment> &segments)
{
    QStringList out;
    for (const LineSegment &s : segments)
        out.append(describe(s));
    return out;
}

QVector<LineSegment> segmentAll(const QList<QByteArray> &chunks)
{
    StreamSegmenter segmenter(LineDirection::ModuleToMcu);
    QVector<LineSegment> out;
    qint64 time = 1000;
    for (const QByteArray &c : chunks)
        segmenter.feed(c, time++, out);
    segmenter.flush(out);
    return out;
}

QList<QByteArray> byteByByte(const QByteArray &stream)
{
    QList<QByteArray> chunks;
    for (const char c : stream)
        chunks.append(QByteArray(1, c));
    return chunks;
}

// A frame whose checksum comes out as FF: the last payload byte is chosen so.
QByteArray frameWithChecksumFf(int command)
{
    QByteArray f = makeFrame(command, 0x10, hex("01 00"));
    const quint8 sum = ZemTool::checksum(f.left(f.size() - 2), 2, 0);
    f[f.size() - 2] = char(quint8(0xFF - sum));
    ZemTool::setFrameChecksum(f);
    return f;
}

QString seg(const char *kind, const QByteArray &bytes)
{
    return QString::fromLatin1(kind) + QLatin1Char(':') + ZemTool::hexText(bytes).trimmed();
}

} // namespace

class TestStreamSegmenter : public QObject
{
    Q_OBJECT
private slots:
    void segments_data();
    void segments();
    void timesAreThoseOfTheFirstByte();
    void holdsUntilFlushed();
    void randomStreamsAreLossless_data();
    void randomStreamsAreLossless();
};

void TestStreamSegmenter::segments_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("expected");

    const QByteArray heartbeat = hex("FF FF 00 05 08 07 00 00 14");
    const QByteArray withFf = ZemTool::escape(makeFrame(0x05, 0xFF, hex("04 FF 01")));
    const QByteArray lengthLowFf = ZemTool::escape(makeFrame(0x1D, 0x01, QByteArray(0xFA, '\x33')));
    const QByteArray checksumFf = ZemTool::escape(frameWithChecksumFf(0x03));
    QByteArray finalFfBare = checksumFf;
    finalFfBare.chop(1); // the sender forgot the 55 after the checksum
    const QByteArray v3 = hex("00 00 00 03 00 02 03 0b");
    QByteArray unescaped = makeFrame(0x03, 0x02, hex("01 FF 12"));

    QTest::newRow("one frame") << heartbeat << QStringList{seg("4", heartbeat)};
    QTest::newRow("noise before a frame")
        << hex("12 34") + heartbeat << QStringList{"O:12 34", seg("4", heartbeat)};
    QTest::newRow("escaped FF in sequence and payload")
        << withFf + heartbeat << QStringList{seg("4", withFf), seg("4", heartbeat)};
    QTest::newRow("length low byte FF is escaped")
        << lengthLowFf << QStringList{seg("4", lengthLowFf)};
    QTest::newRow("checksum FF waits for its 55")
        << checksumFf + heartbeat << QStringList{seg("4", checksumFf), seg("4", heartbeat)};
    QTest::newRow("final FF without 55 before the next header")
        << finalFfBare + heartbeat << QStringList{seg("4", finalFfBare), seg("4", heartbeat)};
    QTest::newRow("two stray FFs between the final FF and its 55") << finalFfBare + hex("FF FF 55")
            + heartbeat << QStringList{seg("4", finalFfBare), "O:FF FF 55", seg("4", heartbeat)};
    QTest::newRow("final FF without 55 before text") << finalFfBare
            + "ok\n" << QStringList{seg("4", finalFfBare), "O:6F 6B 0A"};
    QTest::newRow("cut where the next header's FF is the last byte counted") << heartbeat.left(8)
            + heartbeat << QStringList{seg("4", heartbeat.left(8)), seg("4", heartbeat)};
    QTest::newRow("raw FF FF inside a frame starts the next") << heartbeat.left(6)
            + heartbeat << QStringList{seg("4", heartbeat.left(6)), seg("4", heartbeat)};
    QTest::newRow("unescaped FF inside is counted once")
        << unescaped + heartbeat << QStringList{seg("4", unescaped), seg("4", heartbeat)};
    QTest::newRow("length below 5 is no frame") << hex("FF FF 00 04 01 02")
            + heartbeat << QStringList{"O:FF FF 00 04 01 02", seg("4", heartbeat)};
    QTest::newRow("FF FF FF: first FF is noise")
        << hex("FF") + heartbeat << QStringList{"O:FF", seg("4", heartbeat)};
    QTest::newRow("header whose length never came") << hex("FF FF 00 FF FF")
            + heartbeat.mid(2) << QStringList{"O:FF FF 00", seg("4", heartbeat)};
    QTest::newRow("version 3 frame") << v3 << QStringList{seg("3", v3)};
    QTest::newRow("zeros before a version 3 frame") << hex("00 00") + v3
            + heartbeat << QStringList{"O:00 00", seg("3", v3), seg("4", heartbeat)};
    QTest::newRow("version 3 frame of length 0")
        << hex("00 00 00 03 00 00 41") << QStringList{"3:00 00 00 03 00 00", "O:41"};
    QTest::newRow("boot text one row per line")
        << QByteArray("boot v1.2\r\nready\nrest")
        << QStringList{seg("O", "boot v1.2\r\n"), seg("O", "ready\n"), seg("O", "rest")};
    QTest::newRow("long run cut at 4096")
        << QByteArray(5000, 'a')
        << QStringList{seg("O", QByteArray(4096, 'a')), seg("O", QByteArray(904, 'a'))};
    QTest::newRow("text around a frame") << QByteArray("a\x01") + heartbeat + "b"
                                         << QStringList{"O:61 01", seg("4", heartbeat), "O:62"};
    QTest::newRow("partial frame at flush")
        << hex("FF FF 00 09 01 02") << QStringList{"4:FF FF 00 09 01 02"};
    QTest::newRow("partial frame ending in FF at flush")
        << hex("FF FF 00 09 01 FF") << QStringList{"4:FF FF 00 09 01 FF"};
    QTest::newRow("header only at flush") << hex("FF FF 00") << QStringList{"O:FF FF 00"};
}

void TestStreamSegmenter::segments()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, expected);

    QCOMPARE(describeAll(segmentAll({stream})), expected);
    // The same, a byte at a time: nothing depends on where chunks end.
    QCOMPARE(describeAll(segmentAll(byteByByte(stream))), expected);
}

void TestStreamSegmenter::timesAreThoseOfTheFirstByte()
{
    StreamSegmenter segmenter(LineDirection::McuToModule);
    QVector<LineSegment> out;
    // "x" at 10; a header FF at 20, FF at 30 and FF at 40: the first FF is
    // noise joining "x"'s run, the frame starts with the FF of 30.
    segmenter.feed("x", 10, out);
    segmenter.feed(hex("FF"), 20, out);
    segmenter.feed(hex("FF"), 30, out);
    QVERIFY(out.isEmpty());
    segmenter.feed(hex("FF 00 05 08 07"), 40, out);
    QCOMPARE(out.size(), 1); // the frame began: the run before it is complete
    segmenter.feed(hex("00 00 14 FF FF 00 05 01 02 FF FF 00 05 08 07 00 00 14"), 50, out);
    QCOMPARE(out.size(), 4);
    QCOMPARE(out[0].timeUs, qint64(10));
    QCOMPARE(out[0].wire, hex("78 FF"));
    QCOMPARE(out[1].timeUs, qint64(30));
    QCOMPARE(out[1].kind, SegmentKind::Frame4);
    QCOMPARE(out[1].direction, LineDirection::McuToModule);
    QCOMPARE(out[2].wire, hex("FF FF 00 05 01 02"));
    QCOMPARE(out[3].timeUs, qint64(50));
}

void TestStreamSegmenter::holdsUntilFlushed()
{
    StreamSegmenter segmenter(LineDirection::McuToModule);
    QVector<LineSegment> out;
    QVERIFY(!segmenter.holding());
    segmenter.feed("no newline", 7, out);
    segmenter.feed(hex("FF FF 00 0A 01"), 9, out);
    QCOMPARE(out.size(), 1); // the text ended where the frame began
    QVERIFY(segmenter.holding());
    QCOMPARE(segmenter.heldSinceUs(), qint64(9));

    segmenter.flush(out);
    QVERIFY(!segmenter.holding());
    QCOMPARE(describeAll(out), (QStringList{seg("O", "no newline"), "4:FF FF 00 0A 01"}));

    segmenter.feed(hex("FF FF 00"), 11, out);
    segmenter.clear();
    QVERIFY(!segmenter.holding());
    segmenter.flush(out);
    QCOMPARE(out.size(), 2);
}

void TestStreamSegmenter::randomStreamsAreLossless_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 2u, 3u, 7u, 42u, 1234u})
        QTest::newRow(qPrintable(QString::number(seed))) << seed;
}

// Builds a stream of noise (FF, 55 and 00 among it), escaped v4 frames with FF
// in every field, v3 frames, frames cut short, frames with a bare FF and lines
// of text. Every whole v4 frame must come out as exactly one segment holding
// exactly its bytes, whatever the chunk splits; the concatenation of all
// segments must be the stream.
void TestStreamSegmenter::randomStreamsAreLossless()
{
    QFETCH(quint32, seed);
    QRandomGenerator rng(seed);
    auto randomBytes = [&rng](int n, bool ffRich) {
        QByteArray b(n, '\0');
        static const char special[] = {char(0xFF), char(0x55), 0, '\n'};
        for (char &c : b)
            c = ffRich && rng.bounded(3) == 0 ? special[rng.bounded(4)] : char(rng.bounded(256));
        return b;
    };

    QByteArray stream;
    QVector<QPair<int, int>> wholeFrames; // offset, size
    bool previousWhole = true;
    for (int item = 0; item < 400; ++item) {
        const int what = int(rng.bounded(7));
        if (what <= 2) { // a good frame, FF likely in any field
            QByteArray payload = randomBytes(int(rng.bounded(0, 300)), true);
            const int command = rng.bounded(4) == 0 ? 0xFF : int(rng.bounded(1, 0x21));
            const int sequence = rng.bounded(4) == 0 ? 0xFF : int(rng.bounded(256));
            QByteArray f = makeFrame(command, sequence, payload);
            if (rng.bounded(4) == 0) {
                f[6] = char(0xFF);
                ZemTool::setFrameChecksum(f);
            }
            const QByteArray wire = ZemTool::escape(f);
            wholeFrames.append({int(stream.size()), int(wire.size())});
            stream.append(wire);
            previousWhole = true;
            continue;
        }
        if (what == 3) { // noise, never a v3 header (its length would swallow the rest)
            QByteArray noise = randomBytes(int(rng.bounded(1, 40)), true);
            while (noise.contains(QByteArray("\0\0\0\x03", 4)))
                noise = randomBytes(int(rng.bounded(1, 40)), true);
            stream.append(noise);
        } else if (what == 4) { // a frame cut short
            const QByteArray wire = ZemTool::escape(makeFrame(0x07, 1, randomBytes(20, true)));
            stream.append(wire.left(int(rng.bounded(1, wire.size()))));
        } else if (what == 5) { // a frame sent with bare FFs
            QByteArray f
                = makeFrame(0x05, 2, randomBytes(int(rng.bounded(1, 30)), false) + hex("FF"));
            stream.append(f);
        } else { // v3 frame or a line of text
            if (previousWhole && rng.bounded(2) == 0)
                stream.append(hex("00 00 00 03 00 02 03 0b"));
            else
                stream.append("module boot: ok\r\n");
        }
        previousWhole = false;
    }

    QStringList reference;
    for (int split = 0; split < 4; ++split) {
        QList<QByteArray> chunks;
        for (int at = 0; at < stream.size();) {
            const int n = split == 0 ? int(stream.size()) : int(rng.bounded(1, split * 40));
            chunks.append(stream.mid(at, n));
            at += n;
        }
        const QVector<LineSegment> segments = segmentAll(chunks);

        QByteArray joined;
        QHash<int, int> frameAt; // offset -> size of the v4 segments
        for (const LineSegment &s : segments) {
            QVERIFY(!s.wire.isEmpty());
            if (s.kind == SegmentKind::Frame4)
                frameAt.insert(int(joined.size()), int(s.wire.size()));
            if (s.kind == SegmentKind::Other)
                QVERIFY(s.wire.size() <= StreamSegmenter::MaxOtherRun);
            joined.append(s.wire);
        }
        QCOMPARE(joined.size(), stream.size());
        QVERIFY(joined == stream);
        for (const auto &whole : wholeFrames)
            QCOMPARE(frameAt.value(whole.first, -1), whole.second);

        const QStringList described = describeAll(segments);
        if (split == 0)
            reference = described;
        else
            QCOMPARE(described, reference);
    }
}

QTEST_GUILESS_MAIN(TestStreamSegmenter)
#include "tst_streamsegmenter.moc"
