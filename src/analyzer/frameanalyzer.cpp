// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyzer/frameanalyzer.h"

#include "protocol/frameescape.h"
#include "protocol/frameformat.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr int CommandSlots = Frame::LastCommand + 1;
constexpr int SequenceSlots = 256;
constexpr qint64 NoChange = std::numeric_limits<qint64>::max();

// A reply this much later than the limit is no longer taken for the answer to
// the request: sequence numbers repeat every 256 frames, and an hour-old
// request with the same number is not what a reply answers.
constexpr qint64 LatePairFactor = 10;

constexpr int requestSlot(LineDirection direction, int command, int sequence)
{
    return (int(direction) * CommandSlots + command) * SequenceSlots + sequence;
}

constexpr bool isRequestCode(int command)
{
    return command >= Frame::FirstCommand && command <= Frame::LastCommand && (command & 1);
}

constexpr bool isReplyCode(int command)
{
    return command > Frame::FirstCommand && command <= Frame::LastCommand && !(command & 1);
}

} // namespace

struct FrameAnalyzer::Block
{
    std::vector<FrameRecord> records;
    std::vector<char> arena; // the wire bytes of the block's rows, back to back
};

qint64 AnalyzerCounters::problemCount(quint16 problemBit) const
{
    for (int i = 0; i < FrameProblem::KindCount; ++i) {
        if (problemBit == FrameProblem::bit(i))
            return problems[i];
    }
    return 0;
}

FrameAnalyzer::FrameAnalyzer()
    : m_lastRequest(size_t(2 * CommandSlots * SequenceSlots), -1)
    , m_changedFrom(NoChange)
{ }

FrameAnalyzer::~FrameAnalyzer() = default;

void FrameAnalyzer::setReplyLimitUs(qint64 us)
{
    m_replyLimitUs = std::max<qint64>(0, us);
}

void FrameAnalyzer::setMaxRows(qint64 rows)
{
    m_maxRows = std::max<qint64>(0, rows);
    dropOldBlocks();
}

qint64 FrameAnalyzer::add(const LineSegment &segment)
{
    expireBefore(segment.timeUs, nullptr);

    if (m_blocks.empty() || m_endId % BlockRows == 0) {
        auto block = std::make_unique<Block>();
        block->records.reserve(BlockRows);
        block->arena.reserve(size_t(BlockRows) * 24);
        // After clear() the numbers go on where they were: the first block
        // starts part of the way in, its leading places never used.
        block->records.resize(size_t(m_endId % BlockRows));
        m_blocks.push_back(std::move(block));
    }
    Block &block = *m_blocks.back();
    const qint64 id = m_endId++;

    FrameRecord r;
    r.timeUs = segment.timeUs;
    r.latencyUs = -1;
    r.pairId = -1;
    r.wireSize = quint32(segment.wire.size());
    r.kind = segment.kind;
    r.direction = segment.direction;
    r.command = -1;
    r.sequence = -1;
    r.lengthField = -1;
    r.problems = 0;
    r.arenaOffset = quint32(block.arena.size());
    block.arena.insert(block.arena.end(), segment.wire.constData(),
                       segment.wire.constData() + segment.wire.size());

    decode(segment.wire, r);
    if (r.kind == SegmentKind::Frame4 && r.command >= 0 && r.sequence >= 0)
        pair(id, r, segment.wire);

    AnalyzerCounters &c = m_counters;
    ++c.rows;
    // An event row holds no bytes of the line.
    if (r.kind == SegmentKind::Event)
        ++c.events;
    else
        c.bytes[int(r.direction)] += r.wireSize;
    if (r.kind == SegmentKind::Frame4 || r.kind == SegmentKind::Frame3)
        ++c.frames[int(r.direction)];
    for (int i = 0; i < FrameProblem::KindCount; ++i) {
        if (r.problems & FrameProblem::bit(i))
            ++c.problems[i];
    }
    if (c.firstTimeUs < 0)
        c.firstTimeUs = r.timeUs;
    c.lastTimeUs = std::max(c.lastTimeUs, r.timeUs);

    block.records.push_back(r);
    if (m_maxRows > 0)
        dropOldBlocks();
    return id;
}

