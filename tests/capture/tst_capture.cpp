// SPDX-License-Identifier: GPL-3.0-or-later
// Session capture: pcap files written and read back through libpcap, a
// recording of a real pseudo-terminal line, and the line monitor's batching.
#include "testsupport.h"

#include "base/apppaths.h"
#include "capture/capturepacket.h"
#include "capture/capturereader.h"
#include "capture/capturewriter.h"
#include "capture/linemonitor.h"
#include "capture/sessionrecorder.h"
#include "serial/serialline.h"
#include "serial/zemserialport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

namespace {

struct Packet
{
    LineSegment segment;
    QString portName;
};

bool samePacket(const Packet &a, const Packet &b)
{
    return a.segment.timeUs == b.segment.timeUs && a.segment.direction == b.segment.direction
        && a.segment.kind == b.segment.kind && a.segment.wire == b.segment.wire
        && a.portName == b.portName;
}

QVector<Packet> readAll(const QString &path, bool *ok, QString *error, bool *cutShort,
                        qint64 *skipped = nullptr)
{
    QVector<Packet> packets;
    *ok = CaptureReader::read(
        path,
        [&packets](const LineSegment &s, const QString &port) {
            packets.append({s, port});
            return true;
        },
        error, cutShort, skipped);
    return packets;
}

// Random segments of every kind and direction; port names include a long
// one in Chinese that the pseudo-header must cut at a character boundary.
QVector<Packet> randomPackets(int count, quint32 seed)
{
    QRandomGenerator rng(seed);
    const QStringList ports = {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/pts/7"),
                               QStringLiteral("串口一"), QString(100, QChar(0x4E32)), QString()};
    QVector<Packet> packets;
    qint64 time = 1765000000000000LL + rng.bounded(1000000);
    for (int i = 0; i < count; ++i) {
        Packet p;
        time += rng.bounded(5000);
        p.segment.timeUs = time;
        p.segment.direction
            = rng.bounded(2) ? LineDirection::ModuleToMcu : LineDirection::McuToModule;
        p.segment.kind = SegmentKind(rng.bounded(4)); // line events too
        const int size = rng.bounded(20) == 0 ? 1 + rng.bounded(6000) : 1 + rng.bounded(300);
        p.segment.wire.resize(size);
        for (char &c : p.segment.wire)
            c = char(rng.bounded(256));
        p.portName = ports.at(rng.bounded(ports.size()));
        packets.append(p);
    }
    return packets;
}

bool writeAll(const QString &path, const QVector<Packet> &packets, QString *error)
{
    CaptureWriter writer;
    if (!writer.open(path, error))
        return false;
    for (const Packet &p : packets)
        writer.write(p.segment, p.portName);
    writer.close();
    return writer.errorString().isEmpty();
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}
QByteArray le16(quint16 v)
{
    QByteArray b(2, '\0');
    qToLittleEndian(v, b.data());
    return b;
}
QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}
QByteArray be16(quint16 v)
{
    QByteArray b(2, '\0');
    qToBigEndian(v, b.data());
    return b;
}

// A classic pcap file built by hand, in either byte order, with micro- or
// nanosecond stamps, holding packets stamped 100 s + 250000 us apart.
QByteArray handPcap(bool bigEndian, bool nanoseconds, quint32 linkType,
                    const QVector<QByteArray> &packets)
{
    auto u32 = [bigEndian](quint32 v) { return bigEndian ? be32(v) : le32(v); };
    auto u16 = [bigEndian](quint16 v) { return bigEndian ? be16(v) : le16(v); };
    QByteArray file = u32(nanoseconds ? 0xA1B23C4D : 0xA1B2C3D4) + u16(2) + u16(4) + u32(0) + u32(0)
        + u32(262144) + u32(linkType);
    quint32 seconds = 1765000000;
    for (const QByteArray &p : packets) {
        seconds += 100;
        file += u32(seconds) + u32(nanoseconds ? 250000000 : 250000) + u32(quint32(p.size()))
            + u32(quint32(p.size())) + p;
    }
    return file;
}

