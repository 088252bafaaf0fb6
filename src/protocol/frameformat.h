// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// The names of the version 4 serial protocol: the frame layout, every command
// code, the status actions and the payload fields the program reads or
// writes. Every file that looks into a frame asks here, so one search finds
// every use of a command or a field.
//
// Layout of a frame as it travels between the MCU and the Wi-Fi module
// (unescaped form; see ZemTool::escape for the wire form, protocol/frameescape.h
// for reading it back):
//
//   offset 0  2 bytes  header, always FF FF
//   offset 2  2 bytes  length, big-endian: bytes from the command through the
//                      checksum, i.e. frame size - 4
//   offset 4  1 byte   command code
//   offset 5  1 byte   sequence number (a reply repeats the request's)
//   offset 6  2 bytes  flags, normally 00 00
//   offset 8  n bytes  payload
//   last      1 byte   checksum: sum mod 256 of offset 2 .. last - 1
namespace Frame {

constexpr unsigned char HeaderByte = 0xFF;
constexpr unsigned char EscapeByte = 0x55;

constexpr int LengthOffset = 2;
constexpr int CommandOffset = 4;
constexpr int SequenceOffset = 5;
constexpr int FlagsOffset = 6;
constexpr int PayloadOffset = 8;

// Bytes around the length-counted part: the two header bytes and the two
// length bytes.
constexpr int LengthFieldOverhead = 4;
// The smallest frame carries no payload: length 5, nine bytes.
constexpr int MinFrameSize = 9;
constexpr int MinLength = 5;

// From this offset on every FF is followed by an inserted 55 on the wire.
constexpr int FirstEscapedOffset = 3;

// Checksum: starts at the first length byte, excludes the checksum byte.
constexpr int ChecksumStart = 2;
constexpr int ChecksumTail = 1;

// Every command code of the protocol. A request the module sends is answered
// with the code one higher; the MCU's own requests (05, 09, 0B, 17, 1B) are
// answered by the module the same way. 13 and 15 may come from either side.
enum class Command : quint8 {
    ProductInfo = 0x01, // module asks for versions, product key, binding time
    ProductInfoReply = 0x02,
    Status = 0x03,       // control (action 01) or status read (action 02)
    StatusReply = 0x04,  // plain acknowledgement, or the status answer (action 03)
    StatusReport = 0x05, // the MCU reports its data points (action 04)
    StatusReportReply = 0x06,
    Heartbeat = 0x07,
    HeartbeatReply = 0x08,
    ConfigMode = 0x09, // MCU asks for a configuration mode: SoftAP 01, AirLink 02
    ConfigModeReply = 0x0A,
    ModuleReset = 0x0B,
    ModuleResetReply = 0x0C,
    WifiStatus = 0x0D, // module pushes its Wi-Fi status word
    WifiStatusReply = 0x0E,
    McuRestart = 0x0F,
    McuRestartReply = 0x10,
    IllegalFrame = 0x11, // module received a frame it could not accept
    IllegalFrameReply = 0x12,
    TestMode = 0x13,
    TestModeReply = 0x14,
    BindingMode = 0x15,
    BindingModeReply = 0x16,
    NetworkTime = 0x17,      // MCU asks for the time
    NetworkTimeReply = 0x18, // year, month, day, hour, minute, second
    FirmwareStart = 0x19,    // module announces new firmware: count and field
    FirmwareStartReply = 0x1A,
    FirmwareReady = 0x1B, // MCU is ready: the field returned, the piece size
    FirmwareReadyReply = 0x1C,
    FirmwarePiece = 0x1D, // piece number and data
    FirmwarePieceReply = 0x1E,
    FirmwareEnd = 0x1F,
    FirmwareEndReply = 0x20,
};
constexpr int FirstCommand = 0x01;
constexpr int LastCommand = 0x20;

constexpr int code(Command command)
{
    return int(command);
}

// The status frames (03, 04, 05) name their action in the first payload byte.
enum class StatusAction : quint8 {
    Control = 0x01, // 03: the module sets data points
    Read = 0x02,    // 03: the module asks for the status
    Answer = 0x03,  // 04: the status, answering a read
    Report = 0x04,  // 05: the status, reported by the MCU on its own
};
constexpr int ActionOffset = PayloadOffset;
// After the action byte: a control frame's flag bytes, a status frame's values.
constexpr int StatusValueOffset = ActionOffset + 1;

constexpr int code(StatusAction action)
{
    return int(action);
}

// Product information reply (02).
constexpr int HardVersionOffset = 24;
constexpr int SoftVersionOffset = 32;
constexpr int VersionWidth = 8;
constexpr int ProductKeyOffset = 40;
constexpr int ProductKeyWidth = 32;
constexpr int BindingTimeOffset = 72;
constexpr int AttributesOffset = 74; // only a central module carries them
constexpr int CentralLength = 0x4F;

// Configuration request (09): the mode byte.
constexpr int ConfigModeOffset = PayloadOffset;
constexpr int ModeSoftAp = 0x01;
constexpr int ModeAirLink = 0x02;

// Wi-Fi status (0D): offset 8 bits 0-2 signal strength, bit 3 an app is
// connected; offset 9 high nibble connection state, low nibble Wi-Fi mode.
constexpr int WifiSignalOffset = PayloadOffset;
constexpr int WifiStateOffset = PayloadOffset + 1;

// Network time (18): year big-endian, then month, day, hour, minute, second.
constexpr int TimeYearOffset = PayloadOffset;
constexpr int TimeSecondOffset = PayloadOffset + 6;

// Firmware start (19): a 2-byte count n, then the n-byte field it counts.
constexpr int FirmwareCountOffset = 12;
constexpr int FirmwareFieldOffset = 14;
// Firmware ready (1B): the second flags byte is 01 for a "hex" transfer.
constexpr int TransferTypeOffset = FlagsOffset + 1;
constexpr int HexTransfer = 0x01;
// Firmware piece (1D): the piece number, then the data up to the checksum.
constexpr int PieceNumberOffset = PayloadOffset;
constexpr int PieceDataOffset = 12;

// --- accessors: bounds-checked, a field the frame does not hold reads -1 ---

inline int byteAt(const QByteArray &frame, int offset)
{
    return offset >= 0 && offset < frame.size() ? int(quint8(frame.at(offset))) : -1;
}

inline int commandCode(const QByteArray &frame)
{
    return byteAt(frame, CommandOffset);
}

// The frame's command when its command byte is one of the table.
inline std::optional<Command> command(const QByteArray &frame)
{
    const int c = commandCode(frame);
    if (c < FirstCommand || c > LastCommand)
        return std::nullopt;
    return Command(c);
}

inline bool isCommand(const QByteArray &frame, Command command)
{
    return commandCode(frame) == code(command);
}

inline int sequence(const QByteArray &frame)
{
    return byteAt(frame, SequenceOffset);
}

// The length field, big-endian.
inline int lengthField(const QByteArray &frame)
{
    if (frame.size() < LengthOffset + 2)
        return -1;
    return (byteAt(frame, LengthOffset) << 8) | byteAt(frame, LengthOffset + 1);
}

// Writes the length field; a frame too short to hold it is left alone.
inline void setLengthField(QByteArray &frame, int length)
{
    if (frame.size() < LengthOffset + 2)
        return;
    frame[LengthOffset] = char((length >> 8) & 0xFF);
    frame[LengthOffset + 1] = char(length & 0xFF);
}

// The byte at offset 8 is payload only when a checksum still follows it: in
// FF FF 00 05 03 F9 00 00 01 the 01 is the checksum of a frame without
// payload, and such a frame is neither control nor status read.
inline bool hasPayload(const QByteArray &frame)
{
    return PayloadOffset < frame.size() - ChecksumTail;
}

// The bytes between the flags and the checksum; empty without payload.
inline QByteArray payload(const QByteArray &frame)
{
    if (!hasPayload(frame))
        return QByteArray();
    return frame.mid(PayloadOffset, frame.size() - PayloadOffset - ChecksumTail);
}

// The first payload byte, the action of a status frame.
inline int action(const QByteArray &frame)
{
    return hasPayload(frame) ? byteAt(frame, ActionOffset) : -1;
}

// Everything that tells a control command from a status read (the
// responder, the simulated-MCU tab) asks these.
inline bool isControlCommand(const QByteArray &frame)
{
    return isCommand(frame, Command::Status) && action(frame) == code(StatusAction::Control);
}

inline bool isStatusRead(const QByteArray &frame)
{
    return isCommand(frame, Command::Status) && action(frame) == code(StatusAction::Read);
}

// A status reply whose length field counts a payload that starts with 03: the
// answer to a status read, still without its values. A plain acknowledgement
// (length 5) whose checksum happens to be 03 is none.
inline bool isStatusAnswer(const QByteArray &frame)
{
    return isCommand(frame, Command::StatusReply) && lengthField(frame) > MinLength
        && action(frame) == code(StatusAction::Answer);
}

} // namespace Frame
