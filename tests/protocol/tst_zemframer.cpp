// SPDX-License-Identifier: GPL-3.0-or-later
// The frame assembler: cutting a raw, escaped byte stream into whole frames.
#include "testsupport.h"

#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

namespace {

// Feeds the chunks and returns every emitted frame.
QList<QByteArray> feed(const QList<QByteArray> &chunks)
{
    ZemFramer framer;
    QList<QByteArray> out;
    QObject::connect(&framer, &ZemFramer::LineDataReady,
                     [&out](const QByteArray &f) { out.append(f); });
    for (const QByteArray &c : chunks)
        framer.dataToV4(c);
    return out;
}

QList<QByteArray> feed(const QByteArray &stream)
{
    return feed(QList<QByteArray>{stream});
}

} // namespace

class TestZemFramer : public QObject
{
    Q_OBJECT
private slots:
    void streams_data();
    void streams();
    void everySplitPointEmitsOnce();
    void wholeFrameOfEveryLengthByteRoundTrips();
    void clearDropsPartialFrame();
    void randomStreamStaysBounded();
    void damageCostsOnlyTheFramesItTouches();
    void untouchedFramesOfBothSendersSurvive();
    void constructedWithoutPortSaysSo();
};

void TestZemFramer::streams_data()
{
    const QByteArray heartbeat = hex("FFFF000508070000 14");
    const QByteArray withFF = makeFrame(0x05, 0x01, hex("04 FF 01"));
    const QByteArray withFF55 = makeFrame(0x05, 0x02, hex("04 FF 55 01"));
    const QByteArray lengthLowFF = makeFrame(0x05, 0x03, QByteArray(0xFA, '\x11'));
    const QByteArray length55 = makeFrame(0x05, 0x04, QByteArray(0x5500 - 5, '\x22'));

    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("frames");

    QTest::newRow("noise before header is dropped")
        << hex("1234") + heartbeat << QList<QByteArray>{heartbeat};
    QTest::newRow("two frames in one chunk")
        << heartbeat + withFF << QList<QByteArray>{heartbeat, withFF};
    QTest::newRow("escaped body FF comes out single")
        << ZemTool::escape(withFF) << QList<QByteArray>{withFF};
    QTest::newRow("body FF 55 sent as FF 55 55 comes out FF 55")
        << ZemTool::escape(withFF55) << QList<QByteArray>{withFF55};
    QTest::newRow("escaped length low byte FF")
        << ZemTool::escape(lengthLowFF) << QList<QByteArray>{lengthLowFF};
    QTest::newRow("length high byte 55")
        << ZemTool::escape(length55) << QList<QByteArray>{length55};
    QTest::newRow("stray FF before a frame")
        << hex("FF") + heartbeat << QList<QByteArray>{heartbeat};
    QTest::newRow("stray FF between frames")
        << heartbeat + hex("FF") + heartbeat << QList<QByteArray>{heartbeat, heartbeat};
    QTest::newRow("power-up run of FFs")
        << hex("FFFFFFFFFF") + heartbeat << QList<QByteArray>{heartbeat};
    QTest::newRow("truncated frame then a good one")
        << hex("FFFF0010 0101 0000 AA") + heartbeat << QList<QByteArray>{heartbeat};
    QTest::newRow("corrupted length then a good one") << hex("FFFF 7F00 0101 0000 AABB") + heartbeat
            + withFF << QList<QByteArray>{heartbeat, withFF};
    QTest::newRow("length zero is skipped")
        << hex("FFFF0000") + heartbeat << QList<QByteArray>{heartbeat};
    QTest::newRow("checksum FF, escaped, then next frame")
        << ZemTool::escape(hex("FFFF000501F90000 FF")) + heartbeat
        << QList<QByteArray>{hex("FFFF000501F90000FF"), heartbeat};
    QTest::newRow("wrong checksum still emitted")
        << hex("FFFF000508070000 99") << QList<QByteArray>{hex("FFFF00050807000099")};
    QTest::newRow("frame one byte short keeps the next frame")
        << hex("FFFF000508070000") + heartbeat + hex("FFFF000508080000 15")
        << QList<QByteArray>{heartbeat, hex("FFFF00050808000015")};
    QTest::newRow("length one too many keeps the next frame")
        << hex("FFFF000601F90000 AA") + heartbeat << QList<QByteArray>{heartbeat};
    QTest::newRow("unescaped last FF then noise: frame kept, noise dropped")
        << hex("FFFF000501F90000 FF 12") + heartbeat
        << QList<QByteArray>{hex("FFFF000501F90000FF"), heartbeat};
    QTest::newRow("unescaped last FF then a header: both kept") << hex("FFFF000501F90000 FF")
            + heartbeat << QList<QByteArray>{hex("FFFF000501F90000FF"), heartbeat};
    QTest::newRow("bare final FF, next header at once")
        << hex("FFFF000605B00000 44 FF FFFF000605B10000 44 00")
        << QList<QByteArray>{hex("FFFF000605B0000044FF"), hex("FFFF000605B1000044 00")};
    QTest::newRow("unescaped heartbeat with checksum FF, next frame at once")
        << hex("FFFF000507F30000 FF") + withFF
        << QList<QByteArray>{hex("FFFF000507F30000FF"), withFF};
    QTest::newRow("two stray FFs between the final FF and its 55")
        << hex("FFFF000501F90000 FF FFFF 55") + heartbeat
        << QList<QByteArray>{hex("FFFF000501F90000FF"), heartbeat};
    QTest::newRow("three stray FFs between the final FF and its 55")
        << hex("FFFF000501F90000 FF FFFFFF 55") + heartbeat
        << QList<QByteArray>{hex("FFFF000501F90000FF"), heartbeat};
    // FF FF 55 after the last counted FF reads as a frame cut one byte short
    // and a header: the frame is lost, the next one is not.
    QTest::newRow("one stray FF between the final FF and its 55")
        << hex("FFFF000501F90000 FF FF 55") + heartbeat << QList<QByteArray>{heartbeat};
    QTest::newRow("frame cut just before its checksum FF, then a frame")
        << hex("FFFF000507F30000") + heartbeat << QList<QByteArray>{heartbeat};
    QTest::newRow("bare checksum FF, next header lost a byte: read as a cut")
        << hex("FFFF000507F30000 FF") + heartbeat.mid(1) + heartbeat
        << QList<QByteArray>{heartbeat, heartbeat};
    QTest::newRow("cut inside an escape pair, then a frame")
        << ZemTool::escape(withFF).left(10) + heartbeat << QList<QByteArray>{heartbeat};
    QTest::newRow("cut after a bare FF, then a frame")
        << hex("FFFF000801010000 04FF") + heartbeat << QList<QByteArray>{heartbeat};
    QTest::newRow("lone 55 after frame is noise")
        << heartbeat + hex("55") + heartbeat << QList<QByteArray>{heartbeat, heartbeat};
}