// A pcapng file: section header, one USER0 interface (microsecond stamps by
// default), one enhanced packet block per packet, or a simple packet block
// (no time stamp) for those whose bit is set in `simple`.
QByteArray handPcapng(const QVector<QByteArray> &packets, quint64 firstUs, quint32 simple = 0)
{
    QByteArray file;
    file += le32(0x0A0D0D0A) + le32(28) + le32(0x1A2B3C4D) + le16(1) + le16(0)
        + QByteArray(8, '\xFF') + le32(28);
    file += le32(1) + le32(20) + le16(147) + le16(0) + le32(262144) + le32(20);
    quint64 t = firstUs;
    for (int i = 0; i < packets.size(); ++i) {
        const QByteArray &p = packets.at(i);
        QByteArray data = p;
        while (data.size() % 4)
            data.append('\0');
        if (simple & (1u << i)) {
            const quint32 total = quint32(16 + data.size());
            file += le32(3) + le32(total) + le32(quint32(p.size())) + data + le32(total);
            continue;
        }
        const quint32 total = quint32(32 + data.size());
        file += le32(6) + le32(total) + le32(0) + le32(quint32(t >> 32)) + le32(quint32(t))
            + le32(quint32(p.size())) + le32(quint32(p.size())) + data + le32(total);
        t += 1000;
    }
    return file;
}

QByteArray pseudoPacket(quint8 version, quint8 direction, quint8 kind, const QByteArray &name,
                        const QByteArray &wire)
{
    QByteArray p;
    p.append(char(version)).append(char(direction)).append(char(kind)).append(char(name.size()));
    return p + name + wire;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray concatDirection(const QVector<Packet> &packets, LineDirection direction)
{
    QByteArray all;
    for (const Packet &p : packets)
        if (p.segment.direction == direction)
            all += p.segment.wire;
    return all;
}

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();

    void roundTripKeepsEverySegment();
    void cutFileOpensUpToLastWholePacket();
    void foreignByteOrdersAndPcapngAreRead_data();
    void foreignByteOrdersAndPcapngAreRead();
    void otherFilesAreRefused_data();
    void otherFilesAreRefused();
    void writerReportsFileErrors();

    void portReportsOpenAndWrites();
    void monitorBatchesAndHandsOnHeldBytes();
    void monitorKeepsPortsApart();
    void monitorWaitsForSlowFrames();
    void monitorKeepsBothDirectionsInTimeOrder();

    void ptyLineRecordedLosslessly();
    void recordingReachesDiskWhileRunning();
    void stopKeepsWhatTheMonitorHeld();
    void fullDiskStopsRecordingWithMessage();
    void recorderStartsWhenPortOpens_data();
    void recorderStartsWhenPortOpens();
    void recorderReportsUnwritableFolder();
};

void TestCapture::cleanup()
{
    qunsetenv("LUMO_EXTRA_PORTS");
}

void TestCapture::roundTripKeepsEverySegment()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("round.pcap"));
    const QVector<Packet> written = randomPackets(3000, 11);
    QString error;
    QVERIFY2(writeAll(path, written, &error), qPrintable(error));

    bool ok = false;
    bool cut = true;
    const QVector<Packet> read = readAll(path, &ok, &error, &cut);
    QVERIFY2(ok, qPrintable(error));
    QVERIFY(!cut);
    QCOMPARE(read.size(), written.size());
    for (int i = 0; i < read.size(); ++i) {
        Packet expected = written.at(i);
        // A name over 255 UTF-8 bytes keeps its first whole characters.
        expected.portName = QString::fromUtf8(CapturePacket::portNameBytes(expected.portName));
        QVERIFY2(samePacket(read.at(i), expected), qPrintable(QStringLiteral("packet %1").arg(i)));
    }
    QCOMPARE(CapturePacket::portNameBytes(QString(100, QChar(0x4E32))).size(), 255);
    QCOMPARE(QString::fromUtf8(CapturePacket::portNameBytes(QString(100, QChar(0x4E32)))),
             QString(85, QChar(0x4E32)));
}

