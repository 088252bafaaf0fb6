// SPDX-License-Identifier: GPL-3.0-or-later
// The capture reader on any file a user opens, and the writer's round trip.
//
// The input is a file's content. Read as a capture, checked:
// - a file that is read whole reports no error, one that is refused says why
//   and is not also cut short;
// - every delivered packet's port name and bytes lie within the file: their
//   sizes, summed over all packets, never exceed the file's;
// - direction and kind are ones a packet can carry, and the reader stops at
//   once when the sink says so.
// Then the input is cut into segments of random sizes, kinds, directions,
// times and port names (drawn from the input), written with CaptureWriter and
// read back: the same segments, in order, with the same port names.
#include "fuzzsupport.h"

#include "capture/capturepacket.h"
#include "capture/capturereader.h"
#include "capture/capturewriter.h"

#include <QDir>
#include <QFile>
#include <QVector>

namespace {

QString fileIn(const QString &name)
{
    return Fuzz::programFolder() + QLatin1Char('/') + name;
}

void writeFile(const QString &path, const QByteArray &content, const QByteArray &input)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(content) != content.size())
        Fuzz::fail("cannot write the temporary capture file", input);
}

void readAsCapture(const QByteArray &input, Fuzz::Random &random)
{
    const QString path = fileIn(QStringLiteral("input.pcap"));
    writeFile(path, input, input);

    // Stops after a number of packets drawn from the input, or never.
    const quint32 r = random.next();
    const int stopAfter = (r & 1) ? int((r >> 1) % 8) + 1 : -1;
    int delivered = 0;
    qint64 bytes = 0;
    bool afterStop = false;
    QString error;
    bool cutShort = false;
    qint64 skipped = 0;
    const bool ok = CaptureReader::read(
        path,
        [&](const LineSegment &s, const QString &portName) {
            if (stopAfter >= 0 && delivered >= stopAfter)
                afterStop = true;
            ++delivered;
            if (int(s.direction) > 1 || int(s.kind) > 2)
                Fuzz::fail("packet with a direction or kind out of range", input, s.wire);
            bytes += s.wire.size() + CapturePacket::HeaderSize
                + CapturePacket::portNameBytes(portName).size();
            if (bytes > input.size())
                Fuzz::fail("packets hold more bytes than the file", input, s.wire);
            return stopAfter < 0 || delivered < stopAfter;
        },
        &error, &cutShort, &skipped);
    if (afterStop)
        Fuzz::fail("a packet delivered after the sink said stop", input);
    if (ok && error.isEmpty() != (skipped == 0))
        Fuzz::fail("skipped packets and their reason disagree", input, error.toUtf8());
    if (skipped < 0 || (skipped > 0 && ok && delivered == 0 && stopAfter < 0))
        Fuzz::fail("a file of nothing but bad packets read as good", input, error.toUtf8());
    if (!ok && (error.isEmpty() || cutShort))
        Fuzz::fail("file refused without a reason, or also cut short", input, error.toUtf8());
}

struct Packet
{
    LineSegment segment;
    QString portName;
};

QVector<Packet> packetsFrom(const QByteArray &input, Fuzz::Random &random)
{
    // One or two ports, as a session has; the second named by input bytes
    // (any UTF-8, possibly longer than a pseudo-header holds).
    const QString names[2]
        = {QStringLiteral("/dev/ttyUSB0"), QString::fromUtf8(input.left(int(random.next() % 300)))};
    QVector<Packet> packets;
    qint64 time = 1700000000000000 + qint64(random.next() % 1000000);
    int pos = 0;
    while (pos < input.size()) {
        const int n = random.chunk(input.size() - pos);
        const quint32 r = random.next();
        Packet p;
        p.segment.timeUs = time;
        p.segment.direction = LineDirection(r & 1);
        p.segment.kind = SegmentKind((r >> 1) % 3);
        p.segment.wire = input.mid(pos, n);
        p.portName = names[(r >> 3) & 1];
        packets.append(p);
        time += qint64(r >> 8);
        pos += n;
    }
    return packets;
}

void roundTrip(const QByteArray &input, Fuzz::Random &random)
{
    const QVector<Packet> packets = packetsFrom(input, random);
    const QString path = fileIn(QStringLiteral("written.pcap"));
    CaptureWriter writer;
    QString error;
    if (!writer.open(path, &error))
        Fuzz::fail("cannot open the capture for writing", input, error.toUtf8());
    for (const Packet &p : packets)
        writer.write(p.segment, p.portName);
    writer.close();
    if (!writer.errorString().isEmpty() || writer.packetCount() != packets.size())
        Fuzz::fail("the writer failed or lost packets", input, writer.errorString().toUtf8());

    int i = 0;
    bool cutShort = false;
    const bool ok = CaptureReader::read(
        path,
        [&](const LineSegment &s, const QString &portName) {
            if (i >= packets.size())
                Fuzz::fail("more packets read back than written", input);
            const Packet &p = packets[i++];
            if (s.timeUs != p.segment.timeUs || s.direction != p.segment.direction
                || s.kind != p.segment.kind || s.wire != p.segment.wire)
                Fuzz::fail("a packet read back differs from the one written", input, s.wire);
            if (portName != QString::fromUtf8(CapturePacket::portNameBytes(p.portName)))
                Fuzz::fail("a port name read back differs", input, portName.toUtf8());
            return true;
        },
        &error, &cutShort);
    if (!ok || cutShort || i != packets.size())
        Fuzz::fail("the written capture does not read back whole", input, error.toUtf8());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    const QByteArray input = Fuzz::bytes(data, size);
    Fuzz::Random random(input);
    readAsCapture(input, random);
    roundTrip(input, random);
    return 0;
}
