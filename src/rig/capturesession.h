// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"
#include "serial/linesettings.h"

#include <QObject>
#include <QString>

class HeadlessProgram;
class LineBridge;
class LineMonitor;
class QTimer;
class AnyLine;
class SessionRecorder;

// lumo-capture's run: the dual tab's bridge and recorder without a window.
// A port is any address a line opens: a local path, or a network line
// (tcp://, rfc2217://). Bridging, it sits between the MCU (side 1) and the
// module (side 2) and
// forwards each side's bytes to the other as the tab does; sniffing, it
// only listens on one port and never writes to it. Either way the bytes go
// through the recorder's own monitor and writer, so the packets and the file
// are the ones the window records.
//
// The run ends with finished(status), the exit status of HeadlessProgram:
// 0 when stopped (stop(), the time or packet limit, the reader of the output
// gone), 1 when a port was lost (without waitForPort) or the output failed,
// 2 when the output or a port cannot be opened at start.
class CaptureSession : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString mcuPort;    // bridging: the MCU's port; sniffing: empty
        QString modulePort; // bridging: the module's port; sniffing: empty
        QString sniffPort;  // sniffing: the one port listened on
        // Sniffing: whose transmissions the port hears.
        LineDirection sniffDirection = LineDirection::McuToModule;
        LineSettings::Settings line;
        QString output;           // a file, a FIFO, or "-" for standard output
        int durationMs = 0;       // 0: no time limit
        qint64 packetLimit = 0;   // 0: no packet limit
        bool waitForPort = false; // a port missing at start or lost is waited for
    };

    CaptureSession(const Options &options, const HeadlessProgram &program,
                   QObject *parent = nullptr);
    ~CaptureSession() override;

    // Opens the ports, then the output; runs from the event loop.
    void start();
    // Ends the file cleanly (what the monitor holds goes in), closes the
    // ports and emits finished(status).
    void stop(int status = 0);

    qint64 packetCount() const;

signals:
    void finished(int status);

private:
    bool bridging() const { return m_side2 != nullptr; }
    QString addressOf(const AnyLine *line) const;
    bool openSide(AnyLine *line);
    void onOpened(AnyLine *line);
    void onOpenFailed(AnyLine *line, const QString &reason);
    void onLost(AnyLine *line, const QString &reason);
    void retryOpen();
    void watchReader();
    bool readerGone() const;
    void onRecorderFailed(const QString &message);

    Options m_options;
    const HeadlessProgram &m_program;
    AnyLine *m_side1;           // the MCU, or the sniffed port
    AnyLine *m_side2 = nullptr; // the module while bridging
    LineMonitor *m_monitor;
    SessionRecorder *m_recorder;
    LineBridge *m_bridge = nullptr;
    QTimer *m_retry;
    QTimer *m_readerWatch;
    int m_readerFd = -1;    // a descriptor on the output's pipe or FIFO, or -1
    bool m_waiting = false; // said that a port is awaited
    bool m_done = false;
};
