// SPDX-License-Identifier: GPL-3.0-or-later
#include "module/conformancereport.h"

#include "module/steptext.h"
#include "protocol/zemtool.h"

#include <QSaveFile>
#include <QXmlStreamWriter>

namespace {

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 3);
}

} // namespace

void StepResult::addFrame(const char *mark, const QByteArray &bytes)
{
    if (frames.size() >= FirstFramesKept + LastFramesKept) {
        frames.removeAt(FirstFramesKept);
        ++framesLeftOut;
    }
    QString text = QLatin1String(mark) + ZemTool::hexText(bytes.left(MaxBytesShown)).trimmed();
    if (bytes.size() > MaxBytesShown)
        text += QStringLiteral(" … (%1 bytes)").arg(bytes.size());
    frames << text;
}

QStringList StepResult::frameLines(const QString &leftOutLine) const
{
    if (framesLeftOut == 0)
        return frames;
    QStringList lines = frames;
    lines.insert(FirstFramesKept, leftOutLine.arg(framesLeftOut));
    return lines;
}

int ConformanceReport::passedCount() const
{
    int n = 0;
    for (const StepResult &s : m_steps)
        n += s.outcome == StepResult::Outcome::Passed;
    return n;
}

int ConformanceReport::failedCount() const
{
    int n = 0;
    for (const StepResult &s : m_steps)
        n += s.outcome == StepResult::Outcome::Failed;
    return n;
}

int ConformanceReport::skippedCount() const
{
    return m_steps.size() - passedCount() - failedCount();
}

bool ConformanceReport::allPassed() const
{
    return !m_steps.isEmpty() && failedCount() == 0;
}

qint64 ConformanceReport::totalMs() const
{
    qint64 ms = 0;
    for (const StepResult &s : m_steps)
        ms += s.durationMs;
    return ms;
}

QString ConformanceReport::line(const StepResult &step)
{
    switch (step.outcome) {
    case StepResult::Outcome::Passed:
        return QStringLiteral("PASS  ") + step.name;
    case StepResult::Outcome::Failed:
        return QStringLiteral("FAIL  ") + step.name + QStringLiteral(": ") + step.reason;
    case StepResult::Outcome::Skipped:
        break;
    }
    return QStringLiteral("SKIP  ") + step.name + QStringLiteral(": ") + step.reason;
}

QString ConformanceReport::summary() const
{
    return QStringLiteral("%1 %2: %3 passed, %4 failed, %5 skipped (%6 s)")
        .arg(m_steps.size())
        .arg(m_steps.size() == 1 ? QStringLiteral("step") : QStringLiteral("steps"))
        .arg(passedCount())
        .arg(failedCount())
        .arg(skippedCount())
        .arg(QString::number(double(totalMs()) / 1000.0, 'f', 1));
}

QByteArray ConformanceReport::junitXml(const QString &suiteName) const
{
    QByteArray xml;
    QXmlStreamWriter w(&xml);
    writeXml(w, suiteName);
    return xml;
}

void ConformanceReport::writeXml(QXmlStreamWriter &w, const QString &suiteName) const
{
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("testsuites"));
    w.writeAttribute(QStringLiteral("name"), suiteName);
    w.writeAttribute(QStringLiteral("tests"), QString::number(m_steps.size()));
    w.writeAttribute(QStringLiteral("failures"), QString::number(failedCount()));
    w.writeAttribute(QStringLiteral("time"), seconds(totalMs()));
    w.writeStartElement(QStringLiteral("testsuite"));
    w.writeAttribute(QStringLiteral("name"), suiteName);
    w.writeAttribute(QStringLiteral("tests"), QString::number(m_steps.size()));
    w.writeAttribute(QStringLiteral("failures"), QString::number(failedCount()));
    w.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    w.writeAttribute(QStringLiteral("skipped"), QString::number(skippedCount()));
    w.writeAttribute(QStringLiteral("time"), seconds(totalMs()));
    if (m_started.isValid())
        w.writeAttribute(QStringLiteral("timestamp"), m_started.toString(Qt::ISODate));
    if (!m_capturePath.isEmpty()) {
        w.writeStartElement(QStringLiteral("properties"));
        w.writeStartElement(QStringLiteral("property"));
        w.writeAttribute(QStringLiteral("name"), QStringLiteral("capture"));
        w.writeAttribute(QStringLiteral("value"), m_capturePath);
        w.writeEndElement();
        w.writeEndElement();
    }
    for (const StepResult &s : m_steps) {
        w.writeStartElement(QStringLiteral("testcase"));
        w.writeAttribute(QStringLiteral("classname"), suiteName);
        w.writeAttribute(QStringLiteral("name"), s.name);
        w.writeAttribute(QStringLiteral("time"), seconds(s.durationMs));
        if (s.outcome == StepResult::Outcome::Failed) {
            w.writeStartElement(QStringLiteral("failure"));
            w.writeAttribute(QStringLiteral("message"), s.reason);
            w.writeAttribute(QStringLiteral("type"), QStringLiteral("conformance"));
            w.writeCharacters(m_capturePath.isEmpty()
                                  ? s.reason
                                  : s.reason + QStringLiteral("\ncapture: ") + m_capturePath);
            w.writeEndElement();
        } else if (s.outcome == StepResult::Outcome::Skipped) {
            w.writeStartElement(QStringLiteral("skipped"));
            w.writeAttribute(QStringLiteral("message"), s.reason);
            w.writeEndElement();
        }
        if (!s.frames.isEmpty())
            w.writeTextElement(
                QStringLiteral("system-out"),
                s.frameLines(StepText::framesLeftOut(false)).join(QLatin1Char('\n')));
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
}

bool ConformanceReport::writeJUnit(const QString &path, const QString &suiteName,
                                   QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    // Straight into the file: no second copy of the document in memory.
    QXmlStreamWriter w(&file);
    writeXml(w, suiteName);
    if (w.hasError() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
