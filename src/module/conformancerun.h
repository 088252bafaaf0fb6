// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointdefinition.h"
#include "module/conformancereport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class QTimer;
class ZemFramer;
class Line;

struct ConformanceOptions
{
    // An answer later than this fails its step (it is still read).
    int replyLimitMs = 200;
    // How long to wait for an answer at all; 0: the reply limit + 2 s, so
    // that a late answer is still seen and named late instead of lost.
    int answerTimeoutMs = 0;
    // Adds the steps that disturb the line the way real lines do.
    bool robust = false;
    // Pause between the pieces of a split frame.
    int splitPauseMs = 40;
    // When not empty, the product key the MCU must report.
    QString expectedProductKey;
    // The image the firmware transfer sends; empty: that step is skipped.
    QString firmwarePath;
    // The product's data points; empty: the control steps are skipped and
    // the status answer's size is not checked.
    DataPointDefinition definition;

    int effectiveAnswerTimeout() const
    {
        return answerTimeoutMs > 0 ? answerTimeoutMs : replyLimitMs + 2000;
    }
};

// Plays the module against an MCU on an open port and checks every answer:
// it sends, in order, every request the protocol has (product information,
// heartbeat, status read, a control command for each writable data point
// at its minimum, maximum and a middle value each followed by a status read
// that must report it, the Wi-Fi status word for every mode and connection
// state, the other plain requests and a firmware transfer) and, at the
// robust level, split frames, noise, FF in every field, a retransmission
// and a control command with a wrong checksum, each followed by a good frame
// the MCU must still answer; the damaged control must be neither answered
// nor applied.
//
// Every answer is checked for its reply code, sequence number, length
// field, checksum, escaping on the wire and reply time. Meanwhile the
// MCU's own frames (status reports, configuration, time requests, ...) are
// answered as a module would (ModuleResponder).
//
// Everything is event-driven on the caller's thread: start() returns at
// once, the steps advance as frames and timers arrive, finished() ends it.
class ConformanceRun : public QObject
{
    Q_OBJECT
public:
    // `port` must stay alive and open for the run; it is not owned.
    ConformanceRun(Line *line, const ConformanceOptions &options, QObject *parent = nullptr);
    ~ConformanceRun() override;

    void start();
    // Ends a running run: the current step fails with `reason`.
    void abort(const QString &reason);
    bool isRunning() const { return m_running; }
    const ConformanceReport &report() const { return m_report; }
    const ConformanceOptions &options() const { return m_options; }

signals:
    void stepStarted(const QString &name);
    void stepFinished(const StepResult &step);
    // Wire bytes the run wrote, and each whole frame it received.
    void bytesSent(const QByteArray &wire);
    void frameReceived(const QByteArray &frame);
    void finished(bool allPassed);

private:
    struct Action
    {
        enum class Kind { Send, Pause, Expect, AwaitRequest };
        Kind kind = Kind::Send;
        QByteArray wire;
        int ms = 0;
        int code = 0;
        int sequence = 0;
        // Extra checks on the frame received; may queue further actions.
        std::function<QStringList(const QByteArray &)> check;
    };
    struct Step
    {
        Step(const QString &n, std::function<void()> p, const QString &skip = QString())
            : name(n)
            , plan(std::move(p))
            , skipReason(skip)
        { }
        QString name;
        std::function<void()> plan; // queues the step's actions
        QString skipReason;         // without a plan: why the step cannot run
    };

    void planSteps();
    void addPlainStep(const QString &name, int command, const QByteArray &payload = QByteArray());
    void addControlSteps();
    void addWifiSteps();
    void addFirmwareStep();
    void addRobustSteps();

    int nextSequence();
    void send(const QByteArray &frame);
    void sendWire(const QByteArray &wire);
    void pause(int ms);
    void expect(int code, int sequence,
                std::function<QStringList(const QByteArray &)> check = nullptr);
    void awaitRequest(int code, std::function<QStringList(const QByteArray &)> check);
    // Sends `frame` and expects its plain acknowledgement.
    void exchangePlain(const QByteArray &frame);

    void startStep();
    void advance();
    void finishStep(StepResult::Outcome outcome, const QString &reason);
    void onData(const QByteArray &chunk);
    void onFrame(const QByteArray &frame);
    void onTimeout();
    void judge(const Action &action, const QByteArray &frame);

    Line *m_line;
    ConformanceOptions m_options;
    ZemFramer *m_framer;
    QTimer *m_timer; // answer time-out and pauses
    QList<Step> m_steps;
    int m_stepIndex = -1;
    QList<Action> m_actions;
    bool m_waiting = false; // an Expect or AwaitRequest is at the front
    bool m_running = false;
    StepResult m_current;
    QElapsedTimer m_stepClock;
    QElapsedTimer m_sentClock;  // since the last write
    QByteArray m_wire;          // raw bytes received since the last write
    QSet<int> m_refusedAnswers; // code << 8 | sequence: answers that fail the step
    int m_sequence = 0;
    ConformanceReport m_report;
};
