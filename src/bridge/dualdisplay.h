// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/frameformat.h"

#include <QByteArray>
#include <QString>

// How the dual tab turns received bytes into the text of a receive box.
//
// Each byte is shown as two upper-case hex digits and a blank. A new line,
// opened by the time "hh:mm:ss.zzz" and a colon, starts wherever a frame
// header stands at the front of the bytes still waiting to be shown: FF FF
// (version 4), or 00 00 00 03 (version 3) when version 3 line breaks are on.
// Since a version 3 header is four bytes long, the last three bytes of
// everything received so far are held back: they are shown either when more
// bytes arrive or by the periodic flush, which prints them on the running
// line. A header split across a flush therefore stays on the running line.
//
// The functions produce, in one string, exactly the text that printing the
// bytes one by one would give; "\n" stands for "start a new paragraph", which
// QTextCursor::insertText turns into a new block. Work is linear in the bytes
// handled, so a chunk costs one pass and one edit of the box.
namespace DualDisplay {

// At most this many bytes wait between calls for more input or the flush.
constexpr int HeldBytes = 3;

// Feeds one received chunk. `held` carries the bytes not yet shown from
// one call to the next (at most HeldBytes on return). `stamp` is the time
// text written at the head of every new line.
QString takeChunk(QByteArray &held, const QByteArray &chunk, bool version3Breaks,
                  const QString &stamp);

// The periodic flush: the held bytes, shown on the running line; `held`
// is emptied.
QString flush(QByteArray &held);

// Whether a line break goes in front of bytes[at]. Needs four bytes from
// `at` on (the caller guarantees more than HeldBytes remain).
inline bool startsLine(const char *bytes, bool version3Breaks)
{
    const auto *b = reinterpret_cast<const unsigned char *>(bytes);
    if (b[0] == Frame::HeaderByte && b[1] == Frame::HeaderByte)
        return true;
    return version3Breaks && b[0] == 0x00 && b[1] == 0x00 && b[2] == 0x00 && b[3] == 0x03;
}

} // namespace DualDisplay
