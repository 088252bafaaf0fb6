// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"

#include <QByteArray>
#include <QString>

// One packet of a session capture. Captures are classic pcap files with the
// private link type USER0 (147); each packet is a small pseudo-header followed
// by the bytes exactly as they crossed the line:
//
//   byte 0      format version (1)
//   byte 1      direction: 0 MCU -> module, 1 module -> MCU
//   byte 2      kind: 0 v4 frame, 1 v3 frame, 2 other bytes, 3 line event
//   byte 3      length n of the port name (0..255)
//   4 .. 4+n-1  the port name, UTF-8
//   4+n ..      the wire bytes (a v4 frame in its escaped form), or for a
//               line event its description (see LineEvent)
//
// The packet's time stamp is the arrival time of its first byte, or the time
// of the event. Line events came later than the other kinds: files without
// them are the same as before, and a reader that does not know kind 3 skips
// those packets and reads the rest.
namespace CapturePacket {

constexpr quint8 Version = 1;
constexpr int LinkType = 147; // LINKTYPE_USER0 / DLT_USER0
constexpr int HeaderSize = 4;
constexpr int MaxPortNameBytes = 255;
// The largest packet a pcap reader accepts for this link type; a segment
// never comes close (an escaped v4 frame stays under 132 KiB).
constexpr int MaxPacketBytes = 262144;

// The port name as it goes into the pseudo-header: UTF-8, cut to 255 bytes
// at a character boundary.
QByteArray portNameBytes(const QString &portName);

// Writes the pseudo-header and the wire bytes into `out` (its old content is
// replaced; its capacity is reused, so a writer keeps one buffer for all).
void encode(const LineSegment &segment, const QByteArray &portName, QByteArray &out);

// Reads one packet's bytes back into `segment` (time left alone) and the raw
// port name bytes. False, with the reason in `error`, when the bytes are not
// a packet of this format: a short pseudo-header, another version, a
// direction or kind out of range, a port name longer than the packet.
bool decode(const char *data, qsizetype size, LineSegment &segment, QByteArray &portName,
            QString *error);

} // namespace CapturePacket
