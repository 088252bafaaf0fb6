// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"

#include <QByteArray>
#include <QVector>

// The one rule of this program for where a frame begins and ends: the
// analyzer shows, the capture records and the simulated MCU answers (through
// ZemFramer) the frames cut here.
//
// Cuts one direction's byte stream into segments without losing or merging a
// byte: every version 4 frame is one segment, every version 3 frame another,
// and the bytes between frames come as runs of their own.
//
// Version 4: FF FF, the length (its second byte already escaped), then as many
// bytes as the length asks for, counted after unescaping (an FF 55 pair is one
// byte; a final FF waits for its 55). An FF followed by FF instead of 55 inside
// a frame is the header of the next frame: the frame ends there, short of its
// length. After a final FF (the last byte the length counts), FF FF FF means
// the final FF lacked its 55 and the next two open a header. FF FF and
// anything else means the frame was cut one byte short and its "final" FF
// opens the header. The same bytes could be a whole frame whose checksum FF
// came bare, followed by a header that lost a byte; but a byte lost anywhere
// in a frame leaves it one short, so the cut is by far the likelier. A
// length below 5 is no frame, nor is FF FF FF: the first FF is taken for
// noise before a header (a length whose high byte is FF would mean a frame of
// more than 65,000 bytes). Version 3: 00 00 00 03, a 2-byte big-endian
// length, that many bytes. Other bytes: a run ends where a frame begins,
// after a newline (a module's boot text comes one line per segment), at 4096
// bytes, or at flush().
//
// Each byte is looked at once; a header that turns out to be none is looked at
// again, but it is never longer than six bytes, so the work stays linear.
class StreamSegmenter
{
public:
    explicit StreamSegmenter(LineDirection direction);

    // Splits arriving bytes into segments; completed ones are appended to `out`.
    // Concatenating the wire of all segments ever emitted (after flush) gives
    // back exactly the bytes fed, in order.
    void feed(const QByteArray &chunk, qint64 timeUs, QVector<LineSegment> &out);
    // Emits whatever is held (a partial frame, a run of other bytes) as it stands.
    void flush(QVector<LineSegment> &out);
    bool holding() const;
    qint64 heldSinceUs() const; // arrival time of the first held byte
    // The version 4 frame (or its header) begun and not yet emitted, wire
    // form; empty when none is.
    QByteArray heldFrame4() const;
    void clear();

    static constexpr int MaxOtherRun = 4096;

private:
    enum class State : quint8 {
        Idle,       // no frame begun
        V4Header1,  // FF
        V4Header2,  // FF FF
        V4LengthHi, // FF FF hh
        V4LengthFf, // FF FF hh FF: waits to see whether 55 follows
        V4Body,     // counting the length
        V4EndFfFf,  // all counted, the last an FF; then an FF instead of 55
        V3Header,   // 00, 00 00, 00 00 00 (m_v3Matched bytes)
        V3Length,   // 00 00 00 03 and 0 or 1 length bytes
        V3Body,
    };

    void step(char c, qint64 timeUs, QVector<LineSegment> &out);
    void toOther(char c, qint64 timeUs, QVector<LineSegment> &out);
    void appendHeld(char c, qint64 timeUs);
    void startBody();
    void startCandidate(char c, qint64 timeUs, QVector<LineSegment> &out);
    void rejectCandidate(qint64 timeUs, QVector<LineSegment> &out);
    void emitOther(QVector<LineSegment> &out);
    void emitFrame(SegmentKind kind, QVector<LineSegment> &out);

    LineDirection m_direction;
    State m_state = State::Idle;
    QByteArray m_other; // a run of bytes outside frames, not yet emitted
    qint64 m_otherTimeUs = 0;
    QByteArray m_frame; // the frame (or header candidate) being assembled, wire form
    qint64 m_frameTimeUs = 0;
    qint64 m_lastFfTimeUs = 0; // arrival of the frame's latest FF (may open the next header)
    qint64 m_nextFfTimeUs = 0; // in V4EndFfFf: arrival of the FF after the frame
    int m_length = 0;          // v4: unescaped bytes after the length field; v3: after it
    int m_counted = 0;         // of those, how many arrived
    int m_v3Matched = 0;
    bool m_pendingFf = false; // the frame's last byte is an FF whose 55 may still come
    // Arrival of each byte of a header not yet confirmed (never more than
    // six), so bytes looked at again keep their own time.
    static constexpr int MaxHeld = 8;
    qint64 m_heldTimesUs[MaxHeld] = {};
};
