// SPDX-License-Identifier: GPL-3.0-or-later
#include "module/replayplayer.h"

#include "analyzer/frameanalyzer.h"
#include "serial/anyline.h"
#include "serial/line.h"
#include "serial/serialline.h"
#include "serial/zemserialport.h"

#include <QAbstractSocket>
#include <QTimer>

#include <cmath>

ReplayPlayer::ReplayPlayer(const FrameAnalyzer *rows, QObject *parent)
    : QObject(parent)
    , m_rows(rows)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &ReplayPlayer::tick);
}

ReplayPlayer::~ReplayPlayer() = default;

void ReplayPlayer::setLine(LineDirection direction, Line *line)
{
    m_lines[int(direction)] = line;
}

Line *ReplayPlayer::line(LineDirection direction) const
{
    return m_lines[int(direction)];
}

bool ReplayPlayer::isData(SegmentKind kind)
{
    // Named one by one: a kind added later (a note about the line rather
    // than its bytes) is not data to be sent.
    return kind == SegmentKind::Frame4 || kind == SegmentKind::Frame3 || kind == SegmentKind::Other;
}

qint64 ReplayPlayer::backlog(const Line *line)
{
    if (const auto *any = qobject_cast<const AnyLine *>(line))
        line = any->current();
    if (!line)
        return 0;
    if (const auto *serial = qobject_cast<const SerialLine *>(line))
        return serial->port()->bytesToWrite();
    // A network line writes through its socket.
    if (const auto *socket = line->findChild<QAbstractSocket *>())
        return socket->bytesToWrite();
    return 0;
}

bool ReplayPlayer::wanted(qint64 id) const
{
    const FrameRecord &r = m_rows->record(id);
    return m_options.directions[int(r.direction)] && isData(r.kind);
}

bool ReplayPlayer::start(const ReplayOptions &options, QString *why)
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
    m_next = qMax(m_options.fromId, m_rows->firstId());
    m_total = 0;
    bool first = true;
    for (qint64 id = m_next; id < m_rows->endId(); ++id) {
        if (!wanted(id))
            continue;
        if (first)
            m_baseUs = m_rows->record(id).timeUs;
        first = false;
        ++m_total;
    }
    if (m_total == 0)
        return refuse(QStringLiteral("no data of the chosen directions from row #%1 on")
                          .arg(m_options.fromId));
    for (LineDirection d : {LineDirection::McuToModule, LineDirection::ModuleToMcu}) {
        if (!m_options.directions[int(d)])
            continue;
        Line *line = m_lines[int(d)];
        if (!line)
            return refuse(QStringLiteral("no line to play this direction onto"));
        if (!line->isLineOpen())
            return refuse(QStringLiteral("the line %1 is not open").arg(line->address()));
        connect(line, &Line::Lost, this, [this, line](const QString &reason) {
            end(false, QStringLiteral("lost %1: %2").arg(line->address(), reason));
        });
    }
    m_played = 0;
    m_bytes = 0;
    m_paused = false;
    m_pausedTotalUs = 0;
    m_running = true;
    m_clock.start();
    emit progress(0, m_total);
    m_timer->start(0);
    return true;
}

qint64 ReplayPlayer::clockUs() const
{
    return m_clock.nsecsElapsed() / 1000 - m_pausedTotalUs;
}

void ReplayPlayer::pause()
{
    if (!m_running || m_paused)
        return;
    m_paused = true;
    m_pausedAtUs = m_clock.nsecsElapsed() / 1000;
    m_timer->stop();
}

void ReplayPlayer::resume()
{
    if (!m_running || !m_paused)
        return;
    m_paused = false;
    m_pausedTotalUs += m_clock.nsecsElapsed() / 1000 - m_pausedAtUs;
    m_timer->start(0);
}

void ReplayPlayer::stop(const QString &reason)
{
    if (m_running)
        end(false, reason.isEmpty() ? QStringLiteral("stopped") : reason);
}

void ReplayPlayer::end(bool complete, const QString &reason)
{
    if (!m_running)
        return;
    m_running = false;
    m_paused = false;
    m_timer->stop();
    for (const QPointer<Line> &line : m_lines)
        if (line)
            disconnect(line, &Line::Lost, this, nullptr);
    emit finished(complete, reason);
}

void ReplayPlayer::tick()
{
    if (!m_running || m_paused)
        return;
    qint64 burst = 0;
    while (m_next < m_rows->endId()) {
        if (!wanted(m_next)) {
            ++m_next;
            continue;
        }
        const FrameRecord &r = m_rows->record(m_next);
        const LineDirection direction = r.direction;
        const qint64 timeUs = r.timeUs;
        Line *line = m_lines[int(direction)];
        if (!line || !line->isLineOpen()) {
            end(false, QStringLiteral("the line was closed"));
            return;
        }
        if (m_options.speed > 0) {
            const qint64 dueUs = qint64(std::llround(double(timeUs - m_baseUs) / m_options.speed));
            const qint64 nowUs = clockUs();
            if (dueUs > nowUs) {
                m_timer->start(int(qMin<qint64>((dueUs - nowUs + 999) / 1000, 3600000)));
                return;
            }
        }
        // The line's own pace: wait while it still holds what it was given.
        if (backlog(line) >= HighWaterBytes) {
            m_timer->start(2);
            return;
        }
        if (burst >= BurstBytes) {
            m_timer->start(0);
            return;
        }
        const QByteArray wire = m_rows->wire(m_next);
        if (line->send(wire) < 0) {
            end(false, QStringLiteral("the line %1 took no bytes").arg(line->address()));
            return;
        }
        ++m_next;
        ++m_played;
        m_bytes += wire.size();
        burst += wire.size();
        emit sent(direction, wire);
        emit progress(m_played, m_total);
        if (!m_running || m_paused)
            return;
    }
    end(true, QString());
}
