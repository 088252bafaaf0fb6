// SPDX-License-Identifier: GPL-3.0-or-later
// The byte, hex, checksum and escape helpers of ZemTool.
//
// Input: 4 bytes start (or index), 4 bytes tail, 4 bytes value, 1 byte width,
// all little-endian and signed, then the bytes to work on; a shorter input is
// all bytes with zero arguments. Checked:
// - checksum, byteValue and word16 never read outside the array, whatever the
//   start, tail or index (the sanitizers catch a stray read), and give the sum
//   and the bytes of the part of the range that lies inside the array;
// - numberToBytes gives `width` big-endian bytes of the value for 1..4, else
//   nothing;
// - hex text is three upper-case characters a byte and decodes back;
// - escaping: offsets 0..2 untouched, every later FF followed by 55, and
//   Frame::unescape gives the bytes back; for a whole frame the assembler,
//   which un-escapes as the bytes arrive, must give back exactly that frame,
//   however it is split.
#include "fuzzsupport.h"

#include "protocol/frameescape.h"
#include "protocol/frameformat.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"

#include <QList>

namespace {

qint32 readInt(const QByteArray &in, int at)
{
    quint32 v = 0;
    for (int k = 3; k >= 0; --k)
        v = (v << 8) | static_cast<unsigned char>(in.at(at + k));
    return static_cast<qint32>(v);
}

bool isFF(char c)
{
    return static_cast<unsigned char>(c) == Frame::HeaderByte;
}

void checkEscape(const QByteArray &bytes, const QByteArray &input)
{
    const QByteArray wire = ZemTool::escape(bytes);
    if (wire.left(Frame::FirstEscapedOffset) != bytes.left(Frame::FirstEscapedOffset))
        Fuzz::fail("escape changed offsets 0..2", input, wire);
    int ffs = 0;
    for (int i = Frame::FirstEscapedOffset; i < bytes.size(); ++i)
        ffs += isFF(bytes.at(i));
    if (wire.size() != bytes.size() + ffs)
        Fuzz::fail("escape did not add exactly one byte per FF", input, wire);
    for (int i = Frame::FirstEscapedOffset; i < wire.size(); ++i) {
        if (!isFF(wire.at(i)))
            continue;
        if (i + 1 >= wire.size() || static_cast<unsigned char>(wire.at(i + 1)) != Frame::EscapeByte)
            Fuzz::fail("an FF on the wire is not followed by 55", input, wire);
        ++i;
    }
    if (Frame::unescape(wire) != bytes)
        Fuzz::fail("unescape of escape is not the identity", input, wire);
}

// The bytes as the body of a frame: header, length, bytes, checksum.
void checkFrameRoundTrip(const QByteArray &bytes, const QByteArray &input)
{
    const QByteArray body = bytes.left(0xFFFF - 1);
    QByteArray frame;
    frame.append(char(Frame::HeaderByte)).append(char(Frame::HeaderByte));
    frame.append(ZemTool::numberToBytes(quint32(body.size() + 1), 2));
    frame.append(body).append('\0');
    ZemTool::setFrameChecksum(frame);
    checkEscape(frame, input);
    // Lengths below 5 and lengths of FF00 or more are no frames the assembler can
    // take (the latter read FF FF FF, a stray FF before a header).
    const int length = body.size() + 1;
    if (length < Frame::MinLength || length >= 0xFF00)
        return;

    ZemFramer framer;
    QList<QByteArray> frames;
    QObject::connect(&framer, &ZemFramer::LineDataReady,
                     [&frames](const QByteArray &f) { frames.append(f); });
    const QByteArray wire = ZemTool::escape(frame);
    Fuzz::Random random(input);
    for (int pos = 0; pos < wire.size();) {
        const int n = random.chunk(wire.size() - pos);
        framer.dataToV4(wire.mid(pos, n));
        pos += n;
    }
    if (frames != QList<QByteArray>{frame})
        Fuzz::fail("the assembler did not give back the escaped frame", input, frame);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    const QByteArray input = Fuzz::bytes(data, size);
    constexpr int ArgBytes = 13;
    qint32 from = 0, tail = 0, value = 0;
    int width = 0;
    QByteArray bytes = input;
    if (input.size() >= ArgBytes) {
        from = readInt(input, 0);
        tail = readInt(input, 4);
        value = readInt(input, 8);
        width = static_cast<signed char>(input.at(12));
        bytes = input.mid(ArgBytes);
    }
    const qint64 n = bytes.size();

    // checksum over the part of [from, size - tail) inside the array.
    unsigned sum = 0;
    for (qint64 i = qMax<qint64>(0, from); i < qMin<qint64>(n, n - tail); ++i)
        sum += static_cast<unsigned char>(bytes.at(int(i)));
    if (ZemTool::checksum(bytes, from, tail) != (sum & 0xFF))
        Fuzz::fail("checksum differs from the sum of the range inside the array", input);

    const int index = from;
    const int byte = index >= 0 && index < n ? static_cast<unsigned char>(bytes.at(index)) : 0;
    if (ZemTool::byteValue(bytes, index) != byte)
        Fuzz::fail("byteValue", input);
    const int word = index >= 0 && qint64(index) + 1 < n
        ? (byte << 8) | static_cast<unsigned char>(bytes.at(index + 1))
        : 0;
    if (ZemTool::word16(bytes, index) != word)
        Fuzz::fail("word16", input);

    const QByteArray number = ZemTool::numberToBytes(quint32(value), width);
    if (width >= 1 && width <= 4) {
        quint64 back = 0;
        for (const char c : number)
            back = (back << 8) | static_cast<unsigned char>(c);
        const quint64 mask = (quint64(1) << (8 * width)) - 1;
        if (number.size() != width || back != (quint64(quint32(value)) & mask))
            Fuzz::fail("numberToBytes", input, number);
    } else if (!number.isEmpty()) {
        Fuzz::fail("numberToBytes of a width outside 1..4 is not empty", input, number);
    }

    const QString text = ZemTool::hexText(bytes);
    if (text.size() != 3 * n || QByteArray::fromHex(text.toLatin1()) != bytes
        || text != text.toUpper())
        Fuzz::fail("hex text does not decode back", input);

    checkEscape(bytes, input);
    checkFrameRoundTrip(bytes, input);
    // Any wire bytes, not only escaped ones: un-escaping never grows them.
    if (Frame::unescape(input).size() > input.size())
        Fuzz::fail("unescape grew the bytes", input);
    return 0;
}
