// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"

#include <QString>

#include <functional>

// Reads a session capture (see capturepacket.h) with libpcap: Lumo's own
// files and any pcap or pcapng file with link type USER0 whose packets carry
// the same pseudo-header.
class CaptureReader
{
public:
    // Hands every packet, in file order, to `sink` (which returns false to
    // stop early). Returns false, with the reason in `error`, when the file
    // cannot be opened, is no capture (an empty file is none), has another
    // link type, or holds no packet of this format at all. A packet that is
    // not of this format (or was cut when captured) is skipped: the others
    // are still worth reading. `skipped` gets their count and `error` the
    // reason of the first. A file that ends inside a packet, as one does
    // after a crash or a power cut, gives every whole packet and sets
    // `cutShort`.
    //
    // A pcapng simple packet block carries no time stamp: such a packet
    // takes the time of the packet before it (those before the first stamped
    // packet take that one's; a file with none, the file's last change), and
    // `untimed` gets their count.
    static bool read(const QString &path,
                     const std::function<bool(const LineSegment &, const QString &portName)> &sink,
                     QString *error, bool *cutShort, qint64 *skipped = nullptr,
                     qint64 *untimed = nullptr);
};