void TestZemFramer::streams()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<QByteArray>, frames);
    QCOMPARE(feed(stream), frames);
    // Byte by byte gives the same.
    QList<QByteArray> single;
    for (char c : stream)
        single.append(QByteArray(1, c));
    QCOMPARE(feed(single), frames);
}

void TestZemFramer::everySplitPointEmitsOnce()
{
    const QByteArray frame = makeFrame(0x05, 0x09, hex("04 FF 00 FF FF 7A"));
    const QByteArray wire = ZemTool::escape(frame);
    for (int cut = 0; cut <= wire.size(); ++cut) {
        ZemFramer framer;
        QSignalSpy spy(&framer, &ZemFramer::LineDataReady);
        framer.dataToV4(wire.left(cut));
        if (cut < wire.size() - 1)
            QCOMPARE(spy.count(), 0);
        framer.dataToV4(wire.mid(cut));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toByteArray(), frame);
    }
}

void TestZemFramer::wholeFrameOfEveryLengthByteRoundTrips()
{
    // Every value of each byte position of a short frame, escaped on the wire.
    for (int v = 0; v < 256; ++v) {
        const QByteArray frame = makeFrame(v, 255 - v, QByteArray(3, char(v)));
        QCOMPARE(feed(ZemTool::escape(frame)), QList<QByteArray>{frame});
    }
}

void TestZemFramer::clearDropsPartialFrame()
{
    ZemFramer framer;
    QSignalSpy spy(&framer, &ZemFramer::LineDataReady);
    framer.dataToV4(hex("FFFF000508"));
    QCOMPARE(framer.buffer(), hex("FFFF000508"));
    framer.clear();
    QVERIFY(framer.buffer().isEmpty());
    framer.dataToV4(hex("070000 14"));
    QCOMPARE(spy.count(), 0);
}

