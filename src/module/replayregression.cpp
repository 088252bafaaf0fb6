// SPDX-License-Identifier: GPL-3.0-or-later
#include "module/replayregression.h"

#include "analyzer/frameanalyzer.h"
#include "module/moduleresponder.h"
#include "module/replayplayer.h"
#include "protocol/frameformat.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/line.h"

#include <QTimer>

#include <cmath>

namespace {

QString hex2(int value)
{
    return QStringLiteral("0x")
        + QStringLiteral("%1").arg(value & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

QString byteText(const QByteArray &bytes, int offset)
{
    return offset < bytes.size()
        ? QStringLiteral("%1").arg(quint8(bytes.at(offset)), 2, 16, QLatin1Char('0')).toUpper()
        : QStringLiteral("(none)");
}

// The field a byte of a frame belongs to.
QString fieldAt(int offset, int size)
{
    if (offset < Frame::LengthOffset)
        return QStringLiteral("header");
    if (offset < Frame::CommandOffset)
        return QStringLiteral("length");
    if (offset == Frame::CommandOffset)
        return QStringLiteral("command");
    if (offset == Frame::SequenceOffset)
        return QStringLiteral("sequence number");
    if (offset < Frame::PayloadOffset)
        return QStringLiteral("flags");
    if (offset == size - 1)
        return QStringLiteral("checksum");
    return QStringLiteral("payload");
}

bool isRequestCode(int code)
{
    return code >= Frame::FirstCommand && code < Frame::LastCommand && (code & 1) == 1;
}

// Steps looked back on for a reply that comes after its wait was over.
constexpr int LateRepliesKept = 16;

} // namespace

bool ReplayStep::passes(bool exact) const
{
    switch (verdict) {
    case Verdict::Match:
    case Verdict::Silent:
        return true;
    case Verdict::FieldsMatch:
        return !exact;
    case Verdict::Differs:
    case Verdict::Missing:
    case Verdict::Unrecorded:
        return false;
    }
    return false;
}

QString ReplayStep::verdictWord(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Match:
        return QStringLiteral("MATCH");
    case Verdict::FieldsMatch:
        return QStringLiteral("FIELDS");
    case Verdict::Differs:
        return QStringLiteral("DIFFERS");
    case Verdict::Missing:
        return QStringLiteral("MISSING");
    case Verdict::Silent:
        return QStringLiteral("SILENT");
    case Verdict::Unrecorded:
        return QStringLiteral("EXTRA");
    }
    return QString();
}

ReplayRegression::ReplayRegression(const FrameAnalyzer *rows, Line *line, QObject *parent)
    : QObject(parent)
    , m_rows(rows)
    , m_line(line)
    , m_framer(new ZemFramer(this))
    , m_waitTimer(new QTimer(this))
    , m_gapTimer(new QTimer(this))
{
    m_waitTimer->setSingleShot(true);
    m_gapTimer->setSingleShot(true);
    m_gapTimer->setTimerType(Qt::PreciseTimer);
    connect(m_waitTimer, &QTimer::timeout, this, &ReplayRegression::onTimeout);
    connect(m_gapTimer, &QTimer::timeout, this, &ReplayRegression::sendNext);
    connect(m_framer, &ZemFramer::LineDataReady, this, &ReplayRegression::onFrame);
    m_framer->listenTo(line);
}

ReplayRegression::~ReplayRegression() = default;

bool ReplayRegression::start(const ReplayRegressionOptions &options, QString *why)
{
    auto refuse = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (m_running)
        return refuse(QStringLiteral("a replay is running"));
    if (!m_rows)
        return refuse(QStringLiteral("no recording"));
    m_options = options;
    if (m_options.speed > 0)
        m_options.speed = qBound(ReplayOptions::MinSpeed, m_options.speed, ReplayOptions::MaxSpeed);
    m_plan.clear();
    m_results.clear();
    m_stopReason.clear();
    qint64 previousUs = 0;
    for (qint64 id = qMax(options.fromId, m_rows->firstId()); id < m_rows->endId(); ++id) {
        const FrameRecord &r = m_rows->record(id);
        if (r.direction != LineDirection::ModuleToMcu || r.kind != SegmentKind::Frame4
            || !isRequestCode(r.command))
            continue;
        if (!m_plan.isEmpty())
            m_plan.last().gapUs = qMax<qint64>(0, r.timeUs - previousUs);
        previousUs = r.timeUs;
        const bool paired = r.pairId >= 0 && m_rows->contains(r.pairId);
        m_plan.append({id, paired ? r.pairId : -1, paired ? r.latencyUs : -1, 0});
    }
    if (m_plan.isEmpty())
        return refuse(QStringLiteral("the recording holds no request of the module (module to "
                                     "MCU, an odd command code) from row #%1 on")
                          .arg(options.fromId));
    if (!m_line || !m_line->isLineOpen())
        return refuse(QStringLiteral("the line is not open"));
    connect(
        m_line, &Line::Lost, this,
        [this](const QString &reason) {
            stop(QStringLiteral("lost %1: %2").arg(m_line ? m_line->address() : QString(), reason));
        },
        Qt::UniqueConnection);
    m_framer->clear();
    m_index = -1;
    m_awaiting = false;
    m_paused = false;
    m_sendWhenResumed = false;
    m_running = true;
    m_runClock.start();
    // Queued, so that whoever connects after start() sees the first step.
    QTimer::singleShot(0, this, [this] {
        if (m_running && m_index < 0)
            sendNext();
    });
    return true;
}

qint64 ReplayRegression::scaled(qint64 us) const
{
    return m_options.speed > 0 ? qint64(std::llround(double(us) / m_options.speed)) : 0;
}

void ReplayRegression::pause()
{
    if (m_running)
        m_paused = true;
}

void ReplayRegression::resume()
{
    if (!m_running || !m_paused)
        return;
    m_paused = false;
    if (m_sendWhenResumed) {
        m_sendWhenResumed = false;
        sendNext();
    }
}

void ReplayRegression::sendNext()
{
    if (!m_running)
        return;
    if (m_paused) {
        m_sendWhenResumed = true;
        return;
    }
    ++m_index;
    if (m_index >= m_plan.size()) {
        finish();
        return;
    }
    const Planned &p = m_plan.at(m_index);
    emit stepStarted(m_index + 1, m_plan.size());
    const QByteArray wire = m_rows->wire(p.requestRow);
    m_stepClock.start();
    m_awaiting = true;
    if (!m_line || m_line->send(wire) < 0) {
        stop(QStringLiteral("the line took no bytes"));
        return;
    }
    emit bytesSent(wire);
    const qint64 replyWaitUs = qMax<qint64>(0, p.recordedUs) + qint64(m_options.slackMs) * 1000;
    const qint64 waitUs = qMax(scaled(p.gapUs), replyWaitUs);
    m_waitTimer->start(int(qMin<qint64>((waitUs + 999) / 1000, 3600000)));
}

void ReplayRegression::onFrame(const QByteArray &frame)
{
    if (!m_running)
        return;
    emit frameReceived(frame);
    if (ModuleResponder::isMcuRequest(frame)) {
        const QByteArray answer = ModuleResponder::reply(frame);
        if (!answer.isEmpty() && m_line) {
            const QByteArray wire = ZemTool::escape(answer);
            m_line->send(wire);
            emit bytesSent(wire);
        }
        return;
    }
    const int code = Frame::commandCode(frame);
    if (code < 0 || (code & 1) || !m_awaiting)
        return;
    const FrameRecord &request = m_rows->record(m_plan.at(m_index).requestRow);
    if (code != request.command + 1) {
        // The late reply of a step whose wait was over is not this one's.
        const int sequence = Frame::sequence(frame);
        for (int i = m_index - 1; i >= 0 && i >= m_index - LateRepliesKept; --i) {
            const FrameRecord &earlier = m_rows->record(m_plan.at(i).requestRow);
            if (earlier.command + 1 == code && earlier.sequence == sequence)
                return;
        }
    }
    m_waitTimer->stop();
    m_awaiting = false;
    const Planned &p = m_plan.at(m_index);
    if (p.replyRow < 0) {
        settle(
            ReplayStep::Verdict::Unrecorded,
            QStringLiteral("the MCU replied with %1, the recording has no reply").arg(hex2(code)),
            frame);
        return;
    }
    QString detail;
    int offset = -1;
    const ReplayStep::Verdict verdict = compare(m_rows->frame(p.replyRow), frame, &detail, &offset);
    settle(verdict, detail, frame, offset);
}

void ReplayRegression::onTimeout()
{
    if (!m_running || !m_awaiting)
        return;
    m_awaiting = false;
    const Planned &p = m_plan.at(m_index);
    const qint64 waitedMs = m_stepClock.elapsed();
    if (p.replyRow < 0) {
        settle(ReplayStep::Verdict::Silent,
               QStringLiteral("no reply within %1 ms, none in the recording either").arg(waitedMs));
        return;
    }
    const FrameRecord &request = m_rows->record(p.requestRow);
    settle(ReplayStep::Verdict::Missing,
           QStringLiteral("no reply %1 within %2 ms; the recording has one after %3 ms")
               .arg(hex2(request.command + 1))
               .arg(waitedMs)
               .arg(double(p.recordedUs) / 1000.0, 0, 'f', 1));
}

void ReplayRegression::settle(ReplayStep::Verdict verdict, const QString &detail,
                              const QByteArray &received, int offset)
{
    const Planned &p = m_plan.at(m_index);
    const FrameRecord &request = m_rows->record(p.requestRow);
    ReplayStep step;
    step.number = m_index + 1;
    step.requestRow = p.requestRow;
    step.replyRow = p.replyRow;
    step.command = request.command;
    step.sequence = request.sequence;
    step.verdict = verdict;
    step.detail = detail;
    step.offset = offset;
    if (p.replyRow >= 0)
        step.recorded = m_rows->frame(p.replyRow);
    step.received = received;
    step.recordedUs = p.recordedUs;
    step.receivedUs = received.isEmpty() ? -1 : m_stepClock.nsecsElapsed() / 1000;
    m_results.append(step);
    emit stepFinished(step);
    if (!m_running)
        return;
    // The recorded pause to the next request is kept; the wait for a reply
    // that did not come already covered it.
    const qint64 restUs = scaled(p.gapUs) - m_stepClock.nsecsElapsed() / 1000;
    m_gapTimer->start(restUs > 0 ? int(qMin<qint64>((restUs + 999) / 1000, 3600000)) : 0);
}

void ReplayRegression::stop(const QString &reason)
{
    if (!m_running)
        return;
    m_stopReason = reason.isEmpty() ? QStringLiteral("stopped") : reason;
    if (m_awaiting) {
        m_awaiting = false;
        m_waitTimer->stop();
        settle(ReplayStep::Verdict::Missing, QStringLiteral("stopped: ") + m_stopReason);
    }
    finish();
}

void ReplayRegression::finish()
{
    if (!m_running)
        return;
    m_running = false;
    m_paused = false;
    m_waitTimer->stop();
    m_gapTimer->stop();
    m_totalMs = m_runClock.elapsed();
    emit finished(allPassed());
}

bool ReplayRegression::allPassed() const
{
    if (wasStopped() || m_results.size() != m_plan.size() || m_plan.isEmpty())
        return false;
    for (const ReplayStep &step : m_results)
        if (!step.passes(m_options.exact))
            return false;
    return true;
}

ReplayStep::Verdict ReplayRegression::compare(const QByteArray &recorded,
                                              const QByteArray &received, QString *detail,
                                              int *offset)
{
    auto say = [detail, offset](int at, const QString &text) {
        if (detail)
            *detail = text;
        if (offset)
            *offset = at;
    };
    if (recorded == received) {
        say(-1, QStringLiteral("byte for byte as recorded"));
        return ReplayStep::Verdict::Match;
    }
    const int rc = Frame::commandCode(recorded);
    const int gc = Frame::commandCode(received);
    if (rc != gc) {
        say(Frame::CommandOffset,
            QStringLiteral("command: recorded %1, received %2").arg(hex2(rc), hex2(gc)));
        return ReplayStep::Verdict::Differs;
    }
    const int rs = Frame::sequence(recorded);
    const int gs = Frame::sequence(received);
    if (rs != gs) {
        say(Frame::SequenceOffset,
            QStringLiteral("sequence number: recorded %1, received %2").arg(hex2(rs), hex2(gs)));
        return ReplayStep::Verdict::Differs;
    }
    const int rl = Frame::lengthField(recorded);
    const int gl = Frame::lengthField(received);
    if (rl != gl || recorded.size() != received.size()) {
        const int at = Frame::byteAt(recorded, Frame::LengthOffset)
                == Frame::byteAt(received, Frame::LengthOffset)
            ? Frame::LengthOffset + 1
            : Frame::LengthOffset;
        say(at,
            QStringLiteral("length: recorded 0x%1 (%2 bytes), received 0x%3 (%4 bytes)")
                .arg(rl, 4, 16, QLatin1Char('0'))
                .arg(recorded.size())
                .arg(gl, 4, 16, QLatin1Char('0'))
                .arg(received.size()));
        return ReplayStep::Verdict::Differs;
    }
    int first = -1;
    int count = 0;
    for (int i = 0; i < recorded.size(); ++i) {
        if (recorded.at(i) != received.at(i)) {
            if (first < 0)
                first = i;
            ++count;
        }
    }
    say(first,
        QStringLiteral("command, sequence number and length as recorded; %1 %2 differ%3, the "
                       "first at offset %4 (%5): recorded %6, received %7")
            .arg(count)
            .arg(count == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"),
                 count == 1 ? QStringLiteral("s") : QString())
            .arg(first)
            .arg(fieldAt(first, recorded.size()), byteText(recorded, first),
                 byteText(received, first)));
    return ReplayStep::Verdict::FieldsMatch;
}

QString ReplayRegression::line(const ReplayStep &step)
{
    return QStringLiteral("%1 step %2, row #%3, %4 seq %5: %6")
        .arg(ReplayStep::verdictWord(step.verdict).leftJustified(8))
        .arg(step.number)
        .arg(step.requestRow)
        .arg(hex2(step.command), hex2(step.sequence), step.detail);
}

QString ReplayRegression::summary() const
{
    int counts[6] = {};
    for (const ReplayStep &step : m_results)
        ++counts[int(step.verdict)];
    QStringList parts;
    parts << QStringLiteral("%1 matched byte for byte").arg(counts[0]);
    const char *names[] = {nullptr,
                           "in command, sequence number and length only",
                           "differed",
                           "missing",
                           "unanswered as in the recording",
                           "answered where the recording has no reply"};
    for (int i = 1; i < 6; ++i)
        if (counts[i] > 0)
            parts << QStringLiteral("%1 %2").arg(counts[i]).arg(QLatin1String(names[i]));
    QString text
        = QStringLiteral("%1 requests: %2 (%3 s)")
              .arg(m_plan.size())
              .arg(parts.join(QStringLiteral(", ")))
              .arg(double(m_running ? m_runClock.elapsed() : m_totalMs) / 1000.0, 0, 'f', 1);
    if (m_results.size() < m_plan.size())
        text += QStringLiteral("; %1 not sent").arg(m_plan.size() - m_results.size());
    if (wasStopped())
        text += QStringLiteral("; stopped: ") + m_stopReason;
    return text;
}

ConformanceReport ReplayRegression::report() const
{
    ConformanceReport report;
    report.setStarted(QDateTime::currentDateTime().addMSecs(-m_totalMs));
    for (const ReplayStep &step : m_results) {
        StepResult r;
        r.name = QStringLiteral("step %1, row #%2, %3 seq %4")
                     .arg(step.number)
                     .arg(step.requestRow)
                     .arg(hex2(step.command), hex2(step.sequence));
        const bool passed = step.passes(m_options.exact);
        r.outcome = passed ? StepResult::Outcome::Passed : StepResult::Outcome::Failed;
        r.reason = passed ? QString() : step.detail;
        if (m_rows && m_rows->contains(step.requestRow))
            r.addFrame("> ", m_rows->wire(step.requestRow));
        if (!step.received.isEmpty())
            r.addFrame("< ", step.received);
        r.durationMs = step.receivedUs >= 0 ? step.receivedUs / 1000 : 0;
        report.add(r);
    }
    return report;
}
