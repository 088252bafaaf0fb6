// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"

#include <QByteArray>
#include <QVector>

#include <deque>
#include <memory>
#include <vector>

// What can be wrong with a row; a row carries any combination.
namespace FrameProblem {
enum : quint16 {
    BadChecksum = 0x01,
    Truncated = 0x02, // length field disagrees with the bytes
    UnescapedFf = 0x04,
    NoReply = 0x08,         // no reply within the limit
    UnexpectedReply = 0x10, // reply to no request
    Retransmission = 0x20,  // repeated sequence number of an earlier request
    Noise = 0x40,           // bytes outside frames
};
constexpr int KindCount = 7;
// The bit of kind i (0 .. KindCount - 1).
constexpr quint16 bit(int kind)
{
    return quint16(1u << kind);
}
} // namespace FrameProblem

// One row: compact, no strings; the bytes live in the analyzer's arena.
struct FrameRecord
{
    qint64 timeUs;
    qint64
        latencyUs; // on a request row: reply time - request time; on a reply row: the same; -1 none
    qint64 pairId; // id of the paired row, -1 none
    quint32 wireSize;
    SegmentKind kind;
    LineDirection direction;
    qint16 command;      // -1 none
    qint16 sequence;     // -1 none
    qint32 lengthField;  // -1 none
    quint16 problems;    // FrameProblem bits
    quint32 arenaOffset; // where the wire bytes start in the row's block
};

// Totals since the last clear(); dropping old rows does not lower them.
struct AnalyzerCounters
{
    qint64 frames[2] = {};                         // v4 and v3 frames, per LineDirection
    qint64 bytes[2] = {};                          // every wire byte, per LineDirection
    qint64 problems[FrameProblem::KindCount] = {}; // rows carrying each problem kind
    qint64 rows = 0;
    qint64 events = 0;       // event rows (modem lines, breaks): no frames, no bytes of the line
    qint64 firstTimeUs = -1; // of the first row; with lastTimeUs and the frame
    qint64 lastTimeUs = -1;  // counts, the frames per second of a capture

    qint64 framesTotal() const { return frames[0] + frames[1]; }
    // The count of one FrameProblem bit.
    qint64 problemCount(quint16 problemBit) const;
};

// Decodes each segment of both directions, pairs requests with their replies
// and flags what is wrong. Rows are kept in blocks of records and bytes, so
// the oldest can be dropped a block at a time and a long session stays
// within setMaxRows().
//
// Requests are the odd command codes 01..1F, whichever side sends them (so a
// line whose two sides were swapped at the taps still pairs); a reply carries
// the request's code + 1 and its sequence number and comes the other way. It
// pairs with the latest such request that has no reply yet, up to ten reply
// limits later (beyond the limit the request keeps its NoReply mark; beyond
// ten limits the reply answers nothing, since sequence numbers come round
// again). A request repeating the direction, code and sequence number of one
// still unanswered, or repeating its bytes, is a retransmission.
class FrameAnalyzer
{
public:
    FrameAnalyzer();
    ~FrameAnalyzer();
    FrameAnalyzer(const FrameAnalyzer &) = delete;
    FrameAnalyzer &operator=(const FrameAnalyzer &) = delete;

    void setReplyLimitUs(qint64 us); // default 200 ms
    qint64 replyLimitUs() const { return m_replyLimitUs; }
    // Live: oldest rows are dropped in whole blocks beyond this; 0 = no limit.
    void setMaxRows(qint64 rows);
    qint64 maxRows() const { return m_maxRows; }

    // Decode, pair, check; returns the new row's id.
    qint64 add(const LineSegment &segment);
    // Marks NoReply on requests whose limit passed by `nowUs` (and does so
    // implicitly as later segments arrive); ids whose record changed are
    // appended to `changed` (may be null).
    void expire(qint64 nowUs, QVector<qint64> *changed);
    // The smallest id whose record add() or expire() changed since the last
    // call (an earlier request answered or out of time), or endId() when none
    // did; never below firstId().
    qint64 takeChangedFrom();

    // Ids are never reused; rows are firstId()..endId()-1.
    qint64 firstId() const { return m_firstId; }
    qint64 endId() const { return m_endId; }
    bool contains(qint64 id) const { return id >= m_firstId && id < m_endId; }
    const FrameRecord &record(qint64 id) const;
    QByteArray wire(qint64 id) const;  // the bytes as on the line
    QByteArray frame(qint64 id) const; // v4: unescaped; otherwise the wire bytes
    // The row's wire bytes where they are stored (record(id).wireSize of them):
    // valid until the row is dropped or the analyzer cleared. For scans that
    // must not copy.
    const char *wireData(qint64 id) const;
    const AnalyzerCounters &counters() const { return m_counters; }
    void clear();

    static constexpr int BlockRows = 4096;

private:
    struct Block;
    struct Pending
    {
        qint64 id;
        qint64 timeUs;
    };

    FrameRecord &recordRef(qint64 id);
    void decode(const QByteArray &wire, FrameRecord &r) const;
    void pair(qint64 id, FrameRecord &r, const QByteArray &wire);
    void expireBefore(qint64 nowUs, QVector<qint64> *changed);
    void markProblem(FrameRecord &r, quint16 problem);
    void unmarkProblem(FrameRecord &r, quint16 problem);
    void dropOldBlocks();

    qint64 m_replyLimitUs = 200000;
    qint64 m_maxRows = 0;
    qint64 m_firstId = 0;
    qint64 m_endId = 0;
    std::deque<std::unique_ptr<Block>> m_blocks;
    // The latest request for each (direction, code, sequence), or -1.
    std::vector<qint64> m_lastRequest;
    // Requests waiting for their reply, oldest first.
    std::deque<Pending> m_waiting;
    qint64 m_changedFrom = 0;
    AnalyzerCounters m_counters;
};
