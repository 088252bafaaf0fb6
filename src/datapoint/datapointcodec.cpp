// SPDX-License-Identifier: GPL-3.0-or-later
#include "datapoint/datapointcodec.h"

#include "datapoint/datapointtext.h"
#include "protocol/frameformat.h"
#include "protocol/zemtool.h"

#include <QDebug>

namespace DataPointCodec {

namespace {

    // The index range [begin, end) a write may touch: the value part, i.e. after
    // the action byte and before the checksum.
    struct Span
    {
        qint64 begin;
        qint64 end;
        bool contains(qint64 i) const { return i >= begin && i < end; }
    };

    Span valuePart(const QByteArray &frame)
    {
        return {Frame::StatusValueOffset,
                qMax<qint64>(Frame::StatusValueOffset, qint64(frame.size()) - 1)};
    }

    void orByte(QByteArray &frame, qint64 i, quint32 bits)
    {
        char *data = frame.data();
        data[i] = char(static_cast<unsigned char>(data[i]) | (bits & 0xFF));
    }

    quint16 warn(const char *what)
    {
        qDebug() << "GetBits";
        qDebug() << what;
        return 0;
    }

    qint64 areaBytesOf(qint64 bits)
    {
        return (bits + 7) / 8;
    }

} // namespace

int reportValueSize(const DataPointDefinition &def)
{
    qint64 n = areaBytesOf(def.writableBits()) + areaBytesOf(def.readonlyBits())
        + areaBytesOf(def.alertBits()) + areaBytesOf(def.faultBits());
    for (const json_struct &r : def.records()) {
        if (r.unit != DataPointText::BitUnit)
            n += qMax(0, r.len);
        if (n > MaxValuePart)
            return MaxValuePart;
    }
    return int(qMin<qint64>(n, MaxValuePart));
}

QByteArray makeReportFrame(const DataPointDefinition &def)
{
    const int n = reportValueSize(def);
    QByteArray frame(n + 10, '\0');
    frame[0] = char(Frame::HeaderByte);
    frame[1] = char(Frame::HeaderByte);
    Frame::setLengthField(frame, n + 6);
    frame[Frame::CommandOffset] = char(Frame::code(Frame::Command::StatusReport));
    frame[Frame::ActionOffset] = char(Frame::code(Frame::StatusAction::Report));
    return frame;
}

QByteArray intToBytes(int value, int width)
{
    // Two's complement view of the int: well defined for negative values.
    return ZemTool::numberToBytes(static_cast<quint32>(value), width);
}

void setValue(const DataPointDefinition &def, QByteArray &frame, const QString &displayName,
              int value)
{
    const int index = def.indexOf(displayName);
    if (index < 0)
        return;
    const json_struct &r = def.records().at(index);
    const Span span = valuePart(frame);
    const quint32 v = static_cast<quint32>(value);

    if (r.unit != DataPointText::BitUnit) {
        // Big-endian in `len` bytes; bytes above the 4 of an int are zero.
        const qint64 pos = qint64(Frame::StatusValueOffset) + r.byte_offset;
        const qint64 len = qMax(0, r.len);
        const qint64 from = qMax<qint64>(0, span.begin - pos);
        const qint64 to = qMin<qint64>(len, span.end - pos);
        char *data = frame.data();
        for (qint64 k = from; k < to; ++k) {
            const qint64 shiftBytes = len - 1 - k;
            data[pos + k] = shiftBytes < 4 ? char((v >> (8 * shiftBytes)) & 0xFF) : '\0';
        }
        return;
    }

    if (r.len <= 0 || r.bit_offset < 0 || r.byte_offset < 0)
        return;
    const int bitLen = qMin(r.len, 16);
    const quint32 masked = v & ((1u << bitLen) - 1u);
    const int shift = r.bit_offset % 8;
    const quint32 shifted = masked << shift;

    // The class's area, clipped to the value part: a bit value never leaves it.
    const qint64 areaBegin = qint64(Frame::StatusValueOffset) + r.byte_offset;
    const qint64 areaEnd = areaBegin + def.areaBytes(r.type);
    const Span area{qMax(areaBegin, span.begin), qMin(areaEnd, span.end)};

    const qint64 i = areaEnd - (qint64(r.bit_offset) / 8 + 1); // the byte holding bit bit_offset
    if (area.contains(i))
        orByte(frame, i, shifted);
    // The spill into the byte before is decided by the clamped length: a
    // definition's len may be anything up to INT_MAX, and only the bits that
    // were kept can reach that byte.
    if (shift + bitLen > 8 && area.contains(i - 1))
        orByte(frame, i - 1, shifted >> 8);
}

void setBytes(const DataPointDefinition &def, QByteArray &frame, const QString &displayName,
              const QByteArray &bytes)
{
    const int index = def.indexOf(displayName);
    if (index < 0)
        return;
    const json_struct &r = def.records().at(index);
    if (r.unit == DataPointText::BitUnit)
        return; // len counts bits there: raw bytes have no place in a bit area
    const Span span = valuePart(frame);
    const qint64 pos = qint64(Frame::StatusValueOffset) + r.byte_offset;
    const qint64 count = qMin<qint64>(qMax(0, r.len), bytes.size());
    const qint64 from = qMax<qint64>(0, span.begin - pos);
    const qint64 to = qMin<qint64>(count, span.end - pos);
    char *data = frame.data();
    for (qint64 k = from; k < to; ++k)
        data[pos + k] = bytes.at(int(k));
}

quint16 getBits(const QByteArray &data, int byteOffset, unsigned bitOffset, unsigned bitLen,
                bool fromEnd)
{
    if (bitLen == 0)
        return warn("(), WARN: bitLen = 0");
    const unsigned len = qMin(bitLen, 16u);
    const unsigned shift = bitOffset % 8;
    const qint64 count = (shift + len + 7) / 8; // 1 to 3 bytes
    qint64 first;
    if (fromEnd) {
        const qint64 last = qint64(byteOffset) - 1 - qint64(bitOffset / 8);
        first = last - count + 1;
    } else {
        first = qint64(byteOffset) + qint64(bitOffset / 8);
    }
    if (first < 0 || first + count > data.size())
        return warn("(), WARN: byteOffset+(bitOffset+bitLen) overflows");

    quint32 acc = 0;
    for (qint64 k = 0; k < count; ++k)
        acc = (acc << 8) | static_cast<unsigned char>(data.at(int(first + k)));
    const quint32 mask = (1u << len) - 1u;
    if (fromEnd)
        return quint16((acc >> shift) & mask);
    return quint16((acc >> (unsigned(count) * 8 - shift - len)) & mask);
}

QMap<QString, QString> decodeControl(const DataPointDefinition &def, const QByteArray &frame)
{
    QMap<QString, QString> values;
    const QList<json_struct> &records = def.records();
    const int writable = qMin(def.writableCount(), records.size());
    const qint64 flagBytes = (qint64(def.writableCount()) + 7) / 8;
    const qint64 valueStart = Frame::StatusValueOffset + flagBytes;
    const qint64 areaEnd = valueStart + def.areaBytes(DataPointText::Writable);

    // Everything but the checksum byte: values are never read from it.
    const qint64 end = qMax<qint64>(0, qint64(frame.size()) - 1);
    // The writable bit area as far as the frame holds it. Bit values are read
    // from it alone, so a bit_offset beyond the area reads as out of range
    // instead of picking up flag or header bits.
    const qint64 areaSize = areaEnd - valueStart;
    const qint64 areaHeld = qBound<qint64>(0, end - valueStart, areaSize);
    const QByteArray area = areaHeld > 0
        ? QByteArray::fromRawData(frame.constData() + valueStart, int(areaHeld))
        : QByteArray();

    auto wholeBytes = [&](const json_struct &r, qint64 width, QByteArray *out) {
        const qint64 pos = valueStart + r.byte_offset;
        if (width < 0 || pos < valueStart || pos + width > end)
            return false;
        *out = QByteArray::fromRawData(frame.constData() + pos, int(width));
        return true;
    };

    for (qint64 byteIndex = flagBytes - 1; byteIndex >= 0; --byteIndex) {
        const qint64 firstAttr = 8 * (flagBytes - 1 - byteIndex);
        if (firstAttr >= writable)
            break;
        const qint64 at = Frame::StatusValueOffset + byteIndex;
        const unsigned flags = at < end ? static_cast<unsigned char>(frame.at(int(at))) : 0u;
        const int bits = int(qMin<qint64>(writable - firstAttr, 8));
        for (int i = 0; i < bits; ++i) {
            if (!(flags & (1u << i)))
                continue;
            const json_struct &r = records.at(int(firstAttr + i));
            const QString &type = r.data_type;
            QByteArray raw;
            if (type == DataPointText::Bool || type == DataPointText::Enum) {
                const quint16 v = getBits(area, int(areaSize), unsigned(r.bit_offset),
                                          unsigned(qMax(0, r.len)), true);
                if (type == DataPointText::Enum && v < r.enum_list.size())
                    values.insert(r.display_name, r.enum_list.at(v));
                else
                    values.insert(r.display_name, QString::number(v));
            } else if (type == DataPointText::Uint8) {
                if (wholeBytes(r, 1, &raw))
                    values.insert(r.display_name, QString::number(ZemTool::byteValue(raw, 0)));
            } else if (type == DataPointText::Uint16) {
                if (wholeBytes(r, 2, &raw))
                    values.insert(r.display_name, QString::number(ZemTool::word16(raw, 0)));
            } else if (type == DataPointText::Uint32) {
                if (wholeBytes(r, 4, &raw)) {
                    const quint32 v = (quint32(ZemTool::word16(raw, 0)) << 16)
                        | quint32(ZemTool::word16(raw, 2));
                    values.insert(r.display_name, QString::number(v));
                }
            } else if (type == DataPointText::Binary) {
                if (wholeBytes(r, r.len, &raw))
                    values.insert(r.display_name, QString::fromLatin1(raw.toHex()));
            }
        }
    }
    return values;
}

} // namespace DataPointCodec
