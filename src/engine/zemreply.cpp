// SPDX-License-Identifier: GPL-3.0-or-later
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

namespace ZemReply {

namespace {

    // The same rule for bytes: a byte outside printable ASCII becomes '?'.
    QByteArray versionFieldOfBytes(const QByteArray &bytes)
    {
        QByteArray field = bytes.left(Frame::VersionWidth).leftJustified(Frame::VersionWidth, ' ');
        for (char &c : field)
            if (!isPrintableAscii(static_cast<unsigned char>(c)))
                c = '?';
        return field;
    }

} // namespace

QByteArray versionField(const QString &text)
{
    QByteArray field;
    field.reserve(Frame::VersionWidth);
    // By code point, so that a character outside the BMP (two UTF-16 units)
    // still takes a single byte.
    for (const uint c : text.toUcs4()) {
        if (field.size() == Frame::VersionWidth)
            break;
        field.append(isPrintableAscii(c) ? char(c) : '?');
    }
    return field.leftJustified(Frame::VersionWidth, ' ');
}

bool isVersionText(const QString &text)
{
    if (text.size() != Frame::VersionWidth)
        return false;
    for (const QChar c : text)
        if (!isPrintableAscii(c.unicode()))
            return false;
    return true;
}

std::optional<Frame::Command> replyTo(Frame::Command request)
{
    using C = Frame::Command;
    switch (request) {
    case C::ProductInfo:
        return C::ProductInfoReply;
    case C::Status: // control or status read
        return C::StatusReply;
    case C::Heartbeat:
        return C::HeartbeatReply;
    case C::WifiStatus:
        return C::WifiStatusReply;
    case C::McuRestart:
        return C::McuRestartReply;
    case C::IllegalFrame:
        return C::IllegalFrameReply;
    case C::TestMode:
        return C::TestModeReply;
    case C::BindingMode:
        return C::BindingModeReply;
    case C::FirmwareStart:
        return C::FirmwareStartReply;
    case C::FirmwarePiece:
        return C::FirmwarePieceReply;
    case C::FirmwareEnd:
        return C::FirmwareEndReply;
    // The MCU's own requests: the module answers them, not the MCU.
    case C::StatusReport:
    case C::ConfigMode:
    case C::ModuleReset:
    case C::NetworkTime:
    case C::FirmwareReady:
    // Replies are never answered.
    case C::ProductInfoReply:
    case C::StatusReply:
    case C::StatusReportReply:
    case C::HeartbeatReply:
    case C::ConfigModeReply:
    case C::ModuleResetReply:
    case C::WifiStatusReply:
    case C::McuRestartReply:
    case C::IllegalFrameReply:
    case C::TestModeReply:
    case C::BindingModeReply:
    case C::NetworkTimeReply:
    case C::FirmwareStartReply:
    case C::FirmwareReadyReply:
    case C::FirmwarePieceReply:
    case C::FirmwareEndReply:
        return std::nullopt;
    }
    return std::nullopt;
}

int requestSizeNeeded(const QByteArray &request)
{
    // Command and sequence number are read from every request.
    constexpr int base = Frame::SequenceOffset + 1;
    if (Frame::isCommand(request, Frame::Command::FirmwareStart)) {
        // The count, then the field it counts, then the checksum.
        const int fieldStart = Frame::FirmwareFieldOffset;
        if (request.size() < fieldStart)
            return fieldStart + 1;
        return fieldStart + ZemTool::word16(request, Frame::FirmwareCountOffset) + 1;
    }
    if (Frame::isCommand(request, Frame::Command::FirmwarePiece))
        return Frame::PieceDataOffset + 1;
    return base;
}

int templateSizeNeeded(Frame::Command request)
{
    if (request == Frame::Command::ProductInfo)
        return Frame::AttributesOffset + 1; // binding time at 72..73, then the checksum
    return Frame::MinFrameSize;
}

void copySequence(QByteArray &reply, const QByteArray &request)
{
    if (Frame::SequenceOffset < request.size())
        setByte(reply, Frame::SequenceOffset, Frame::sequence(request));
}

void patchProductInfo(QByteArray &reply, const DeviceInfo &device)
{
    if (reply.size() < templateSizeNeeded(Frame::Command::ProductInfo))
        return;
    const int binding = std::clamp(device.bindingTime, 0, 0xFFFF);
    setByte(reply, Frame::BindingTimeOffset, binding >> 8);
    setByte(reply, Frame::BindingTimeOffset + 1, binding);
    writeField(reply, Frame::HardVersionOffset, Frame::VersionWidth,
               versionFieldOfBytes(device.hardVersion));
    writeField(reply, Frame::SoftVersionOffset, Frame::VersionWidth,
               versionFieldOfBytes(device.softVersion));
    if (device.central) {
        Frame::setLengthField(reply, Frame::CentralLength);
        reply.insert(Frame::AttributesOffset, centralAttributes());
    }
}

void markStatusReply(QByteArray &reply)
{
    // The stored 04 template is the plain acknowledgement (length 5): its
    // offset 8 is the checksum place. The status answer carries the action
    // byte 03 as payload, so it is inserted there and counted in the length;
    // the tab recognises the answer by that payload and fills in the status.
    const char answer = char(Frame::code(Frame::StatusAction::Answer));
    if (reply.size() == Frame::MinFrameSize) {
        reply.insert(Frame::ActionOffset, answer);
        Frame::setLengthField(reply, Frame::lengthField(reply) + 1);
        return;
    }
    setByte(reply, Frame::ActionOffset, answer);
}

QByteArray statusAnswer(const QByteArray &reply, const QByteArray &statusReport)
{
    if (!Frame::isStatusAnswer(reply))
        return reply;
    QByteArray frame = statusReport;
    if (frame.size() <= Frame::ActionOffset)
        return frame;
    frame[Frame::CommandOffset] = char(Frame::code(Frame::Command::StatusReply));
    frame[Frame::SequenceOffset] = reply.at(Frame::SequenceOffset);
    frame[Frame::ActionOffset] = char(Frame::code(Frame::StatusAction::Answer));
    ZemTool::setFrameChecksum(frame);
    return frame;
}

bool writeProductKey(QByteArray &reply, const QByteArray &key)
{
    if (key.size() != Frame::ProductKeyWidth
        || reply.size() < Frame::ProductKeyOffset + Frame::ProductKeyWidth + 1)
        return false;
    writeField(reply, Frame::ProductKeyOffset, Frame::ProductKeyWidth, key);
    ZemTool::setFrameChecksum(reply);
    return true;
}

bool firmwareFields(const QByteArray &request, QByteArray *count, QByteArray *field)
{
    if (!Frame::isCommand(request, Frame::Command::FirmwareStart)
        || request.size() < requestSizeNeeded(request))
        return false;
    const int n = ZemTool::word16(request, Frame::FirmwareCountOffset);
    *count = request.mid(Frame::FirmwareCountOffset, 2);
    *field = request.mid(Frame::FirmwareFieldOffset, n);
    return true;
}

bool firmwarePiece(const QByteArray &request, int *number, QByteArray *data)
{
    if (request.size() < Frame::PieceDataOffset + 1)
        return false;
    *number = ZemTool::word16(request, Frame::PieceNumberOffset);
    *data = request.mid(Frame::PieceDataOffset, request.size() - Frame::PieceDataOffset - 1);
    return true;
}

} // namespace ZemReply
