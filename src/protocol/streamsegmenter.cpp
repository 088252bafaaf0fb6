// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/streamsegmenter.h"

#include "protocol/frameformat.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char Ff = char(Frame::HeaderByte);
constexpr char Escape = char(Frame::EscapeByte);
constexpr char V3Marker = 0x03; // the fourth byte of 00 00 00 03
constexpr int V3Zeros = 3;

} // namespace

StreamSegmenter::StreamSegmenter(LineDirection direction)
    : m_direction(direction)
{ }

void StreamSegmenter::feed(const QByteArray &chunk, qint64 timeUs, QVector<LineSegment> &out)
{
    const char *data = chunk.constData();
    const qsizetype size = chunk.size();
    for (qsizetype i = 0; i < size;) {
        if (m_state == State::V4Body && !m_pendingFf) {
            // Inside a frame only an FF asks for a decision: the bytes up to
            // the next one (or to the end of the length) are taken at once.
            const qsizetype want = std::min<qsizetype>(m_length - m_counted, size - i);
            const char *start = data + i;
            const void *ff = std::memchr(start, Ff, size_t(want));
            const qsizetype run = ff ? static_cast<const char *>(ff) - start : want;
            if (run > 0) {
                m_frame.append(start, int(run));
                m_counted += int(run);
                i += run;
                if (m_counted == m_length)
                    emitFrame(SegmentKind::Frame4, out);
                continue;
            }
        }
        step(data[i++], timeUs, out);
    }
}

void StreamSegmenter::step(char c, qint64 timeUs, QVector<LineSegment> &out)
{
    switch (m_state) {
    case State::Idle:
        startCandidate(c, timeUs, out);
        return;

    case State::V4Header1:
        appendHeld(c, timeUs);
        if (c == Ff)
            m_state = State::V4Header2;
        else
            rejectCandidate(timeUs, out);
        return;

    case State::V4Header2:
        appendHeld(c, timeUs);
        if (c == Ff) {
            // FF FF FF: the first FF is noise before the header.
            rejectCandidate(timeUs, out);
            return;
        }
        m_length = quint8(c) << 8;
        m_state = State::V4LengthHi;
        return;

    case State::V4LengthHi:
        appendHeld(c, timeUs);
        if (c == Ff) {
            m_state = State::V4LengthFf;
            return;
        }
        m_length |= quint8(c);
        if (m_length < Frame::MinLength) {
            rejectCandidate(timeUs, out);
            return;
        }
        emitOther(out); // a frame begins: the run before it is complete
        startBody();
        return;

    case State::V4LengthFf:
        if (c == Ff) {
            // FF FF hh FF FF: the length never came, a new header did.
            appendHeld(c, timeUs);
            rejectCandidate(timeUs, out);
            return;
        }
        m_length |= 0xFF;
        emitOther(out);
        startBody();
        if (c == Escape)
            m_frame.append(c);
        else
            step(c, timeUs, out); // an unescaped FF; c is the first body byte
        return;

    case State::V4Body:
        if (m_pendingFf) {
            m_pendingFf = false;
            if (c == Escape) {
                m_frame.append(c);
                if (m_counted == m_length)
                    emitFrame(SegmentKind::Frame4, out);
                return;
            }
            if (m_counted == m_length && c == Ff) {
                // FF FF after the last counted byte: either the last byte was
                // an FF sent without its 55 and a header follows, or the frame
                // was cut and its FF opens the header. The next byte tells.
                m_nextFfTimeUs = timeUs;
                m_state = State::V4EndFfFf;
                return;
            }
            if (m_counted == m_length) {
                // The last byte was an FF sent without its 55; the frame is
                // whole, and c belongs to what follows.
                emitFrame(SegmentKind::Frame4, out);
                step(c, timeUs, out);
                return;
            }
            if (c == Ff) {
                // A raw FF FF inside a frame is the next header: this frame
                // ends short of its length.
                m_frame.chop(1);
                emitFrame(SegmentKind::Frame4, out);
                m_frameTimeUs = m_lastFfTimeUs;
                appendHeld(Ff, m_lastFfTimeUs);
                appendHeld(Ff, timeUs);
                m_state = State::V4Header2;
                return;
            }
            // An FF sent without its 55, counted once; c is the next byte.
        }
        m_frame.append(c);
        ++m_counted;
        if (c == Ff) {
            m_pendingFf = true;
            m_lastFfTimeUs = timeUs;
            return;
        }
        if (m_counted == m_length)
            emitFrame(SegmentKind::Frame4, out);
        return;

    case State::V4EndFfFf:
        if (c == Ff) {
            // … FF | FF FF: the frame is whole, the header is the two FFs after it.
            emitFrame(SegmentKind::Frame4, out);
            m_frameTimeUs = m_nextFfTimeUs;
            appendHeld(Ff, m_nextFfTimeUs);
            appendHeld(Ff, timeUs);
            m_state = State::V4Header2;
        } else {
            // … | FF FF hh: the frame was cut short, its FF opens the header.
            m_frame.chop(1);
            emitFrame(SegmentKind::Frame4, out);
            m_frameTimeUs = m_lastFfTimeUs;
            appendHeld(Ff, m_lastFfTimeUs);
            appendHeld(Ff, m_nextFfTimeUs);
            m_state = State::V4Header2;
            step(c, timeUs, out);
        }
        return;

    case State::V3Header:
        appendHeld(c, timeUs);
        if (m_v3Matched < V3Zeros && c == 0) {
            ++m_v3Matched;
        } else if (m_v3Matched == V3Zeros && c == V3Marker) {
            m_counted = 0;
            m_state = State::V3Length;
        } else {
            rejectCandidate(timeUs, out);
        }
        return;

    case State::V3Length:
        appendHeld(c, timeUs);
        if (++m_counted < 2)
            return;
        m_length = (quint8(m_frame.at(m_frame.size() - 2)) << 8) | quint8(c);
        m_counted = 0;
        emitOther(out);
        if (m_length == 0)
            emitFrame(SegmentKind::Frame3, out);
        else
            m_state = State::V3Body;
        return;

    case State::V3Body:
        m_frame.append(c);
        if (++m_counted == m_length)
            emitFrame(SegmentKind::Frame3, out);
        return;
    }
}

