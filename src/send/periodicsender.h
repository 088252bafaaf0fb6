// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <functional>

class QTimer;
class Line;

// Sends again and again on a steady grid: the first send at start, the n-th
// at start + n × interval on the monotonic clock, whatever each send and the
// event loop cost. Each wait is computed from the grid, not from the last
// send, so lateness never adds up (no drift). When the event loop was held
// up for longer than an interval, the missed slots are skipped, not made up
// in a burst: the next send goes at the next slot of the grid, and the
// count counts only what was sent.
//
// The sending itself is the owner's (a send box writes through its tab, which
// logs and reports the bytes); the sender only keeps time. It stops by itself
// after `count` sends, when the send function says the line took nothing, and
// when the watched line is lost or found closed at a tick.
class PeriodicSender : public QObject
{
    Q_OBJECT
public:
    static constexpr int MinIntervalMs = 1;

    explicit PeriodicSender(QObject *parent = nullptr);

    // Sends once; false when nothing was written (the line is closed).
    void setSend(std::function<bool()> send) { m_send = std::move(send); }
    // The line the sends go to: a lost or closed line ends the run.
    void watch(Line *line);

    // Starts a run of `count` sends (0: until stopped), `intervalMs` apart
    // (at least MinIntervalMs); the first send goes at once. A run under way
    // is stopped first. False when the first send found the line closed.
    bool start(int intervalMs, int count);
    void stop();
    bool isRunning() const { return m_running; }
    // Sends of the current or last run.
    int sent() const { return m_sent; }

signals:
    void started();
    // The run ended: by stop(), after its count, or because the line went away.
    void stopped(int sent);

private:
    void tick();
    void scheduleNext();

    std::function<bool()> m_send;
    QPointer<Line> m_line;
    QTimer *m_timer;
    QElapsedTimer m_clock;
    qint64 m_intervalNs = 0;
    qint64 m_nextSlot = 0; // index of the next slot on the grid
    int m_count = 0;
    int m_sent = 0;
    bool m_running = false;
};