void TestCapture::cutFileOpensUpToLastWholePacket()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("whole.pcap"));
    const QVector<Packet> written = randomPackets(150, 23);
    QString error;
    QVERIFY(writeAll(path, written, &error));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray file = f.readAll();

    // Where each packet's record ends: a 24-byte file header, then a 16-byte
    // record header and the packet for each.
    QVector<qint64> ends;
    qint64 at = 24;
    for (const Packet &p : written) {
        at += 16 + CapturePacket::HeaderSize + CapturePacket::portNameBytes(p.portName).size()
            + p.segment.wire.size();
        ends.append(at);
    }
    QCOMPARE(ends.last(), qint64(file.size()));

    QRandomGenerator rng(99);
    QVector<qint64> cuts = {0,
                            1,
                            3,
                            4,
                            23,
                            24,
                            25,
                            39,
                            40,
                            ends.at(0),
                            ends.at(0) + 1,
                            ends.at(70),
                            ends.at(70) - 1,
                            qint64(file.size()) - 1};
    for (int i = 0; i < 80; ++i)
        cuts.append(rng.bounded(int(file.size())));
    const QString cutPath = dir.filePath(QStringLiteral("cut.pcap"));
    for (const qint64 cut : cuts) {
        QVERIFY(writeFile(cutPath, file.left(int(cut))));
        const int whole = int(std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
        const bool atBoundary = cut == 24 || (whole > 0 && ends.at(whole - 1) == cut);
        bool ok = false;
        bool cutShort = false;
        error.clear();
        const QVector<Packet> read = readAll(cutPath, &ok, &error, &cutShort);
        const QByteArray where = QByteArray("cut at ") + QByteArray::number(cut);
        if (cut == 0) {
            // Not a byte written: no capture at all.
            QVERIFY2(!ok && error.contains(QStringLiteral("不是抓包文件")), where.constData());
            continue;
        }
        QVERIFY2(ok, (where + ": " + error.toUtf8()).constData());
        QVERIFY2(cutShort == !atBoundary, where.constData());
        QVERIFY2(read.size() == whole, where.constData());
        for (int i = 0; i < whole; ++i) {
            Packet expected = written.at(i);
            expected.portName = QString::fromUtf8(CapturePacket::portNameBytes(expected.portName));
            QVERIFY2(samePacket(read.at(i), expected), where.constData());
        }
    }
}

void TestCapture::foreignByteOrdersAndPcapngAreRead_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qint64>("firstTimeUs");
    QTest::addColumn<qint64>("lastTimeUs");
    const QVector<QByteArray> packets
        = {pseudoPacket(1, 1, 0, "COM3", makeFrame(0x07, 4)),
           pseudoPacket(1, 0, 2, QByteArray(), QByteArray("boot\r\n")),
           pseudoPacket(1, 0, 1, "COM4", hex("00 00 00 03 00 01 7A"))};
    const qint64 first = (1765000000LL + 100) * 1000000 + 250000;
    const qint64 last = first + 200 * 1000000;
    QTest::newRow("pcap big-endian") << handPcap(true, false, 147, packets) << first << last;
    QTest::newRow("pcap nanoseconds") << handPcap(false, true, 147, packets) << first << last;
    const qint64 ng = 1765000123456789LL;
    QTest::newRow("pcapng") << handPcapng(packets, ng) << ng << ng + 2000;
    // Simple packet blocks carry no time: the one before (or, first in the
    // file, the one after) stands in.
    QTest::newRow("pcapng, simple packet last")
        << handPcapng(packets, ng, 0b100) << ng << ng + 1000;
    QTest::newRow("pcapng, simple packet first")
        << handPcapng(packets, ng, 0b001) << ng << ng + 1000;
}

void TestCapture::foreignByteOrdersAndPcapngAreRead()
{
    QFETCH(QByteArray, file);
    QFETCH(qint64, firstTimeUs);
    QFETCH(qint64, lastTimeUs);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("other.cap"));
    QVERIFY(writeFile(path, file));
    bool ok = false;
    bool cut = true;
    QString error;
    const QVector<Packet> read = readAll(path, &ok, &error, &cut);
    QVERIFY2(ok, qPrintable(error));
    QVERIFY(!cut);
    QCOMPARE(read.size(), 3);
    QCOMPARE(read.at(0).segment.timeUs, firstTimeUs);
    QCOMPARE(read.at(0).segment.direction, LineDirection::ModuleToMcu);
    QCOMPARE(read.at(0).segment.kind, SegmentKind::Frame4);
    QCOMPARE(read.at(0).portName, QStringLiteral("COM3"));
    QCOMPARE(read.at(0).segment.wire, makeFrame(0x07, 4));
    QCOMPARE(read.at(1).segment.kind, SegmentKind::Other);
    QCOMPARE(read.at(1).portName, QString());
    QCOMPARE(read.at(1).segment.wire, QByteArray("boot\r\n"));
    QCOMPARE(read.at(2).segment.kind, SegmentKind::Frame3);
    QCOMPARE(read.at(2).portName, QStringLiteral("COM4"));
    QCOMPARE(read.at(2).segment.timeUs, lastTimeUs);
}

