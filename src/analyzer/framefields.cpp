// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyzer/framefields.h"

#include "datapoint/datapointcodec.h"
#include "datapoint/datapointdefinition.h"
#include "datapoint/datapointtext.h"
#include "protocol/frameformat.h"
#include "protocol/lineevent.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <algorithm>

namespace {

// Long payloads (firmware pieces) are cut in the value text; the bytes pane
// shows them whole.
constexpr int MaxHexInText = 64;

// Version 3 frames: 00 00 00 03, a 2-byte big-endian length, that many bytes.
constexpr int V3HeaderSize = 4;
constexpr int V3LengthOffset = 4;
constexpr int V3DataOffset = 6;

// Firmware ready (1B): after the flags, the count and field returned from
// the module's 19, then the piece size.
constexpr int ReadyCountOffset = Frame::PayloadOffset;
constexpr int ReadyFieldOffset = ReadyCountOffset + 2;

// Product information reply (02): two protocol versions before the
// hardware version.
constexpr int ProtocolVersionOffset = Frame::PayloadOffset;
constexpr int SecondProtocolVersionOffset = ProtocolVersionOffset + Frame::VersionWidth;
constexpr int AttributesWidth = 8;

class Builder
{
public:
    explicit Builder(const QByteArray &frame)
        : m_frame(frame)
    { }

    bool holds(int offset, int size) const
    {
        return offset >= 0 && size >= 0 && qint64(offset) + size <= m_frame.size();
    }

    // A field whose bytes the frame holds; otherwise it is left out.
    void add(const QString &name, const QString &value, int offset, int size)
    {
        if (holds(offset, size))
            m_fields.append({name, value, offset, size});
    }
    void addRemark(const QString &name, const QString &value)
    {
        m_fields.append({name, value, -1, 0});
    }
    void addHex(const QString &name, int offset, int size)
    {
        if (holds(offset, size))
            add(name, hexOf(offset, size), offset, size);
    }
    void addAscii(const QString &name, int offset, int size)
    {
        if (holds(offset, size))
            add(name, asciiOf(offset, size), offset, size);
    }

    QString hexOf(int offset, int size) const
    {
        const int shown = qMin(size, MaxHexInText);
        QString text = ZemTool::hexText(m_frame.mid(offset, shown)).trimmed();
        if (shown < size)
            text += QStringLiteral(" …（共%1字节）").arg(size);
        return text;
    }

    // Printable ASCII as it is, everything else as a dot; a newline ends
    // nothing here (one segment is one row).
    QString asciiOf(int offset, int size) const
    {
        QString text;
        text.reserve(size);
        for (int i = offset; i < offset + size; ++i) {
            const int c = ZemTool::byteValue(m_frame, i);
            text.append(c >= 0x20 && c < 0x7F ? QChar(c) : QChar(QLatin1Char('.')));
        }
        return text;
    }

