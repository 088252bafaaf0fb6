#pragma once

#include <QByteArray>

// Layout of a version 4 frame as it travels between the MCU and the Wi-Fi
// module (unescaped form; see ZemTool::escape for the wire form):
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

// Command 0x03 (module to MCU) names its action in the first payload byte:
// 01 sets data points (a control command), 02 asks for the status. The byte
// at offset 8 is payload only when a checksum still follows it: in
// FF FF 00 05 03 F9 00 00 01 the 01 is the checksum of a frame without
// payload, and such a frame is neither control nor status read. Everything
// that tells the two apart (the responder, the simulated-MCU tab) asks here.
constexpr int CommandStatus = 0x03;
constexpr int ActionControl = 0x01;
constexpr int ActionStatusRead = 0x02;

// The action byte of a 0x03 frame, or -1 for another command or a frame
// without payload.
inline int statusAction(const QByteArray &frame)
{
    if (frame.size() <= CommandOffset || quint8(frame.at(CommandOffset)) != CommandStatus)
        return -1;
    if (PayloadOffset >= frame.size() - ChecksumTail)
        return -1;
    return quint8(frame.at(PayloadOffset));
}

inline bool isControlCommand(const QByteArray &frame)
{
    return statusAction(frame) == ActionControl;
}

inline bool isStatusRead(const QByteArray &frame)
{
    return statusAction(frame) == ActionStatusRead;
}

// The frame a receiver reads from these wire bytes: from offset 3 on, each
// FF 55 becomes a single FF. An FF followed by anything else is kept as it
// is (a sender that did not escape). One pass, linear in the input.
inline QByteArray unescape(const QByteArray &wire)
{
    QByteArray frame;
    frame.reserve(wire.size());
    const int size = wire.size();
    for (int i = 0; i < size; ++i) {
        const char c = wire.at(i);
        frame.append(c);
        if (i >= FirstEscapedOffset && quint8(c) == HeaderByte && i + 1 < size
            && quint8(wire.at(i + 1)) == EscapeByte)
            ++i;
    }
    return frame;
}

} // namespace Frame