void TestCapture::otherFilesAreRefused_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("deliveredBefore");
    QTest::addColumn<QString>("reasonPart");
    const QByteArray good = pseudoPacket(1, 0, 0, "COM1", makeFrame(0x05, 1));
    QTest::newRow("text file") << QByteArray("time,direction,bytes\n1,0,FF FF 00 05\n") << 0
                               << QStringLiteral("抓包");
    QTest::newRow("short text") << QByteArray("hello") << 0 << QStringLiteral("不是抓包文件");
    QTest::newRow("empty file") << QByteArray() << 0 << QStringLiteral("不是抓包文件");
    QTest::newRow("ethernet capture")
        << handPcap(false, false, 1, {good}) << 0 << QStringLiteral("USER0");
    QTest::newRow("version 2 packet")
        << handPcap(false, false, 147, {good, pseudoPacket(2, 0, 0, "COM1", good)}) << 1
        << QStringLiteral("版本");
    QTest::newRow("direction 3") << handPcap(false, false, 147,
                                             {pseudoPacket(1, 3, 0, QByteArray(), good)})
                                 << 0 << QStringLiteral("方向");
    QTest::newRow("kind 7") << handPcap(false, false, 147, {pseudoPacket(1, 0, 7, "", good)}) << 0
                            << QStringLiteral("类型");
    QTest::newRow("name past the end") << handPcap(false, false, 147,
                                                   {QByteArray("\x01\x00\x00\x20"
                                                               "abc",
                                                               7)})
                                       << 0 << QStringLiteral("端口名");
    QTest::newRow("no pseudo-header")
        << handPcap(false, false, 147, {good, QByteArray("\x01\x00", 2)}) << 1
        << QStringLiteral("伪头部");
    // One bad packet does not cost the file: the rest is read.
    QTest::newRow("bad first packet")
        << handPcap(false, false, 147, {pseudoPacket(1, 3, 0, QByteArray(), good), good, good}) << 2
        << QStringLiteral("第 1 个数据包");
}

void TestCapture::otherFilesAreRefused()
{
    QFETCH(QByteArray, file);
    QFETCH(int, deliveredBefore);
    QFETCH(QString, reasonPart);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("refused.pcap"));
    QVERIFY(writeFile(path, file));
    bool ok = true;
    bool cut = true;
    QString error;
    qint64 skipped = -1;
    const QVector<Packet> read = readAll(path, &ok, &error, &cut, &skipped);
    // Bad packets among good ones are skipped and counted; a file with no
    // good packet is refused.
    QCOMPARE(ok, deliveredBefore > 0);
    QVERIFY(!cut);
    QCOMPARE(read.size(), deliveredBefore);
    if (deliveredBefore > 0)
        QCOMPARE(skipped, qint64(1));
    QVERIFY2(error.contains(reasonPart), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("refused.pcap")), qPrintable(error));

    // A missing file is refused too, with the system's reason.
    error.clear();
    readAll(dir.filePath(QStringLiteral("missing.pcap")), &ok, &error, &cut);
    QVERIFY(!ok);
    QVERIFY(error.contains(QStringLiteral("missing.pcap")));
}

void TestCapture::writerReportsFileErrors()
{
    CaptureWriter writer;
    QString error;
    QVERIFY(!writer.open(QStringLiteral("/nonexistent-folder-lumo/x.pcap"), &error));
    QVERIFY(!writer.isOpen());
    QVERIFY2(error.contains(QStringLiteral("x.pcap")), qPrintable(error));

    // A full disk: the file header cannot be written.
    error.clear();
    QVERIFY(!writer.open(QStringLiteral("/dev/full"), &error));
    QVERIFY(!writer.isOpen());
    QVERIFY2(!error.isEmpty(), "a full disk must be reported");
    QCOMPARE(writer.errorString(), error);

    // Writing to a closed writer does nothing and counts nothing.
    LineSegment s;
    s.wire = makeFrame(0x07, 1);
    writer.write(s, QStringLiteral("COM1"));
    QCOMPARE(writer.packetCount(), qint64(0));
}

