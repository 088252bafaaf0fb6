// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/periodicsender.h"

#include "serial/line.h"

#include <QTimer>

PeriodicSender::PeriodicSender(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    // A coarse timer may fire 5 % early or late; a 1 ms grid needs the
    // precise one.
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &PeriodicSender::tick);
}

void PeriodicSender::watch(Line *line)
{
    if (m_line)
        disconnect(m_line, nullptr, this, nullptr);
    m_line = line;
    if (line)
        connect(line, &Line::Lost, this, &PeriodicSender::stop);
}

bool PeriodicSender::start(int intervalMs, int count)
{
    stop();
    m_intervalNs = qint64(qMax(intervalMs, MinIntervalMs)) * 1000000;
    m_count = qMax(count, 0);
    m_sent = 0;
    m_nextSlot = 0;
    m_running = true;
    m_clock.start();
    emit started();
    tick();
    return m_sent > 0;
}

void PeriodicSender::stop()
{
    m_timer->stop();
    if (!m_running)
        return;
    m_running = false;
    emit stopped(m_sent);
}

void PeriodicSender::tick()
{
    if (!m_running)
        return;
    if ((m_line && !m_line->isLineOpen()) || !m_send || !m_send()) {
        stop();
        return;
    }
    ++m_sent;
    if (m_count > 0 && m_sent >= m_count) {
        stop();
        return;
    }
    scheduleNext();
}

void PeriodicSender::scheduleNext()
{
    const qint64 now = m_clock.nsecsElapsed();
    // The first slot after now: slots missed while the loop was busy are
    // skipped, never sent in a row.
    m_nextSlot = qMax(m_nextSlot + 1, now / m_intervalNs + 1);
    const qint64 waitNs = m_nextSlot * m_intervalNs - now;
    // Rounded up: a timer never fires before the slot.
    const qint64 waitMs = (waitNs + 999999) / 1000000;
    m_timer->start(int(qMin<qint64>(waitMs, 0x7FFFFFFF)));
}
