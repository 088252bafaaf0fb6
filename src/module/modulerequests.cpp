// SPDX-License-Identifier: GPL-3.0-or-later
#include "module/modulerequests.h"

#include "datapoint/datapointcodec.h"
#include "datapoint/datapointtext.h"
#include "protocol/frameformat.h"
#include "protocol/zemtool.h"

#include <algorithm>

namespace {

bool isBit(const json_struct &r)
{
    return r.unit == DataPointText::BitUnit;
}

// Writes `len` bits of value into an area whose bit 0 is the least
// significant bit of its last byte; bits beyond the area are dropped.
void putBits(QByteArray &area, int bitOffset, int len, quint32 value)
{
    for (int k = 0; k < len && k < 32; ++k) {
        if (!((value >> k) & 1u))
            continue;
        const int bit = bitOffset + k;
        const int index = area.size() - 1 - bit / 8;
        if (bit < 0 || index < 0)
            continue;
        area[index] = char(quint8(area.at(index)) | (1u << (bit % 8)));
    }
}

// The value part of a control frame: the writable bit area first, then
// every writable whole-byte value at its byte_offset.
int controlValueSize(const DataPointDefinition &def)
{
    qint64 size = def.areaBytes(DataPointText::Writable);
    for (const json_struct &r : def.records()) {
        if (r.type == DataPointText::Writable && !isBit(r))
            size = std::max<qint64>(size, qint64(r.byte_offset) + std::max(0, r.len));
    }
    return int(std::min<qint64>(size, DataPointCodec::MaxValuePart));
}

QByteArray repeated(char c, int count)
{
    return QByteArray(std::max(0, count), c);
}

} // namespace

