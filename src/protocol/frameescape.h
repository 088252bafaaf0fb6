// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/frameformat.h"

#include <QByteArray>
#include <QtGlobal>

// The escaping of a version 4 frame on the wire, read back: from offset 3 on
// (the second length byte) a sender writes every FF as FF 55. A receiver reads
// an FF followed by 55 as one FF; an FF followed by anything else, or last, is
// kept as it is (a sender that did not escape) and reported as bare. Whatever
// looks into the wire form of a frame reads it through these, so the frame
// the analyzer shows is the frame the simulated MCU answers.
namespace Frame {

// Calls visit(byte, bare) for each byte of the unescaped frame, in order, bare
// telling an FF that came without its 55. visit returns false to stop early;
// forEachUnescaped returns whether it went through to the end. One pass, no
// copy.
template <typename Visit> bool forEachUnescaped(const char *wire, qsizetype size, Visit &&visit)
{
    for (qsizetype i = 0; i < size; ++i) {
        const quint8 b = quint8(wire[i]);
        bool bare = false;
        if (b == HeaderByte && i >= FirstEscapedOffset) {
            if (i + 1 < size && quint8(wire[i + 1]) == EscapeByte)
                ++i;
            else
                bare = true;
        }
        if (!visit(b, bare))
            return false;
    }
    return true;
}

// The frame a receiver reads from these wire bytes.
QByteArray unescape(const QByteArray &wire);

// A frame as long as its length field says, and no shorter than the shortest
// frame: what a receiver acts on (a frame cut short is only shown).
inline bool isWhole(const QByteArray &frame)
{
    return frame.size() >= MinFrameSize && lengthField(frame) + LengthFieldOverhead == frame.size();
}

} // namespace Frame