void TestZemFramer::randomStreamStaysBounded()
{
    QRandomGenerator rng(1234);
    ZemFramer framer;
    int maxBuffer = 0;
    int bad = 0;
    QObject::connect(&framer, &ZemFramer::LineDataReady, [&bad](const QByteArray &f) {
        // Every emitted frame is a whole frame by its own length field.
        if (f.size() < 5 || ZemTool::word16(f, 2) + 4 != f.size() || quint8(f.at(0)) != 0xFF
            || quint8(f.at(1)) != 0xFF)
            ++bad;
    });
    for (int round = 0; round < 2000; ++round) {
        QByteArray chunk(int(rng.bounded(1, 200)), '\0');
        for (char &c : chunk) {
            // Plenty of FF and 55 so headers and escapes occur.
            const quint32 r = rng.bounded(8);
            c = r == 0 ? char(0xFF) : r == 1 ? char(0x55) : char(rng.bounded(256));
        }
        framer.dataToV4(chunk);
        const int len = framer.buffer().size() >= 4 ? ZemTool::word16(framer.buffer(), 2) + 4 : 4;
        QVERIFY(framer.buffer().size() <= qMax(len, 4));
        maxBuffer = qMax(maxBuffer, framer.buffer().size());
    }
    QCOMPARE(bad, 0);
    QVERIFY(maxBuffer <= 0xFFFF + 4);
}

void TestZemFramer::damageCostsOnlyTheFramesItTouches()
{
    // Good frames (with FFs in every field) interleaved with damage of every
    // kind real lines show, cut into random chunks: every good frame must
    // come out, in order.
    QRandomGenerator rng(99);
    const auto randomBytes = [&rng](int n) {
        QByteArray b(n, '\0');
        for (char &c : b) {
            const quint32 r = rng.bounded(4);
            c = r == 0 ? char(0xFF) : r == 1 ? char(0x55) : char(rng.bounded(256));
        }
        return b;
    };
    QByteArray wire;
    QList<QByteArray> good;
    for (int i = 0; i < 3000; ++i) {
        const QByteArray frame = makeFrame(int(rng.bounded(256)), int(rng.bounded(256)),
                                           randomBytes(int(rng.bounded(0, 40))));
        const QByteArray escaped = ZemTool::escape(frame);
        switch (rng.bounded(6)) {
        case 0: // truncated anywhere
            wire += escaped.left(int(rng.bounded(escaped.size())));
            break;
        case 1: { // length off by any amount (a high byte of FF is the one
                  // length no receiver can tell from a stray FF)
            QByteArray damaged = frame;
            const int length = (ZemTool::word16(frame, 2) + int(rng.bounded(-8, 300))) & 0xFEFF;
            damaged[2] = char(length >> 8);
            damaged[3] = char(length);
            wire += ZemTool::escape(damaged);
            break;
        }
        case 2: // noise, stray FFs and 55s included
            wire += randomBytes(int(rng.bounded(1, 12)));
            break;
        case 3: // an FF that lost its 55
            wire += escaped.left(escaped.size() / 2) + hex("FF") + escaped.mid(escaped.size() / 2);
            break;
        default:
            wire += escaped;
            good.append(frame);
        }
    }
    QList<QByteArray> chunks;
    for (int at = 0; at < wire.size();) {
        const int n = int(rng.bounded(1, 64));
        chunks.append(wire.mid(at, n));
        at += n;
    }
    const QList<QByteArray> out = feed(chunks);
    int found = 0;
    for (const QByteArray &frame : out)
        if (found < good.size() && frame == good.at(found))
            ++found;
    QCOMPARE(found, good.size());
}

namespace {
// A sender that does not escape still sends frames a receiver can read as
// long as no FF inside is followed by FF or 55; its last byte may be FF.
bool readableUnescaped(const QByteArray &frame)
{
    for (int i = 3; i + 1 < frame.size(); ++i)
        if (quint8(frame.at(i)) == 0xFF
            && (quint8(frame.at(i + 1)) == 0xFF || frame.at(i + 1) == 0x55))
            return false;
    return true;
}
} // namespace

