#include "engine/zemreply.h"

#include "protocol/frameformat.h"
#include "protocol/zemtool.h"

#include <algorithm>

namespace {

// Overwrites at most `width` bytes at `offset` with `text`; a longer text is
// cut so that it never spills into the next field.
void writeField(QByteArray &bytes, int offset, int width, const QByteArray &text)
{
    const int n = std::min({int(text.size()), width, int(bytes.size()) - offset});
    if (offset < 0 || n <= 0)
        return;
    std::copy_n(text.constData(), n, bytes.data() + offset);
}

void setByte(QByteArray &bytes, int offset, int value)
{
    if (offset >= 0 && offset < bytes.size())
        bytes.data()[offset] = static_cast<char>(value & 0xFF);
}

// 00 00 00 00 00 00 00 01: the device attributes of a central module.
const QByteArray &centralAttributes()
{
    static const QByteArray attributes("\x00\x00\x00\x00\x00\x00\x00\x01", 8);
    return attributes;
}

bool isPrintableAscii(uint c)
{
    return c >= 0x20 && c < 0x7F;
}

} // namespace

QByteArray ZemReply::versionField(const QString &text)
{
    QByteArray field;
    field.reserve(VersionWidth);
    // By code point, so that a character outside the BMP (two UTF-16 units)
    // still takes a single byte.
    for (const uint c : text.toUcs4()) {
        if (field.size() == VersionWidth)
            break;
        field.append(isPrintableAscii(c) ? char(c) : '?');
    }
    return field.leftJustified(VersionWidth, ' ');
}

QByteArray ZemReply::versionFieldOfBytes(const QByteArray &bytes)
{
    QByteArray field = bytes.left(VersionWidth).leftJustified(VersionWidth, ' ');
    for (char &c : field)
        if (!isPrintableAscii(static_cast<unsigned char>(c)))
            c = '?';
    return field;
}

bool ZemReply::isVersionText(const QString &text)
{
    if (text.size() != VersionWidth)
        return false;
    for (const QChar c : text)
        if (!isPrintableAscii(c.unicode()))
            return false;
    return true;
}

int ZemReply::replyCode(int requestCode)
{
    switch (requestCode) {
    case 0x01: // product information
    case 0x03: // control or status read
    case 0x07: // heartbeat
    case 0x0D: // Wi-Fi status
    case 0x0F: // MCU restart
    case 0x11: // illegal frame notice
    case 0x13: // production test
    case 0x15: // binding mode
    case 0x19: // firmware transfer start
    case 0x1D: // firmware piece
    case 0x1F:
        return requestCode + 1;
    default:
        return -1;
    }
}

int ZemReply::requestSizeNeeded(const QByteArray &request)
{
    // Command and sequence number are read from every request.
    constexpr int base = Frame::SequenceOffset + 1;
    switch (ZemTool::byteValue(request, Frame::CommandOffset)) {
    case 0x19: {
        // The count, then the field it counts, then the checksum.
        const int fieldStart = FirmwareFieldOffset;
        if (request.size() < fieldStart)
            return fieldStart + 1;
        return fieldStart + ZemTool::word16(request, FirmwareCountOffset) + 1;
    }
    case 0x1D:
        return PieceDataOffset + 1;
    default:
        return base;
    }
}

int ZemReply::templateSizeNeeded(int requestCode)
{
    if (requestCode == 0x01)
        return AttributesOffset + 1; // binding time at 72..73, then the checksum
    return Frame::MinFrameSize;
}

bool ZemReply::isStatusRead(const QByteArray &request)
{
    // The same rule the simulated-MCU tab uses for control commands.
    return Frame::isStatusRead(request);
}

void ZemReply::copySequence(QByteArray &reply, const QByteArray &request)
{
    if (Frame::SequenceOffset < request.size())
        setByte(reply, Frame::SequenceOffset, ZemTool::byteValue(request, Frame::SequenceOffset));
}

void ZemReply::patchProductInfo(QByteArray &reply, const DeviceInfo &device)
{
    if (reply.size() < templateSizeNeeded(0x01))
        return;
    const int binding = std::clamp(device.bindingTime, 0, 0xFFFF);
    setByte(reply, BindingTimeOffset, binding >> 8);
    setByte(reply, BindingTimeOffset + 1, binding);
    writeField(reply, HardVersionOffset, VersionWidth, versionFieldOfBytes(device.hardVersion));
    writeField(reply, SoftVersionOffset, VersionWidth, versionFieldOfBytes(device.softVersion));
    if (device.central) {
        setByte(reply, Frame::LengthOffset, CentralLength >> 8);
        setByte(reply, Frame::LengthOffset + 1, CentralLength);
        reply.insert(AttributesOffset, centralAttributes());
    }
}

void ZemReply::markStatusReply(QByteArray &reply)
{
    // The stored 04 template is the plain acknowledgement (length 5): its
    // offset 8 is the checksum place. The status answer carries the action
    // byte 03 as payload, so it is inserted there and counted in the length;
    // the tab recognises the answer by that payload and fills in the status.
    if (reply.size() == Frame::MinFrameSize) {
        reply.insert(Frame::PayloadOffset, char(0x03));
        const int length = ZemTool::word16(reply, Frame::LengthOffset) + 1;
        setByte(reply, Frame::LengthOffset, length >> 8);
        setByte(reply, Frame::LengthOffset + 1, length);
        return;
    }
    setByte(reply, Frame::PayloadOffset, 0x03);
}

bool ZemReply::writeProductKey(QByteArray &reply, const QByteArray &key)
{
    if (key.size() != ProductKeyWidth || reply.size() < ProductKeyOffset + ProductKeyWidth + 1)
        return false;
    writeField(reply, ProductKeyOffset, ProductKeyWidth, key);
    ZemTool::setFrameChecksum(reply);
    return true;
}

bool ZemReply::firmwareFields(const QByteArray &request, QByteArray *count, QByteArray *field)
{
    if (ZemTool::byteValue(request, Frame::CommandOffset) != 0x19
        || request.size() < requestSizeNeeded(request))
        return false;
    const int n = ZemTool::word16(request, FirmwareCountOffset);
    *count = request.mid(FirmwareCountOffset, 2);
    *field = request.mid(FirmwareFieldOffset, n);
    return true;
}

bool ZemReply::firmwarePiece(const QByteArray &request, int *number, QByteArray *data)
{
    if (request.size() < PieceDataOffset + 1)
        return false;
    *number = ZemTool::word16(request, PieceNumberOffset);
    *data = request.mid(PieceDataOffset, request.size() - PieceDataOffset - 1);
    return true;
}