// The length is known: room for the whole frame at once (a few escapes
// more), instead of growing byte by byte.
void StreamSegmenter::startBody()
{
    m_frame.reserve(Frame::LengthFieldOverhead + m_length + 8);
    m_counted = 0;
    m_pendingFf = false;
    m_state = State::V4Body;
}

void StreamSegmenter::startCandidate(char c, qint64 timeUs, QVector<LineSegment> &out)
{
    if (c == Ff) {
        m_state = State::V4Header1;
    } else if (c == 0) {
        m_state = State::V3Header;
        m_v3Matched = 1;
    } else {
        toOther(c, timeUs, out);
        return;
    }
    m_frameTimeUs = timeUs;
    appendHeld(c, timeUs);
}

void StreamSegmenter::appendHeld(char c, qint64 timeUs)
{
    const qsizetype at = m_frame.size();
    if (at < MaxHeld)
        m_heldTimesUs[at] = timeUs;
    m_frame.append(c);
}

void StreamSegmenter::toOther(char c, qint64 timeUs, QVector<LineSegment> &out)
{
    if (m_other.isEmpty()) {
        m_otherTimeUs = timeUs;
        m_other.reserve(64);
    }
    m_other.append(c);
    if (c == '\n' || m_other.size() >= MaxOtherRun)
        emitOther(out);
}

// The held header was none: its first byte joins the other bytes and the rest
// is looked at again (at most five bytes, so this stays cheap).
void StreamSegmenter::rejectCandidate(qint64 timeUs, QVector<LineSegment> &out)
{
    const QByteArray held = m_frame;
    qint64 times[MaxHeld];
    std::copy(m_heldTimesUs, m_heldTimesUs + MaxHeld, times);
    m_frame.clear();
    m_state = State::Idle;
    toOther(held.at(0), times[0], out);
    for (qsizetype i = 1; i < held.size(); ++i)
        step(held.at(i), i < MaxHeld ? times[i] : timeUs, out);
}

void StreamSegmenter::emitOther(QVector<LineSegment> &out)
{
    if (m_other.isEmpty())
        return;
    LineSegment segment;
    segment.timeUs = m_otherTimeUs;
    segment.direction = m_direction;
    segment.kind = SegmentKind::Other;
    segment.wire = m_other;
    out.append(segment);
    m_other.clear();
}

void StreamSegmenter::emitFrame(SegmentKind kind, QVector<LineSegment> &out)
{
    emitOther(out);
    LineSegment segment;
    segment.timeUs = m_frameTimeUs;
    segment.direction = m_direction;
    segment.kind = kind;
    segment.wire = m_frame;
    out.append(segment);
    m_frame = QByteArray();
    m_state = State::Idle;
    m_pendingFf = false;
}

void StreamSegmenter::flush(QVector<LineSegment> &out)
{
    if (m_state == State::V4Body) {
        emitFrame(SegmentKind::Frame4, out);
    } else if (m_state == State::V4EndFfFf) {
        emitFrame(SegmentKind::Frame4, out);
        toOther(Ff, m_nextFfTimeUs, out);
    } else if (m_state == State::V3Body) {
        emitFrame(SegmentKind::Frame3, out);
    } else if (!m_frame.isEmpty()) {
        // A header that never got its length is no frame.
        const QByteArray held = m_frame;
        m_frame.clear();
        m_state = State::Idle;
        for (qsizetype i = 0; i < held.size(); ++i)
            toOther(held.at(i), i < MaxHeld ? m_heldTimesUs[i] : m_frameTimeUs, out);
    }
    emitOther(out);
}

bool StreamSegmenter::holding() const
{
    return !m_other.isEmpty() || !m_frame.isEmpty();
}

qint64 StreamSegmenter::heldSinceUs() const
{
    if (!m_other.isEmpty())
        return m_otherTimeUs;
    return m_frame.isEmpty() ? -1 : m_frameTimeUs;
}

QByteArray StreamSegmenter::heldFrame4() const
{
    switch (m_state) {
    case State::V4Header1:
    case State::V4Header2:
    case State::V4LengthHi:
    case State::V4LengthFf:
    case State::V4Body:
    case State::V4EndFfFf:
        return m_frame;
    default:
        return QByteArray();
    }
}

void StreamSegmenter::clear()
{
    m_state = State::Idle;
    m_other.clear();
    m_frame.clear();
    m_length = 0;
    m_counted = 0;
    m_v3Matched = 0;
    m_pendingFf = false;
}