void TestZemFramer::untouchedFramesOfBothSendersSurvive()
{
    // Frames from a sender that escapes and from one that does not (a quarter
    // of them with checksum FF), a quarter damaged on the way or followed by
    // stray FFs, cut into random chunks: every frame no damage touched must
    // come out, in order.
    QRandomGenerator rng(2266);
    QByteArray wire;
    QList<QByteArray> untouched;
    bool bareEnd = false; // the bytes so far end in an untouched frame's bare FF
    for (int i = 0; i < 2000; ++i) {
        const bool escaping = rng.bounded(2) == 0;
        QByteArray frame;
        do {
            QByteArray payload(int(rng.bounded(0, 24)), '\0');
            for (char &c : payload)
                c = rng.bounded(5) == 0 ? char(0xFF) : char(rng.bounded(256));
            frame = makeFrame(int(rng.bounded(1, 0x21)), int(rng.bounded(256)), payload);
            if (rng.bounded(4) == 0) { // checksum FF: the byte before it makes it so
                const int at = frame.size() - 2;
                frame[at] = char(quint8(frame.at(at)) + 0xFF - quint8(frame.at(at + 1)));
                ZemTool::setFrameChecksum(frame);
            }
        } while (!escaping && !readableUnescaped(frame));
        const QByteArray sent = escaping ? ZemTool::escape(frame) : frame;
        QByteArray bytes = sent;
        const int at = int(rng.bounded(1, bytes.size()));
        switch (rng.bounded(12)) {
        case 0:
            bytes.remove(at, 1);
            break;
        case 1:
            bytes.insert(at, char(rng.bounded(256)));
            break;
        case 2:
            bytes[at] = char(bytes.at(at) ^ char(rng.bounded(1, 256)));
            break;
        case 3:
            bytes.insert(at, QByteArray(int(rng.bounded(1, 4)), char(0xFF)));
            break;
        case 4:
            bytes.truncate(at);
            break;
        case 5: // stray FFs behind an untouched frame
            untouched.append(frame);
            bytes += QByteArray(int(rng.bounded(1, 4)), char(0xFF));
            break;
        default:
            untouched.append(frame);
        }
        // After a frame whose checksum FF came bare, a frame that lost its
        // second header byte reads, byte for byte, as a frame cut one byte
        // short and a whole one: the receiver takes the likelier cut (see
        // the rows), so the frame before is not counted on.
        if (bareEnd && bytes.size() > 1 && quint8(bytes.at(1)) != 0xFF)
            untouched.removeLast();
        bareEnd = !escaping && quint8(frame.at(frame.size() - 1)) == 0xFF
            && untouched.value(untouched.size() - 1) == frame && bytes == sent;
        wire += bytes;
    }
    QList<QByteArray> chunks;
    for (int at = 0; at < wire.size();) {
        const int n = int(rng.bounded(1, 64));
        chunks.append(wire.mid(at, n));
        at += n;
    }
    const QList<QByteArray> out = feed(chunks);
    int lost = 0;
    int next = 0;
    for (const QByteArray &frame : untouched) {
        const int at = int(out.indexOf(frame, next));
        if (at < 0)
            ++lost;
        else
            next = at + 1;
    }
    qInfo("%d of %d untouched frames lost", lost, int(untouched.size()));
    QCOMPARE(lost, 0);
}

namespace {
QStringList debugLines;
void collectDebugLine(QtMsgType, const QMessageLogContext &, const QString &text)
{
    debugLines.append(text);
}
} // namespace

void TestZemFramer::constructedWithoutPortSaysSo()
{
    TestRoot root(false);
    ZemTool tool;
    debugLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectDebugLine);
    {
        // Meant for a port: a missing one is an error worth a line.
        ZemFramer framer;
        framer.listenTo<ZemSerialPort>(nullptr);
        QSignalSpy spy(&framer, &ZemFramer::LineDataReady);
        framer.dataToV4(hex("FFFF000508070000 14"));
        QCOMPARE(spy.count(), 1);
    }
    const QStringList withTool = debugLines;
    debugLines.clear();
    {
        // Meant to be fed by hand: nothing to report.
        ZemFramer framer;
        QSignalSpy spy(&framer, &ZemFramer::LineDataReady);
        framer.dataToV4(hex("FFFF000508070000 14"));
        QCOMPARE(spy.count(), 1);
    }
    qInstallMessageHandler(previous);
    QCOMPARE(withTool, QStringList{QStringLiteral("error zemSerialPort")});
    QCOMPARE(debugLines, QStringList());
}

QTEST_GUILESS_MAIN(TestZemFramer)
#include "tst_zemframer.moc"
