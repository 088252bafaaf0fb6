// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class QXmlStreamWriter;

// The outcome of one step of a conformance run.
struct StepResult
{
    enum class Outcome { Passed, Failed, Skipped };

    QString name;
    Outcome outcome = Outcome::Passed;
    QString reason; // why it failed or was skipped; empty when it passed
    // The frames of the step in order, as hex text: "> " what the module
    // sent (wire bytes), "< " what it received (one whole frame each). A
    // step with many frames (a firmware transfer, a babbling line) keeps its
    // first and its last ones; framesLeftOut counts those in between, which
    // stood at index FirstFramesKept.
    QStringList frames;
    int framesLeftOut = 0;
    qint64 durationMs = 0;

    static constexpr int FirstFramesKept = 20;
    static constexpr int LastFramesKept = 20;
    // A longer frame shows its first bytes and its size: a frame may be
    // 130 KB on the wire, and a flooded step would keep forty of them.
    static constexpr int MaxBytesShown = 1024;

    // Keeps `bytes` (whole frame or wire bytes) after `mark` ("> ", "< "),
    // or counts it as left out.
    void addFrame(const char *mark, const QByteArray &bytes);
    // The frames kept, with one line where those left out were
    // (`leftOutLine` with %1 for their count, e.g. "… %1 frames left out …").
    QStringList frameLines(const QString &leftOutLine) const;

    bool passed() const { return outcome == Outcome::Passed; }
    bool failed() const { return outcome == Outcome::Failed; }
};

// The results of one conformance run: the steps in order, a summary, and
// the JUnit XML report CI systems read (one testsuite, one testcase per
// step, <failure> and <skipped> as those systems expect).
class ConformanceReport
{
public:
    void setStarted(const QDateTime &when) { m_started = when; }
    // The capture file of the run's line (lumo-module --capture): the JUnit
    // report names it, as a property of the suite and under each failure,
    // so whoever reads a failure finds the frames that led to it.
    void setCapturePath(const QString &path) { m_capturePath = path; }
    QString capturePath() const { return m_capturePath; }
    QDateTime started() const { return m_started; }
    void add(const StepResult &step) { m_steps.append(step); }
    void clear() { m_steps.clear(); }
    const QList<StepResult> &steps() const { return m_steps; }

    int passedCount() const;
    int failedCount() const;
    int skippedCount() const;
    // True when at least one step ran and none failed.
    bool allPassed() const;
    qint64 totalMs() const;

    // "PASS  heartbeat (0x07)" or "FAIL  heartbeat (0x07): reason".
    static QString line(const StepResult &step);
    // "24 steps: 23 passed, 1 failed, 0 skipped (3.2 s)".
    QString summary() const;

    // The JUnit XML document. `suiteName` names the testsuite (and the
    // classname of every testcase).
    QByteArray junitXml(const QString &suiteName) const;
    // Writes junitXml() to `path`; false with *error set when it cannot.
    bool writeJUnit(const QString &path, const QString &suiteName, QString *error) const;

private:
    void writeXml(QXmlStreamWriter &w, const QString &suiteName) const;

    QDateTime m_started;
    QList<StepResult> m_steps;
    QString m_capturePath;
};