void TestCapture::portReportsOpenAndWrites()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    setExtraPorts({pty.slavePath()});
    ZemSerialPort port;
    QSignalSpy opened(&port, &ZemSerialPort::Opened);
    QSignalSpy sent(&port, &ZemSerialPort::DataSent);
    QVERIFY(!port.Open(QStringLiteral("/dev/lumo-no-such-port"), QStringLiteral("9600"), 3, 0, 0));
    QCOMPARE(opened.count(), 0);
    QVERIFY(port.Open(pty.slavePath(), QStringLiteral("115200"), 3, 0, 0));
    QCOMPARE(opened.count(), 1);
    QCOMPARE(opened.at(0).at(0).toString(), pty.slavePath());

    const QByteArray a = makeFrame(0x05, 9, hex("04 FF 01"));
    const QByteArray b = QByteArray("text\n");
    port.write(a);
    port.putChar('!');
    port.write(b);
    QCOMPARE(sent.count(), 3);
    QCOMPARE(sent.at(0).at(0).toByteArray(), a);
    QCOMPARE(sent.at(1).at(0).toByteArray(), QByteArray("!"));
    QCOMPARE(sent.at(2).at(0).toByteArray(), b);
    QCOMPARE(pty.read(a.size() + 1 + b.size(), 5000), a + '!' + b);
}

void TestCapture::monitorBatchesAndHandsOnHeldBytes()
{
    LineMonitor monitor;
    QVector<LineSegment> got;
    QStringList ports;
    QVector<qint64> arrivals;
    connect(&monitor, &LineMonitor::segments,
            [&](const QVector<LineSegment> &batch, const QStringList &names) {
                QCOMPARE(names.size(), batch.size());
                got += batch;
                ports += names;
                for (int i = 0; i < batch.size(); ++i)
                    arrivals.append(LineMonitor::nowUs());
            });

    const QByteArray whole = makeFrame(0x0D, 2, hex("0B 21"));
    const QByteArray partial = hex("FF FF 00 0A 03 05");
    const qint64 before = LineMonitor::nowUs();
    monitor.addBytes(LineDirection::ModuleToMcu, QStringLiteral("COM2"), whole + partial);
    QVERIFY2(got.isEmpty(), "segments go out in batches, not from inside addBytes");

    QVERIFY(waitUntil([&] { return got.size() >= 1; }, 3000));
    QCOMPARE(got.at(0).kind, SegmentKind::Frame4);
    QCOMPARE(got.at(0).wire, whole);
    QCOMPARE(got.at(0).direction, LineDirection::ModuleToMcu);
    QVERIFY(got.at(0).timeUs >= before && got.at(0).timeUs <= LineMonitor::nowUs());

    // The incomplete frame is handed on by itself after the line stays quiet.
    QVERIFY(waitUntil([&] { return got.size() >= 2; }, 5000));
    QCOMPARE(got.size(), 2);
    QCOMPARE(got.at(1).wire, partial);
    QVERIFY2(arrivals.at(1) - before >= LineMonitor::HoldLimitUs - 20000,
             "a partial frame is held for a while before it is handed on");
    QCOMPARE(ports, QStringList({QStringLiteral("COM2"), QStringLiteral("COM2")}));

    // flush() hands on what is held at once, from inside the call.
    monitor.addBytes(LineDirection::McuToModule, QStringLiteral("COM1"), QByteArray("no newline"));
    monitor.flush();
    QCOMPARE(got.size(), 3);
    QCOMPARE(got.at(2).wire, QByteArray("no newline"));
    QCOMPARE(got.at(2).direction, LineDirection::McuToModule);
}

void TestCapture::monitorKeepsPortsApart()
{
    LineMonitor monitor;
    QVector<LineSegment> got;
    QStringList ports;
    connect(&monitor, &LineMonitor::segments,
            [&](const QVector<LineSegment> &batch, const QStringList &names) {
                got += batch;
                ports += names;
            });
    // Half a frame from one port, then the rest from another: the pieces
    // stay with the port they came from.
    const QByteArray frame = makeFrame(0x17, 3);
    monitor.addBytes(LineDirection::McuToModule, QStringLiteral("A"), frame.left(5));
    monitor.addBytes(LineDirection::McuToModule, QStringLiteral("B"), frame.mid(5));
    monitor.flush();
    QVERIFY(got.size() >= 2);
    QByteArray fromA;
    QByteArray fromB;
    for (int i = 0; i < got.size(); ++i)
        (ports.at(i) == QLatin1String("A") ? fromA : fromB) += got.at(i).wire;
    QCOMPARE(fromA, frame.left(5));
    QCOMPARE(fromB, frame.mid(5));
}

