// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

class FrameAnalyzer;
class Line;
class QTimer;

// How a recording is played back.
struct ReplayOptions
{
    // Which directions go out, indexed by LineDirection.
    bool directions[2] = {true, true};
    // The recorded timing scaled: 2 plays twice as fast, 0.5 at half speed
    // (0.1 to 10). 0: as fast as the line takes the bytes.
    double speed = 1.0;
    // The first row played (an analyzer row id); rows before it are passed
    // over, and the timing counts from it.
    qint64 fromId = 0;

    static constexpr double MinSpeed = 0.1;
    static constexpr double MaxSpeed = 10.0;
};

// Plays the rows of a recording (one FrameAnalyzer row per recorded
// segment, as a capture file is read) back onto lines: each direction's
// bytes, exactly as they crossed the line, onto the line of that
// direction. Only data goes out (frames of both versions and the bytes
// between them); rows of any other kind are passed over.
//
// With the recorded timing each row is due at its recorded offset from the
// first row played, divided by the speed, against a monotonic clock that
// starts with the first row: a late row is sent at once and the ones after
// it keep their own times, so the timing never drifts. A pause stops that
// clock; resume goes on where it stood.
//
// A line takes bytes faster than it sends them: its write buffer grows.
// So the player writes only while the line holds fewer than HighWaterBytes
// not yet sent, and at most BurstBytes per turn of the event loop; "as fast
// as possible" thus runs at the line's own pace, and a recording of hours
// never lands in a write buffer at once.
class ReplayPlayer : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 HighWaterBytes = 4096;
    static constexpr qint64 BurstBytes = 4096;

    // `rows` must outlive the run; it is not owned.
    explicit ReplayPlayer(const FrameAnalyzer *rows, QObject *parent = nullptr);
    ~ReplayPlayer() override;

    // The line a direction's bytes are written to (null: that direction
    // cannot be played). One line may take both.
    void setLine(LineDirection direction, Line *line);
    Line *line(LineDirection direction) const;

    // Starts playing; false, with the reason in *why (English), when no row
    // is to be played or a line it needs is missing or closed.
    bool start(const ReplayOptions &options, QString *why = nullptr);
    void pause();
    void resume();
    // Ends a run early; finished(false, reason) follows.
    void stop(const QString &reason = QString());

    bool isRunning() const { return m_running; }
    bool isPaused() const { return m_paused; }
    qint64 rowsToPlay() const { return m_total; }
    qint64 rowsPlayed() const { return m_played; }
    qint64 bytesPlayed() const { return m_bytes; }

    // Bytes written to `line` and not yet handed to the device (the local
    // port's write buffer, a network line's socket); 0 when not known.
    static qint64 backlog(const Line *line);
    // Whether a row of this kind carries data of the line.
    static bool isData(SegmentKind kind);

signals:
    void progress(qint64 played, qint64 total);
    void sent(LineDirection direction, const QByteArray &wire);
    // The run ended: every row played (`complete`), or stopped, with why.
    void finished(bool complete, const QString &reason);

private:
    bool wanted(qint64 id) const;
    void tick();
    void end(bool complete, const QString &reason);
    qint64 clockUs() const;

    const FrameAnalyzer *m_rows;
    QPointer<Line> m_lines[2];
    ReplayOptions m_options;
    QTimer *m_timer;
    QElapsedTimer m_clock;
    qint64 m_pausedAtUs = 0;
    qint64 m_pausedTotalUs = 0;
    qint64 m_next = 0;   // the next row id to look at
    qint64 m_baseUs = 0; // recorded time of the first row played
    qint64 m_total = 0;
    qint64 m_played = 0;
    qint64 m_bytes = 0;
    bool m_running = false;
    bool m_paused = false;
};
