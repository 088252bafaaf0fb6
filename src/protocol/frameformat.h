#pragma once

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

} // namespace Frame
