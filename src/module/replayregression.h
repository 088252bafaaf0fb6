// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "module/conformancereport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class FrameAnalyzer;
class Line;
class QTimer;
class ZemFramer;

struct ReplayRegressionOptions
{
    // The recorded pauses between the module's requests, scaled as in
    // ReplayOptions (0.1 to 10); 0: each request goes as soon as the reply
    // to the one before it has come.
    double speed = 1.0;
    // How much longer than in the recording the MCU may take to reply.
    int slackMs = 1000;
    // Only byte-for-byte equal replies count as matching; otherwise a reply
    // equal in command, sequence number and length passes too.
    bool exact = false;
    // The first row of the recording taken (an analyzer row id).
    qint64 fromId = 0;
};

// What became of one recorded request of the module when it was sent again.
struct ReplayStep
{
    enum class Verdict {
        Match,       // the reply equals the recorded one byte for byte
        FieldsMatch, // command, sequence number and length agree, other bytes do not
        Differs,     // the command, the sequence number or the length differs
        Missing,     // the recording has a reply, the MCU gave none in time
        Silent,      // neither the recording nor the MCU has a reply
        Unrecorded,  // the MCU replied, the recording has no reply
    };

    int number = 0;         // 1, 2, ... in the order sent
    qint64 requestRow = -1; // the request's row in the recording
    qint64 replyRow = -1;   // the recorded reply's row, -1 none
    int command = -1;
    int sequence = -1;
    Verdict verdict = Verdict::Missing;
    QString detail;  // where it differs, or why it is missing (English)
    int offset = -1; // the first byte that differs, -1 none
    QByteArray recorded;
    QByteArray received;
    qint64 recordedUs = -1; // the recorded reply's latency
    qint64 receivedUs = -1; // the live one's

    bool passes(bool exact) const;
    // "MATCH", "FIELDS", "DIFFERS", "MISSING", "SILENT", "EXTRA".
    static QString verdictWord(Verdict verdict);
};

// "按录制应答": plays the module's side of a recording against a live MCU as
// a responder, so that a recorded conversation becomes a regression test
// for the MCU's firmware.
//
// The module's requests are its frames of an odd command code (01 .. 1F)
// in the direction module -> MCU; each is sent exactly as recorded (wire
// bytes). Its recorded reply is the row the analyzer paired with it (the
// code + 1 and the same sequence number, the other way). The next request
// goes only once the MCU's reply has come, or once the wait for it is over:
// the recorded pause to the next request (scaled by the speed), and at
// least the recorded reply time plus the slack. A reply that comes early
// does not hurry the next request past its recorded pause.
//
// The MCU's live frames are cut by ZemFramer. A frame of an even code is a
// reply: the one with the expected code is the step's (a wrong sequence
// number is then a difference); one that answers an earlier step late is
// passed over. The MCU's own requests (status reports, configuration, time,
// firmware-ready, ...) are answered at once by ModuleResponder, as the
// conformance run does, rather than with the recorded answers, which carry
// the recording's sequence numbers and times; so the module's recorded
// answers are not played, nor are the bytes it sent outside frames.
class ReplayRegression : public QObject
{
    Q_OBJECT
public:
    // `rows` must outlive the run; `line` must be open and stay so.
    ReplayRegression(const FrameAnalyzer *rows, Line *line, QObject *parent = nullptr);
    ~ReplayRegression() override;

    // The recorded requests from options.fromId on; false, with the reason
    // (English) in *why, when there is none or the line is not open.
    bool start(const ReplayRegressionOptions &options, QString *why = nullptr);
    void pause();
    void resume();
    // Ends the run early: the step under way counts as missing.
    void stop(const QString &reason);

    bool isRunning() const { return m_running; }
    bool isPaused() const { return m_paused; }
    int stepCount() const { return m_plan.size(); }
    const QList<ReplayStep> &steps() const { return m_results; }
    const ReplayRegressionOptions &options() const { return m_options; }
    // Every step done and passed; false after a stop.
    bool allPassed() const;
    bool wasStopped() const { return !m_stopReason.isEmpty(); }
    QString stopReason() const { return m_stopReason; }

    // One line per step for the shell, e.g.
    // "DIFFERS  step 4, row #7, 0x03 seq 0x04: payload at offset 9: recorded 01, received 02".
    static QString line(const ReplayStep &step);
    // "12 requests: 10 matched byte for byte, 1 in command, sequence number
    // and length, 1 missing (4.1 s)".
    QString summary() const;
    // The steps as a conformance report, for the JUnit file.
    ConformanceReport report() const;

    // Compares a reply with the recorded one: Match, FieldsMatch or
    // Differs, and where (the first byte that differs, its field).
    static ReplayStep::Verdict compare(const QByteArray &recorded, const QByteArray &received,
                                       QString *detail, int *offset);

signals:
    void stepStarted(int number, int total);
    void stepFinished(const ReplayStep &step);
    void bytesSent(const QByteArray &wire);
    void frameReceived(const QByteArray &frame);
    void finished(bool allPassed);

private:
    struct Planned
    {
        qint64 requestRow;
        qint64 replyRow;
        qint64 recordedUs; // reply latency, -1 none
        qint64 gapUs;      // recorded pause to the next request, 0 for the last
    };

    void sendNext();
    void onFrame(const QByteArray &frame);
    void onTimeout();
    void settle(ReplayStep::Verdict verdict, const QString &detail,
                const QByteArray &received = QByteArray(), int offset = -1);
    void finish();
    qint64 scaled(qint64 us) const;

    const FrameAnalyzer *m_rows;
    QPointer<Line> m_line;
    ReplayRegressionOptions m_options;
    ZemFramer *m_framer;
    QTimer *m_waitTimer; // the wait for the reply
    QTimer *m_gapTimer;  // the rest of the recorded pause
    QList<Planned> m_plan;
    QList<ReplayStep> m_results;
    int m_index = -1; // the step under way
    bool m_awaiting = false;
    bool m_running = false;
    bool m_paused = false;
    bool m_sendWhenResumed = false;
    QElapsedTimer m_runClock;
    QElapsedTimer m_stepClock;
    qint64 m_totalMs = 0;
    QString m_stopReason;
};
