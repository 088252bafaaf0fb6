// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"

#include <QObject>
#include <QString>

class Line;
class LineMonitor;
class SessionRecorder;

// The --capture FILE of a program without a window (lumo-mcu, lumo-module):
// its own line tapped by a LineMonitor and written by a SessionRecorder, so
// the file is cut into packets by the same rule, in the same format and
// flushed as often as a recording made in the window. Messages are English.
class LineRecording : public QObject
{
    Q_OBJECT
public:
    explicit LineRecording(QObject *parent = nullptr);
    ~LineRecording() override;

    // Taps `line` (what it reads goes as `readDirection`, what is written to
    // it the other way) and records from now into `path`, replacing a file
    // there. Call before the line opens, so the file holds its first byte.
    // False, with the reason, when the file cannot be written.
    bool start(Line *line, LineDirection readDirection, const QString &path, QString *error);
    // Writes what the tap still holds and closes the file. Safe to call twice.
    void stop();
    bool isRecording() const;
    QString path() const { return m_path; }
    qint64 packetCount() const;

signals:
    // The disk refused a write: the recording has stopped, `reason` says why.
    void failed(const QString &reason);

private:
    LineMonitor *m_monitor;
    SessionRecorder *m_recorder;
    QString m_path;
};