// Reads the fields straight from the wire bytes, undoing the FF 55 escaping on
// the way (Frame::forEachUnescaped), so that no unescaped copy is made.
void FrameAnalyzer::decode(const QByteArray &wire, FrameRecord &r) const
{
    if (r.kind == SegmentKind::Other) {
        r.problems |= FrameProblem::Noise;
        return;
    }
    // An event is no frame: nothing to decode, nothing to pair.
    if (r.kind == SegmentKind::Event)
        return;
    const auto *bytes = reinterpret_cast<const quint8 *>(wire.constData());
    const qsizetype size = wire.size();

    if (r.kind == SegmentKind::Frame3) {
        // 00 00 00 03, a 2-byte length, that many bytes.
        constexpr int v3Header = 6;
        if (size >= v3Header)
            r.lengthField = (bytes[4] << 8) | bytes[5];
        if (r.lengthField < 0 || r.lengthField + v3Header != size)
            r.problems |= FrameProblem::Truncated;
        return;
    }

    qsizetype unescapedSize = 0;
    unsigned sum = 0; // over offsets 2 .. end, the last byte taken off below
    int last = -1;
    int lengthHi = -1;
    int lengthLo = -1;
    Frame::forEachUnescaped(wire.constData(), size, [&](quint8 b, bool bare) {
        const qsizetype offset = unescapedSize++;
        if (bare)
            r.problems |= FrameProblem::UnescapedFf;
        switch (offset) {
        case Frame::LengthOffset:
            lengthHi = b;
            break;
        case Frame::LengthOffset + 1:
            lengthLo = b;
            break;
        case Frame::CommandOffset:
            r.command = qint16(b);
            break;
        case Frame::SequenceOffset:
            r.sequence = qint16(b);
            break;
        default:
            break;
        }
        if (offset >= Frame::ChecksumStart)
            sum += b;
        last = b;
        return true;
    });
    if (lengthLo >= 0)
        r.lengthField = (lengthHi << 8) | lengthLo;
    if (r.lengthField < Frame::MinLength
        || r.lengthField + Frame::LengthFieldOverhead != unescapedSize) {
        r.problems |= FrameProblem::Truncated;
        return;
    }
    // A whole frame: its last byte is the checksum of the ones before it.
    sum -= unsigned(last);
    if (quint8(sum) != last)
        r.problems |= FrameProblem::BadChecksum;
}

void FrameAnalyzer::pair(qint64 id, FrameRecord &r, const QByteArray &wire)
{
    const int command = r.command;
    if (isRequestCode(command)) {
        qint64 &slot = m_lastRequest[size_t(requestSlot(r.direction, command, r.sequence))];
        if (contains(slot)) {
            // Sequence numbers come round again (a firmware transfer uses
            // each one many times), so a repeated number alone proves
            // nothing: the request is sent again only while the earlier one
            // waits for its answer, or when it repeats the earlier one's bytes;
            // either within ten reply limits (a heartbeat whose number came
            // round an hour later is a new one, bytes and all).
            const FrameRecord &earlier = record(slot);
            const qint64 since = r.timeUs - earlier.timeUs;
            const bool recent = since <= m_replyLimitUs * LatePairFactor;
            const bool unanswered = earlier.pairId < 0;
            const bool sameBytes = qsizetype(earlier.wireSize) == wire.size()
                && std::memcmp(wireData(slot), wire.constData(), size_t(wire.size())) == 0;
            if (recent && (unanswered || sameBytes))
                r.problems |= FrameProblem::Retransmission;
        }
        slot = id;
        m_waiting.push_back({id, r.timeUs});
        return;
    }
    if (!isReplyCode(command))
        return;

    const qint64 requestId = m_lastRequest[size_t(
        requestSlot(oppositeDirection(r.direction), command - 1, r.sequence))];
    if (!contains(requestId)) {
        r.problems |= FrameProblem::UnexpectedReply;
        return;
    }
    FrameRecord &request = recordRef(requestId);
    const qint64 latency = r.timeUs - request.timeUs;
    if (request.pairId >= 0 || latency > m_replyLimitUs * LatePairFactor) {
        r.problems |= FrameProblem::UnexpectedReply;
        return;
    }
    request.pairId = id;
    request.latencyUs = latency;
    r.pairId = requestId;
    r.latencyUs = latency;
    if (latency > m_replyLimitUs)
        markProblem(request, FrameProblem::NoReply);
    else
        unmarkProblem(request, FrameProblem::NoReply);
    m_changedFrom = std::min(m_changedFrom, requestId);
}