void TestCapture::monitorWaitsForSlowFrames()
{
    LineMonitor monitor;
    QVector<LineSegment> got;
    connect(&monitor, &LineMonitor::segments,
            [&](const QVector<LineSegment> &batch, const QStringList &) { got += batch; });
    // A frame trickling in over well more than the hold time, as on a slow
    // line: it stays one frame, because the line never went quiet.
    const QByteArray frame = makeFrame(0x1D, 5, hex("00 01 00 00 41 42 43"));
    for (const char c : frame) {
        monitor.addBytes(LineDirection::ModuleToMcu, QStringLiteral("COM2"), QByteArray(1, c));
        QTest::qWait(LineMonitor::HoldLimitUs / 1000 / 8);
    }
    QVERIFY(waitUntil([&] { return !got.isEmpty(); }, 3000));
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.at(0).kind, SegmentKind::Frame4);
    QCOMPARE(got.at(0).wire, frame);
}

void TestCapture::monitorKeepsBothDirectionsInTimeOrder()
{
    LineMonitor monitor;
    QVector<LineSegment> got;
    QVector<qint64> arrivals;
    connect(&monitor, &LineMonitor::segments,
            [&](const QVector<LineSegment> &batch, const QStringList &) {
                got += batch;
                for (int i = 0; i < batch.size(); ++i)
                    arrivals.append(LineMonitor::nowUs());
            });
    // Text without its line end is held in one direction while a whole
    // frame comes the other way, twice: the second text keeps coming, a
    // byte every 40 ms, so the line never goes quiet.
    const QByteArray frame = makeFrame(0x07, 1);
    monitor.addBytes(LineDirection::McuToModule, QStringLiteral("A"), QByteArray("noise"));
    QTest::qWait(2);
    monitor.addBytes(LineDirection::ModuleToMcu, QStringLiteral("B"), frame);
    QVERIFY(waitUntil([&] { return got.size() >= 2; }, 3000));
    monitor.addBytes(LineDirection::McuToModule, QStringLiteral("A"), QByteArray("t"));
    QTest::qWait(2);
    const qint64 sent = LineMonitor::nowUs();
    monitor.addBytes(LineDirection::ModuleToMcu, QStringLiteral("B"), frame);
    for (int i = 0; i < 20 && got.size() < 4; ++i) {
        QTest::qWait(40);
        monitor.addBytes(LineDirection::McuToModule, QStringLiteral("A"), QByteArray("x"));
    }
    monitor.flush();
    QVERIFY(got.size() >= 4);
    for (int i = 1; i < got.size(); ++i)
        QVERIFY2(got.at(i).timeUs >= got.at(i - 1).timeUs, qPrintable(QString::number(i)));
    QCOMPARE(got.at(0).wire, QByteArray("noise"));
    QCOMPARE(got.at(1).wire, frame);
    // The second frame waited for the earlier text, but not beyond the
    // recorder's flush interval.
    QCOMPARE(got.at(3).wire, frame);
    QVERIFY(arrivals.at(3) - sent < SessionRecorder::FlushIntervalMs * 1000);
}