namespace ModuleRequests {

QByteArray frame(int command, int sequence, const QByteArray &payload, int flags)
{
    QByteArray f;
    f.reserve(payload.size() + Frame::MinFrameSize);
    f.append(char(Frame::HeaderByte)).append(char(Frame::HeaderByte));
    f.append(ZemTool::numberToBytes(quint32(payload.size() + Frame::MinLength), 2));
    f.append(char(command & 0xFF)).append(char(sequence & 0xFF));
    f.append(ZemTool::numberToBytes(quint32(flags), 2));
    f.append(payload);
    f.append('\0');
    ZemTool::setFrameChecksum(f);
    return f;
}

QByteArray wifiStatus(int sequence, int mode, int connection, int signal, bool appConnected)
{
    QByteArray word(2, '\0');
    word[0] = char((signal & 0x07) | (appConnected ? 0x08 : 0));
    word[1] = char(((connection & 0x0F) << 4) | (mode & 0x0F));
    return frame(Frame::code(Frame::Command::WifiStatus), sequence, word);
}

QByteArray firmwareStart(int sequence, quint32 imageSize, const QByteArray &field)
{
    QByteArray payload = ZemTool::numberToBytes(imageSize, 4);
    payload.append(ZemTool::numberToBytes(quint32(field.size()), 2));
    payload.append(field);
    return frame(Frame::code(Frame::Command::FirmwareStart), sequence, payload);
}

QByteArray firmwarePiece(int sequence, int number, int count, const QByteArray &data)
{
    QByteArray payload = ZemTool::numberToBytes(quint32(number), 2);
    payload.append(ZemTool::numberToBytes(quint32(count), 2));
    payload.append(data);
    return frame(Frame::code(Frame::Command::FirmwarePiece), sequence, payload);
}

bool readFirmwareReady(const QByteArray &frame, FirmwareReady *ready)
{
    // 1B: count at 8-9, the field, then the piece size, then the checksum.
    const int countAt = Frame::PayloadOffset;
    if (frame.size() < countAt + 2 + 2 + Frame::ChecksumTail)
        return false;
    const int n = ZemTool::word16(frame, countAt);
    const int sizeAt = countAt + 2 + n;
    if (sizeAt + 2 + Frame::ChecksumTail > frame.size())
        return false;
    ready->field = frame.mid(countAt + 2, n);
    ready->pieceSize = ZemTool::word16(frame, sizeAt);
    return true;
}

bool isControllable(const DataPointDefinition &def, int record)
{
    if (record < 0 || record >= def.records().size() || record >= def.writableCount())
        return false;
    const json_struct &r = def.records().at(record);
    if (r.type != DataPointText::Writable)
        return false;
    return r.data_type == DataPointText::Bool || r.data_type == DataPointText::Enum
        || r.data_type == DataPointText::Uint8 || r.data_type == DataPointText::Uint16
        || r.data_type == DataPointText::Uint32 || r.data_type == DataPointText::Binary;
}

QList<ControlValue> testValues(const DataPointDefinition &def, int record)
{
    QList<ControlValue> values;
    if (!isControllable(def, record))
        return values;
    const json_struct &r = def.records().at(record);
    auto add = [&](quint32 number) {
        for (const ControlValue &v : values) {
            if (v.number == number)
                return;
        }
        ControlValue v;
        v.record = record;
        v.number = number;
        values.append(v);
    };
    if (r.data_type == DataPointText::Binary) {
        const int len = std::clamp(r.len, 0, DataPointCodec::MaxValuePart);
        for (char c : {'\x00', '\xFF', '\x5A'}) {
            ControlValue v;
            v.record = record;
            v.bytes = repeated(c, len);
            values.append(v);
        }
        return values;
    }
    qint64 low = 0;
    qint64 high = 1;
    if (r.data_type == DataPointText::Enum) {
        high = std::max<qint64>(0, r.enum_list.size() - 1);
    } else if (r.data_type != DataPointText::Bool) {
        low = std::max(0, r.min);
        high = std::max<qint64>(low, r.max);
    }
    add(quint32(low));
    add(quint32(high));
    add(quint32((low + high) / 2));
    return values;
}

QString describe(const DataPointDefinition &def, const ControlValue &value)
{
    if (value.record < 0 || value.record >= def.records().size())
        return QString();
    const json_struct &r = def.records().at(value.record);
    QString text;
    if (r.data_type == DataPointText::Binary)
        text = QString::fromLatin1(value.bytes.left(8).toHex())
            + (value.bytes.size() > 8 ? QStringLiteral("…") : QString());
    else if (r.data_type == DataPointText::Enum && int(value.number) < r.enum_list.size())
        text = r.enum_list.at(int(value.number));
    else
        text = QString::number(value.number);
    return r.display_name + QStringLiteral(" = ") + text;
}

QByteArray controlFrame(const DataPointDefinition &def, int sequence, const ControlValue &value)
{
    const int flagBytes = (def.writableCount() + 7) / 8;
    QByteArray flags(flagBytes, '\0');
    QByteArray values(controlValueSize(def), '\0');
    if (isControllable(def, value.record)) {
        const json_struct &r = def.records().at(value.record);
        const int flagIndex = flagBytes - 1 - value.record / 8;
        flags[flagIndex] = char(1u << (value.record % 8));
        if (isBit(r)) {
            QByteArray area(def.areaBytes(DataPointText::Writable), '\0');
            putBits(area, r.bit_offset, r.len, value.number);
            values.replace(0, area.size(), area);
        } else {
            const QByteArray bytes = r.data_type == DataPointText::Binary
                ? value.bytes
                : ZemTool::numberToBytes(value.number, std::clamp(r.len, 1, 4));
            const int at = r.byte_offset;
            const int n = std::min<int>(bytes.size(), values.size() - at);
            if (at >= 0 && n > 0)
                values.replace(at, n, bytes.left(n));
        }
    }
    QByteArray payload(1, char(Frame::code(Frame::StatusAction::Control)));
    payload.append(flags).append(values);
    return frame(Frame::code(Frame::Command::Status), sequence, payload);
}

QMap<QString, QString> statusValues(const DataPointDefinition &def, const QByteArray &frame)
{
    QMap<QString, QString> out;
    const qint64 end = qint64(frame.size()) - Frame::ChecksumTail; // values never reach it
    for (const json_struct &r : def.records()) {
        const qint64 at = qint64(Frame::StatusValueOffset) + r.byte_offset;
        if (isBit(r)) {
            if (r.data_type != DataPointText::Bool && r.data_type != DataPointText::Enum)
                continue;
            const qint64 areaEnd = at + def.areaBytes(r.type);
            if (r.byte_offset < 0 || areaEnd > end || r.len <= 0 || r.len > 16)
                continue;
            const quint16 v
                = DataPointCodec::getBits(frame.left(int(areaEnd)), int(areaEnd),
                                          unsigned(r.bit_offset), unsigned(r.len), true);
            if (r.data_type == DataPointText::Enum && v < r.enum_list.size())
                out.insert(r.display_name, r.enum_list.at(v));
            else
                out.insert(r.display_name, QString::number(v));
            continue;
        }
        if (r.byte_offset < 0 || r.len <= 0 || at + r.len > end)
            continue;
        const QByteArray raw = frame.mid(int(at), r.len);
        if (r.data_type == DataPointText::Binary) {
            out.insert(r.display_name, QString::fromLatin1(raw.toHex()));
        } else if (r.data_type == DataPointText::Uint8 || r.data_type == DataPointText::Uint16
                   || r.data_type == DataPointText::Uint32) {
            quint32 v = 0;
            for (int i = 0; i < std::min(4, int(raw.size())); ++i)
                v = (v << 8) | quint8(raw.at(raw.size() - std::min(4, int(raw.size())) + i));
            out.insert(r.display_name, QString::number(v));
        }
    }
    return out;
}

} // namespace ModuleRequests