void FrameAnalyzer::markProblem(FrameRecord &r, quint16 problem)
{
    if (r.problems & problem)
        return;
    r.problems |= problem;
    for (int i = 0; i < FrameProblem::KindCount; ++i) {
        if (problem == FrameProblem::bit(i))
            ++m_counters.problems[i];
    }
}

// A segment's time is that of its first byte, and segments come out when
// their last byte arrived: a reply that began in time may be added after a
// later segment (or a timer) already marked its request as unanswered.
void FrameAnalyzer::unmarkProblem(FrameRecord &r, quint16 problem)
{
    if (!(r.problems & problem))
        return;
    r.problems &= quint16(~problem);
    for (int i = 0; i < FrameProblem::KindCount; ++i) {
        if (problem == FrameProblem::bit(i))
            --m_counters.problems[i];
    }
}

void FrameAnalyzer::expire(qint64 nowUs, QVector<qint64> *changed)
{
    expireBefore(nowUs, changed);
}

void FrameAnalyzer::expireBefore(qint64 nowUs, QVector<qint64> *changed)
{
    while (!m_waiting.empty()) {
        const Pending &front = m_waiting.front();
        if (!contains(front.id)) {
            m_waiting.pop_front();
            continue;
        }
        FrameRecord &request = recordRef(front.id);
        if (request.pairId >= 0) {
            m_waiting.pop_front();
            continue;
        }
        if (nowUs - front.timeUs <= m_replyLimitUs)
            return;
        markProblem(request, FrameProblem::NoReply);
        m_changedFrom = std::min(m_changedFrom, front.id);
        if (changed)
            changed->append(front.id);
        m_waiting.pop_front();
    }
}

qint64 FrameAnalyzer::takeChangedFrom()
{
    const qint64 from = std::min(m_changedFrom, m_endId);
    m_changedFrom = NoChange;
    return std::max(from, m_firstId);
}

FrameRecord &FrameAnalyzer::recordRef(qint64 id)
{
    const qint64 first = m_firstId / BlockRows;
    return m_blocks[size_t(id / BlockRows - first)]->records[size_t(id % BlockRows)];
}

const FrameRecord &FrameAnalyzer::record(qint64 id) const
{
    Q_ASSERT(contains(id));
    const qint64 first = m_firstId / BlockRows;
    return m_blocks[size_t(id / BlockRows - first)]->records[size_t(id % BlockRows)];
}

const char *FrameAnalyzer::wireData(qint64 id) const
{
    Q_ASSERT(contains(id));
    const qint64 first = m_firstId / BlockRows;
    const Block &block = *m_blocks[size_t(id / BlockRows - first)];
    return block.arena.data() + block.records[size_t(id % BlockRows)].arenaOffset;
}

QByteArray FrameAnalyzer::wire(qint64 id) const
{
    if (!contains(id))
        return QByteArray();
    return QByteArray(wireData(id), int(record(id).wireSize));
}

QByteArray FrameAnalyzer::frame(qint64 id) const
{
    if (!contains(id))
        return QByteArray();
    const QByteArray bytes = wire(id);
    return record(id).kind == SegmentKind::Frame4 ? Frame::unescape(bytes) : bytes;
}

void FrameAnalyzer::dropOldBlocks()
{
    if (m_maxRows <= 0)
        return;
    // The first block may have started part of the way in (after clear()).
    const auto nextBlockStart = [this] { return (m_firstId / BlockRows + 1) * BlockRows; };
    while (m_blocks.size() > 1 && m_endId - nextBlockStart() >= m_maxRows) {
        m_blocks.pop_front();
        m_firstId = nextBlockStart();
    }
}

void FrameAnalyzer::clear()
{
    m_blocks.clear();
    // Numbers go on from the last one: they are what the user quotes ("应答
    // #271"), and a view holding an old id never finds a new row under it.
    m_firstId = m_endId;
    std::fill(m_lastRequest.begin(), m_lastRequest.end(), -1);
    m_waiting.clear();
    m_changedFrom = NoChange;
    m_counters = AnalyzerCounters();
}