void TestCapture::ptyLineRecordedLosslessly()
{
    TestRoot root(false);
    PtyPair pty;
    QVERIFY(pty.isValid());
    setExtraPorts({pty.slavePath()});
    SerialLine line;
    ZemSerialPort &port = *line.port();
    LineMonitor monitor;
    monitor.attach(&line, LineDirection::ModuleToMcu, true);
    qint64 moduleBytesSeen = 0;
    connect(&monitor, &LineMonitor::segments,
            [&](const QVector<LineSegment> &batch, const QStringList &) {
                for (const LineSegment &s : batch)
                    if (s.direction == LineDirection::ModuleToMcu)
                        moduleBytesSeen += s.wire.size();
            });
    SessionRecorder recorder;
    QSignalSpy changed(&recorder, &SessionRecorder::recordingChanged);
    QString error;
    QVERIFY2(recorder.start(&monitor, &error), qPrintable(error));
    QVERIFY(recorder.isRecording());
    QVERIFY(port.Open(pty.slavePath(), QStringLiteral("921600"), 3, 0, 0));
    // Tapped again while open, as a tap does when it is re-wired: the port
    // keeps the name it was opened with.
    monitor.attach(&line, LineDirection::ModuleToMcu, true);
    QCOMPARE(monitor.portNameOf(&line), pty.slavePath());

    // Frames with escaped FFs, noise between them, split anywhere by the
    // pty; the module's stream ends inside a frame.
    int frames = 0;
    const QByteArray fromModule = frameStream(60000, 7, 291, &frames) + QByteArray("boot text\r\n");
    const QByteArray fromMcu = frameStream(40000, 8);
    QVERIFY(frames > 100);
    const int pieces = (int(fromModule.size()) + 3999) / 4000;
    const int mcuPiece = (int(fromMcu.size()) + pieces - 1) / pieces;
    for (int i = 0; i < pieces; ++i) {
        QVERIFY(pty.write(fromModule.mid(i * 4000, 4000)));
        port.write(fromMcu.mid(i * mcuPiece, mcuPiece));
    }
    QCOMPARE(pty.read(fromMcu.size(), 10000).size(), fromMcu.size());
    QVERIFY(waitUntil([&] { return moduleBytesSeen == fromModule.size(); }, 10000));
    recorder.stop();
    QVERIFY(!recorder.isRecording());
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(1).at(0).toBool(), false);

    bool ok = false;
    bool cut = true;
    const QVector<Packet> read = readAll(recorder.filePath(), &ok, &error, &cut);
    QVERIFY2(ok, qPrintable(error));
    QVERIFY(!cut);
    QCOMPARE(concatDirection(read, LineDirection::ModuleToMcu), fromModule);
    QCOMPARE(concatDirection(read, LineDirection::McuToModule), fromMcu);
    int v4 = 0;
    qint64 last[2] = {0, 0};
    for (const Packet &p : read) {
        QCOMPARE(p.portName, pty.slavePath());
        if (p.segment.kind == SegmentKind::Frame4) {
            ++v4;
            QVERIFY(p.segment.wire.startsWith(hex("FF FF")));
        }
        qint64 &previous = last[int(p.segment.direction)];
        QVERIFY(p.segment.timeUs >= previous);
        previous = p.segment.timeUs;
    }
    QVERIFY2(v4 > 150, "frames are packets of their own");
}

void TestCapture::recordingReachesDiskWhileRunning()
{
    TestRoot root(false);
    LineMonitor monitor;
    SessionRecorder recorder;
    QVERIFY(recorder.start(&monitor));
    const QByteArray frame = makeFrame(0x05, 1, hex("04 00 FF"));
    for (int i = 0; i < 20; ++i)
        monitor.addBytes(LineDirection::McuToModule, QStringLiteral("COM1"), frame);

    // Read back while the recorder keeps the file open: a crash now would
    // leave these packets on the disk.
    int onDisk = 0;
    QVERIFY(waitUntil(
        [&] {
            bool ok = false;
            bool cut = false;
            QString error;
            onDisk = readAll(recorder.filePath(), &ok, &error, &cut).size();
            return ok && onDisk == 20;
        },
        2500));
    QVERIFY(recorder.isRecording());
    QCOMPARE(recorder.packetCount(), qint64(20));
}

void TestCapture::stopKeepsWhatTheMonitorHeld()
{
    TestRoot root(false);
    LineMonitor monitor;
    SessionRecorder recorder;
    QVERIFY(recorder.start(&monitor));
    // Half a frame and a line without its end: the user stops at once.
    const QByteArray half = makeFrame(0x1D, 3, QByteArray(40, 'x')).left(20);
    monitor.addBytes(LineDirection::ModuleToMcu, QStringLiteral("COM2"), half);
    monitor.addBytes(LineDirection::McuToModule, QStringLiteral("COM1"), QByteArray("log: st"));
    recorder.stop();

    bool ok = false;
    bool cut = true;
    QString error;
    const QVector<Packet> read = readAll(recorder.filePath(), &ok, &error, &cut);
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(concatDirection(read, LineDirection::ModuleToMcu), half);
    QCOMPARE(concatDirection(read, LineDirection::McuToModule), QByteArray("log: st"));
}

