// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/capturewriter.h"
#include "protocol/linesegment.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

class LineMonitor;
class ZemTool;
class QTimer;

// Records a tab's line to a capture file as the bytes arrive: every segment
// the line monitor hands on becomes one packet. The file is flushed at least
// once a second, so a crash or a power cut loses at most the last second;
// nothing is kept in memory, so a recording of hours costs no more than one
// of minutes.
//
// Files go to the data folder's "captures" subfolder, named after the local
// time the recording started: "lumo-yyyyMMdd-HHmmss.pcap".
//
// Recording starts and stops at the user's word; with the setting
// "analyzer/autorecord" on it also starts by itself whenever a port the
// watched monitor taps is opened.
class SessionRecorder : public QObject
{
    Q_OBJECT
public:
    static constexpr int FlushIntervalMs = 500;

    explicit SessionRecorder(QObject *parent = nullptr);
    // `settings` is the program's one settings object (auto-start is read there).
    explicit SessionRecorder(ZemTool *settings, QObject *parent = nullptr);
    ~SessionRecorder() override;

    // Starts a new file for what `monitor` hands on from now. False, with
    // the reason, when the folder or the file cannot be created (the
    // reason also goes out through failed()). Already recording: true.
    bool start(LineMonitor *monitor, QString *error = nullptr);
    // The same into the file at `path` (created, or replaced), for a program
    // told where to record.
    bool startFile(LineMonitor *monitor, const QString &path, QString *error = nullptr);
    // Hands on what the monitor holds, writes it and closes the file.
    void stop();
    bool isRecording() const { return m_writer.isOpen(); }
    // The file being written, or the last one written after stop().
    QString filePath() const { return m_path; }
    qint64 packetCount() const { return m_writer.packetCount(); }
    // Why the current or last recording's file ends early (the disk refused
    // a write, with the system's reason); empty while it is whole.
    QString lastError() const { return m_lastError; }

    // Starts recording by itself when a port tapped by `monitor` opens and
    // the auto-start setting is on (the setting is read at that moment).
    void watch(LineMonitor *monitor);

    // The setting "analyzer/autorecord" in the settings file, read and
    // written through `settings` (without one, a settings object of its own
    // on the same file, for tools and tests).
    static bool autoStartEnabled(ZemTool *settings = nullptr);
    static void setAutoStartEnabled(bool on, ZemTool *settings = nullptr);

    // The folder captures go to, and the name of one started at `localTime`.
    static QString captureDir();
    static QString fileNameFor(const QDateTime &localTime);

signals:
    void recordingChanged(bool recording, const QString &path);
    // Writing failed (folder not writable, disk full); recording has stopped.
    void failed(const QString &message);

private slots:
    void onSegments(const QVector<LineSegment> &batch, const QStringList &portNames);
    void onFlushTick();
    void onPortOpened();

private:
    // A recording that could not start: the reason to `error` and failed().
    bool refuse(const QString &why, QString *error);
    void stopAfterError();

    CaptureWriter m_writer;
    QPointer<LineMonitor> m_monitor;
    QPointer<LineMonitor> m_watched;
    QTimer *m_flushTimer;
    ZemTool *m_settings = nullptr;
    QString m_path;
    QString m_lastError;
};