    int byteAt(int offset) const { return Frame::byteAt(m_frame, offset); }
    int word(int offset) const { return holds(offset, 2) ? ZemTool::word16(m_frame, offset) : -1; }
    const QByteArray &frame() const { return m_frame; }
    QVector<FrameField> take() { return std::move(m_fields); }

private:
    const QByteArray &m_frame;
    QVector<FrameField> m_fields;
};

QString hexByte(int value)
{
    return QStringLiteral("0x") + SettingKeys::hexCode(value);
}

QString decimalAndHex(int value, int digits)
{
    return QStringLiteral("%1（0x%2）")
        .arg(value)
        .arg(QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0')));
}

// --- data points -------------------------------------------------------------

// Where a record's value lies in a frame whose value part starts at
// valueStart, as [offset, offset + size): whole-byte values at
// valueStart + byte_offset; bit values in the bytes of their class's area
// that hold their bits (numbered from the area's last byte backwards).
struct Place
{
    qint64 offset = -1;
    qint64 size = 0;
    qint64 areaEnd = -1; // bit values: the byte after their area
};

Place placeOf(const DataPointDefinition &def, const json_struct &r, qint64 valueStart,
              qint64 areaStart)
{
    Place place;
    if (r.unit != DataPointText::BitUnit) {
        place.offset = valueStart + r.byte_offset;
        place.size = qMax(0, r.len);
        return place;
    }
    if (r.len <= 0 || r.bit_offset < 0)
        return place;
    const qint64 len = qMin(r.len, 16);
    place.areaEnd = areaStart + def.areaBytes(r.type);
    const qint64 last = place.areaEnd - 1 - r.bit_offset / 8;
    place.size = (r.bit_offset % 8 + len + 7) / 8;
    place.offset = last - place.size + 1;
    return place;
}

// The value's text as the data-point table shows it; empty when the frame
// (up to its checksum byte) does not hold it.
QString valueText(const json_struct &r, const QByteArray &frame, const Place &place)
{
    const qint64 end = qint64(frame.size()) - Frame::ChecksumTail;
    if (place.offset < Frame::StatusValueOffset || place.size <= 0
        || place.offset + place.size > end)
        return QString();
    const QString &type = r.data_type;
    if (type == DataPointText::Bool || type == DataPointText::Enum) {
        if (r.unit != DataPointText::BitUnit || place.areaEnd > end)
            return QString();
        const quint16 v = DataPointCodec::getBits(frame, int(place.areaEnd), unsigned(r.bit_offset),
                                                  unsigned(r.len), true);
        if (type == DataPointText::Enum && v < r.enum_list.size())
            return r.enum_list.at(v);
        return QString::number(v);
    }
    quint64 number = 0;
    int width = 0;
    if (type == DataPointText::Uint8)
        width = 1;
    else if (type == DataPointText::Uint16)
        width = 2;
    else if (type == DataPointText::Uint32)
        width = 4;
    if (width > 0) {
        if (place.size < width)
            return QString();
        for (int k = 0; k < width; ++k)
            number = (number << 8) | quint8(frame.at(int(place.offset + place.size - width + k)));
        return QString::number(number);
    }
    if (type == DataPointText::Binary)
        return QString::fromLatin1(frame.mid(int(place.offset), int(place.size)).toHex());
    return QString();
}

QString pointName(const QString &name)
{
    return QStringLiteral("数据点 %1").arg(name);
}

// Control command (03, action 01): the flag bytes, then the values it sets.
void addControlValues(Builder &b, const DataPointDefinition &def,
                      const QVector<DataPointValue> &values)
{
    QStringList named;
    for (const DataPointValue &v : values)
        named.append(v.name);
    b.add(QStringLiteral("设置标志"),
          named.isEmpty() ? QStringLiteral("不设置任何数据点") : named.join(QStringLiteral("、")),
          Frame::StatusValueOffset, (def.writableCount() + 7) / 8);
    for (const DataPointValue &v : values) {
        if (b.holds(v.offset, v.size))
            b.add(pointName(v.name), v.value, v.offset, v.size);
        else
            b.addRemark(pointName(v.name), v.value);
    }
}

// Status report (05) and status answer (04, action 03): every data point.
void addStatusValues(Builder &b, const QVector<DataPointValue> &values)
{
    for (const DataPointValue &v : values) {
        if (v.value.isEmpty())
            b.addRemark(pointName(v.name), QStringLiteral("（帧中没有此值）"));
        else
            b.add(pointName(v.name), v.value, v.offset, v.size);
    }
}

bool carriesStatus(const QByteArray &frame)
{
    return Frame::isStatusAnswer(frame)
        || (Frame::isCommand(frame, Frame::Command::StatusReport)
            && Frame::action(frame) == Frame::code(Frame::StatusAction::Report));
}

// --- commands ----------------------------------------------------------------

QString actionText(int command, int action)
{
    using A = Frame::StatusAction;
    if (command == Frame::code(Frame::Command::Status)) {
        if (action == Frame::code(A::Control))
            return QStringLiteral("01 控制");
        if (action == Frame::code(A::Read))
            return QStringLiteral("02 查询状态");
    } else if (command == Frame::code(Frame::Command::StatusReply)) {
        if (action == Frame::code(A::Answer))
            return QStringLiteral("03 状态应答");
    } else if (command == Frame::code(Frame::Command::StatusReport)) {
        if (action == Frame::code(A::Report))
            return QStringLiteral("04 状态上报");
    }
    return SettingKeys::hexCode(action) + QStringLiteral(" 未知动作");
}

void addCommandFields(Builder &b, const QStringList &described, const DataPointDefinition *def)
{
    const std::optional<Frame::Command> command = Frame::command(b.frame());
    if (!command)
        return;
    using C = Frame::Command;
    using D = ZemDescriber::Field;
    const QByteArray &frame = b.frame();
    switch (*command) {
    case C::ProductInfoReply: {
        b.addAscii(QStringLiteral("协议版本"), ProtocolVersionOffset, Frame::VersionWidth);
        b.addAscii(QStringLiteral("第二协议版本"), SecondProtocolVersionOffset,
                   Frame::VersionWidth);
        b.addAscii(QStringLiteral("硬件版本"), Frame::HardVersionOffset, Frame::VersionWidth);
        b.addAscii(QStringLiteral("软件版本"), Frame::SoftVersionOffset, Frame::VersionWidth);
        b.addAscii(QStringLiteral("产品密钥"), Frame::ProductKeyOffset, Frame::ProductKeyWidth);
        const int binding = b.word(Frame::BindingTimeOffset);
        if (binding >= 0)
            b.add(QStringLiteral("可绑定时间"), QString::number(binding), Frame::BindingTimeOffset,
                  2);
        if (Frame::lengthField(frame) == Frame::CentralLength)
            b.addHex(QStringLiteral("设备属性"), Frame::AttributesOffset, AttributesWidth);
        if (!described.at(D::ProductKey).isEmpty())
            b.addRemark(QStringLiteral("本机产品密钥"), described.at(D::ProductKey));
        break;
    }
    case C::Status:
    case C::StatusReply:
    case C::StatusReport: {
        const int action = Frame::action(frame);
        if (action < 0)
            break;
        b.add(QStringLiteral("动作"), actionText(Frame::code(*command), action),
              Frame::ActionOffset, 1);
        const bool control = Frame::isControlCommand(frame);
        if (!control && !carriesStatus(frame))
            break;
        if (!def || def->isEmpty()) {
            b.addRemark(QStringLiteral("数据点"),
                        QStringLiteral("选择产品的数据点定义后按名称显示各数据点的值"));
            break;
        }
        if (control)
            addControlValues(b, *def, dataPointValues(frame, *def));
        else
            addStatusValues(b, dataPointValues(frame, *def));
        break;
    }
    case C::ConfigMode:
        b.add(QStringLiteral("配置模式"), described.at(D::SetMode), Frame::ConfigModeOffset, 1);
        break;
    case C::WifiStatus:
        b.add(QStringLiteral("信号强度"), described.at(D::Signal), Frame::WifiSignalOffset, 1);
        b.add(QStringLiteral("APP连接"), described.at(D::HasConnect), Frame::WifiSignalOffset, 1);
        b.add(QStringLiteral("连接状态"), described.at(D::Connect), Frame::WifiStateOffset, 1);
        b.add(QStringLiteral("WiFi状态"), described.at(D::WifiState), Frame::WifiStateOffset, 1);
        break;
    case C::NetworkTimeReply:
        b.add(QStringLiteral("时间"), described.at(D::Time), Frame::TimeYearOffset,
              Frame::TimeSecondOffset - Frame::TimeYearOffset + 1);
        break;
    case C::FirmwareStart: {
        const int count = b.word(Frame::FirmwareCountOffset);
        if (count < 0)
            break;
        b.add(QStringLiteral("固件信息长度"), QString::number(count), Frame::FirmwareCountOffset,
              2);
        b.addHex(QStringLiteral("固件信息"), Frame::FirmwareFieldOffset, count);
        break;
    }
    case C::FirmwareReady: {
        const int type = b.byteAt(Frame::TransferTypeOffset);
        if (type >= 0)
            b.add(QStringLiteral("传输形式"),
                  type == Frame::HexTransfer ? QStringLiteral("hex") : QStringLiteral("bin"),
                  Frame::TransferTypeOffset, 1);
        const int count = b.word(ReadyCountOffset);
        if (count < 0)
            break;
        b.add(QStringLiteral("固件信息长度"), QString::number(count), ReadyCountOffset, 2);
        b.addHex(QStringLiteral("固件信息"), ReadyFieldOffset, count);
        const int piece = b.word(ReadyFieldOffset + count);
        if (piece >= 0)
            b.add(QStringLiteral("分片大小"), QString::number(piece), ReadyFieldOffset + count, 2);
        break;
    }
    case C::FirmwarePiece: {
        const int number = b.word(Frame::PieceNumberOffset);
        if (number >= 0)
            b.add(QStringLiteral("分片序号"), QString::number(number), Frame::PieceNumberOffset, 2);
        const int dataSize = frame.size() - Frame::ChecksumTail - Frame::PieceDataOffset;
        if (dataSize > 0)
            b.addHex(QStringLiteral("分片数据"), Frame::PieceDataOffset, dataSize);
        break;
    }
    case C::ProductInfo:
    case C::StatusReportReply:
    case C::Heartbeat:
    case C::HeartbeatReply:
    case C::ConfigModeReply:
    case C::ModuleReset:
    case C::ModuleResetReply:
    case C::WifiStatusReply:
    case C::McuRestart:
    case C::McuRestartReply:
    case C::IllegalFrame:
    case C::IllegalFrameReply:
    case C::TestMode:
    case C::TestModeReply:
    case C::BindingMode:
    case C::BindingModeReply:
    case C::NetworkTime:
    case C::FirmwareStartReply:
    case C::FirmwareReadyReply:
    case C::FirmwarePieceReply:
    case C::FirmwareEnd:
    case C::FirmwareEndReply:
        break;
    }
}

QVector<FrameField> version4Fields(const QByteArray &frame, const ZemDescriber::Lookup &lookup,
                                   const DataPointDefinition *def)
{
    Builder b(frame);
    const QStringList described = ZemDescriber::describe(frame, lookup);
    b.addHex(QStringLiteral("帧头"), 0, 2);

    const int length = Frame::lengthField(frame);
    const bool whole = length >= 0 && length + Frame::LengthFieldOverhead == frame.size();
    if (length >= 0) {
        QString text = decimalAndHex(length, 4);
        if (!whole)
            text += QStringLiteral("；应有%1字节，帧中%2字节")
                        .arg(length + Frame::LengthFieldOverhead)
                        .arg(frame.size());
        b.add(QStringLiteral("长度"), text, Frame::LengthOffset, 2);
    }
    const int command = Frame::commandCode(frame);
    if (command >= 0) {
        b.add(QStringLiteral("命令"), hexByte(command), Frame::CommandOffset, 1);
        const QString &description = described.at(ZemDescriber::Description);
        b.add(QStringLiteral("说明"),
              description.isEmpty() ? QStringLiteral("未知命令") : description,
              Frame::CommandOffset, 1);
    }
    const int sequence = Frame::sequence(frame);
    if (sequence >= 0)
        b.add(QStringLiteral("序号"), decimalAndHex(sequence, 2), Frame::SequenceOffset, 1);
    b.addHex(QStringLiteral("标志"), Frame::FlagsOffset, 2);

    // The payload runs up to the checksum of a whole frame; a cut frame has
    // no checksum byte, so everything after the flags is shown as payload.
    const int payloadEnd = whole ? frame.size() - Frame::ChecksumTail : frame.size();
    if (payloadEnd > Frame::PayloadOffset)
        b.addHex(QStringLiteral("负载"), Frame::PayloadOffset, payloadEnd - Frame::PayloadOffset);
    addCommandFields(b, described, def);

    if (whole) {
        const int carried = b.byteAt(frame.size() - 1);
        const int computed = ZemTool::frameChecksum(frame);
        b.add(QStringLiteral("校验和"),
              ZemDescriber::hasWrongChecksum(frame)
                  ? QStringLiteral("%1 错误，应为%2").arg(hexByte(carried), hexByte(computed))
                  : QStringLiteral("%1 正确").arg(hexByte(carried)),
              frame.size() - 1, 1);
    } else if (frame.size() >= Frame::LengthFieldOverhead) {
        b.addRemark(QStringLiteral("校验和"), QStringLiteral("帧不完整，无法校验"));
    }
    return b.take();
}

QVector<FrameField> version3Fields(const QByteArray &frame)
{
    Builder b(frame);
    b.addHex(QStringLiteral("帧头"), 0, V3HeaderSize);
    const int length = b.word(V3LengthOffset);
    if (length >= 0) {
        QString text = decimalAndHex(length, 4);
        if (V3DataOffset + length != frame.size())
            text += QStringLiteral("；应有%1字节，帧中%2字节")
                        .arg(V3DataOffset + length)
                        .arg(frame.size());
        b.add(QStringLiteral("长度"), text, V3LengthOffset, 2);
    }
    if (frame.size() > V3DataOffset)
        b.addHex(QStringLiteral("数据"), V3DataOffset, frame.size() - V3DataOffset);
    return b.take();
}

// What the program did to the line: a modem line set or a break sent.
QVector<FrameField> eventFields(const QByteArray &bytes)
{
    Builder b(bytes);
    const LineEvent::Event event = LineEvent::decode(bytes);
    b.addRemark(QStringLiteral("线路事件"), LineEvent::text(event));
    if (event.code == LineEvent::Break)
        b.add(QStringLiteral("时长"), QStringLiteral("%1 毫秒").arg(event.durationMs), 2, 2);
    b.addHex(QStringLiteral("十六进制"), 0, bytes.size());
    return b.take();
}

QVector<FrameField> otherFields(const QByteArray &bytes)
{
    Builder b(bytes);
    b.addRemark(QStringLiteral("帧外字节"), QStringLiteral("%1字节").arg(bytes.size()));
    b.addHex(QStringLiteral("十六进制"), 0, bytes.size());
    b.addAscii(QStringLiteral("文本"), 0, bytes.size());
    return b.take();
}

} // namespace

QVector<FrameField> frameFields(const QByteArray &frame, SegmentKind kind,
                                const ZemDescriber::Lookup &lookup,
                                const DataPointDefinition *definition)
{
    switch (kind) {
    case SegmentKind::Frame4:
        return version4Fields(frame, lookup, definition);
    case SegmentKind::Frame3:
        return version3Fields(frame);
    case SegmentKind::Event:
        return eventFields(frame);
    case SegmentKind::Other:
        break;
    }
    return otherFields(frame);
}

QVector<DataPointValue> dataPointValues(const QByteArray &frame, const DataPointDefinition &def)
{
    QVector<DataPointValue> out;
    if (Frame::isControlCommand(frame)) {
        // The codec decides which data points the frame sets and their
        // values; here they are only placed and listed in definition order.
        const QMap<QString, QString> values = DataPointCodec::decodeControl(def, frame);
        // The writable bit area begins right after the flags, whatever the
        // record's byte_offset says.
        const qint64 valueStart = Frame::StatusValueOffset + (def.writableCount() + 7) / 8;
        for (const json_struct &r : def.records()) {
            if (!values.contains(r.display_name))
                continue;
            const bool named = std::any_of(out.cbegin(), out.cend(), [&r](const DataPointValue &v) {
                return v.name == r.display_name;
            });
            if (named)
                continue;
            const Place place = placeOf(def, r, valueStart, valueStart);
            out.append(
                {r.display_name, values.value(r.display_name), int(place.offset), int(place.size)});
        }
    } else if (carriesStatus(frame)) {
        const qint64 valueStart = Frame::StatusValueOffset;
        for (const json_struct &r : def.records()) {
            const Place place = placeOf(def, r, valueStart, valueStart + r.byte_offset);
            out.append(
                {r.display_name, valueText(r, frame, place), int(place.offset), int(place.size)});
        }
    }
    return out;
}