void TestCapture::fullDiskStopsRecordingWithMessage()
{
    TestRoot root(false);
    LineMonitor monitor;
    SessionRecorder recorder;
    QSignalSpy failed(&recorder, &SessionRecorder::failed);
    QSignalSpy changed(&recorder, &SessionRecorder::recordingChanged);
    QVERIFY(recorder.start(&monitor));

    // The file may grow to 64 KiB and no further, as on a disk that fills
    // up while recording; the write that crosses the limit fails (EFBIG)
    // instead of killing the process.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QByteArray frame = makeFrame(0x05, 1, QByteArray(200, '\x11'));
    for (int i = 0; i < 600; ++i)
        monitor.addBytes(LineDirection::McuToModule, QStringLiteral("COM1"), frame);
    const bool reported = waitUntil([&] { return failed.count() > 0; }, 4000);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY2(reported, "a write error must be reported");
    QVERIFY(!recorder.isRecording());
    // The system's reason, and the file is not taken for a whole one.
    QVERIFY2(failed.at(0).at(0).toString().contains(QString::fromLocal8Bit(std::strerror(EFBIG))),
             qPrintable(failed.at(0).at(0).toString()));
    QCOMPARE(recorder.lastError(), failed.at(0).at(0).toString());
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.last().at(0).toBool(), false);
    // What reached the file before the limit is still a readable capture.
    bool ok = false;
    bool cut = false;
    QString error;
    const QVector<Packet> read = readAll(recorder.filePath(), &ok, &error, &cut);
    QVERIFY2(ok, qPrintable(error));
    QVERIFY(read.size() > 100);
}

void TestCapture::recorderStartsWhenPortOpens_data()
{
    QTest::addColumn<bool>("autoRecord");
    QTest::newRow("setting on") << true;
    QTest::newRow("setting off") << false;
}

void TestCapture::recorderStartsWhenPortOpens()
{
    QFETCH(bool, autoRecord);
    TestRoot root(false);
    SessionRecorder::setAutoStartEnabled(autoRecord);
    QCOMPARE(SessionRecorder::autoStartEnabled(), autoRecord);
    QVERIFY(root.settingsText().contains(autoRecord ? QStringLiteral("autorecord=true")
                                                    : QStringLiteral("autorecord=false")));

    PtyPair pty;
    QVERIFY(pty.isValid());
    setExtraPorts({pty.slavePath()});
    SerialLine line;
    ZemSerialPort &port = *line.port();
    LineMonitor monitor;
    monitor.attach(&line, LineDirection::ModuleToMcu, true);
    SessionRecorder recorder;
    recorder.watch(&monitor);
    QSignalSpy changed(&recorder, &SessionRecorder::recordingChanged);
    QVERIFY(port.Open(pty.slavePath(), QStringLiteral("115200"), 3, 0, 0));
    QCOMPARE(recorder.isRecording(), autoRecord);
    QCOMPARE(changed.count(), autoRecord ? 1 : 0);
    if (!autoRecord)
        return;

    const QFileInfo file(recorder.filePath());
    QCOMPARE(file.absolutePath(), QDir(root.path()).absoluteFilePath(QStringLiteral("captures")));
    QVERIFY2(QRegularExpression(QStringLiteral("^lumo-\\d{8}-\\d{6}\\.pcap$"))
                 .match(file.fileName())
                 .hasMatch(),
             qPrintable(file.fileName()));
    QCOMPARE(changed.at(0).at(1).toString(), recorder.filePath());

    // Reopening the port while recording keeps the one file; a second
    // recording started in the same second gets a file of its own.
    const QString first = recorder.filePath();
    QVERIFY(port.Open(pty.slavePath(), QStringLiteral("115200"), 3, 0, 0));
    QCOMPARE(recorder.filePath(), first);
    recorder.stop();
    SessionRecorder other;
    QVERIFY(other.start(&monitor));
    QVERIFY(other.filePath() != first);
    QVERIFY(other.filePath().endsWith(QLatin1String(".pcap")));
}

void TestCapture::recorderReportsUnwritableFolder()
{
    TestRoot root(false);
    // The data folder's "captures" is taken by a file: no folder can be made.
    QVERIFY(writeFile(root.file(QStringLiteral("captures")), QByteArray("x")));
    LineMonitor monitor;
    SessionRecorder recorder;
    QSignalSpy failed(&recorder, &SessionRecorder::failed);
    QString error;
    QVERIFY(!recorder.start(&monitor, &error));
    QVERIFY(!recorder.isRecording());
    QCOMPARE(failed.count(), 1);
    QVERIFY2(error.contains(QStringLiteral("captures")), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
