// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/linesettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// One side of a UART conversation as the engine sees it: a device that opens
// at an address with line settings, then reads and writes bytes, and may be
// lost (adapter pulled, far end gone) and opened again. The simulated MCU,
// the dual tab's bridge, the analyzer's taps and the recorder talk to a Line,
// never to a particular kind of port, so a line served over the network fits
// in beside the local serial port without touching them.
//
// Signals, in the order a read produces them: DataReceived, then DataReady,
// with the same bytes. A tap listens to DataReceived and so hears a request
// before any owner's answer to it (the simulated MCU writes its reply from
// within its DataReady handler). DataSent carries the bytes each write
// handed on, in line order.
class Line : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~Line() override = default;

    // Opens the line at `address` (a port name, path or network address) with `settings`;
    // an open line is closed first. False, with openFailureReason() set,
    // when it cannot be opened.
    virtual bool openLine(const QString &address, const LineSettings::Settings &settings) = 0;
    virtual void closeLine() = 0;
    virtual bool isLineOpen() const = 0;
    // Opened but not ready yet: a line that connects in the background (a
    // port served over the network) counts as open as soon as openLine()
    // returned true, and takes what is sent meanwhile; Opened or OpenFailed
    // ends this state. Never true for a local port, which opens at once.
    virtual bool isLineConnecting() const { return false; }
    // Changes the settings of the open line (the user picked another baud
    // rate while it was open). False when the device refuses them.
    virtual bool applySettings(const LineSettings::Settings &settings) = 0;
    // Writes bytes to the open line; the count taken, or -1 while closed.
    virtual qint64 send(const QByteArray &bytes) = 0;

    // The modem control lines the program drives toward the device.
    enum ModemLine { Rts = 1, Dtr = 2 };
    // A break lasts this long: long enough for any receiver at any baud
    // rate to see it (a frame at 110 baud is 100 ms), short enough not to
    // hold the line up.
    static constexpr int BreakMs = 250;
    // Sets RTS or DTR on the open line; ControlChanged follows when it took
    // effect. False, with controlFailureReason() set, when the line cannot
    // (closed, a device without modem lines such as a pseudo-terminal, a
    // raw TCP line).
    virtual bool setModemLine(ModemLine line, bool on);
    // Holds the line in the break state for BreakMs; BreakSent follows at
    // the start. False, with controlFailureReason() set, when it cannot.
    virtual bool sendBreak();
    // The state of RTS or DTR on the open line: 1 on, 0 off, -1 not known.
    virtual int modemLineState(ModemLine line) const
    {
        Q_UNUSED(line)
        return -1;
    }
    // Why the last setModemLine or sendBreak failed, for the user.
    virtual QString controlFailureReason() const { return m_controlFailure; }

    // The address the line was last opened at, as the caller named it (what
    // logs, the analyzer and the recorder call the line).
    virtual QString address() const = 0;
    // Why the last openLine failed, for the user.
    virtual QString openFailureReason() const = 0;

signals:
    void DataReceived(const QByteArray &data);
    void DataReady(const QByteArray &data);
    void DataSent(const QByteArray &data);
    // A successful openLine of `address`.
    void Opened(const QString &address);
    // The open line failed and has been closed; `reason` says why.
    void Lost(const QString &reason);
    // A line that was connecting (see isLineConnecting) could not be opened
    // after all and is closed; `reason` says why.
    void OpenFailed(const QString &reason);
    // RTS or DTR (a ModemLine) was set to `on` on the open line.
    void ModemLineChanged(int line, bool on);
    // A break of `durationMs` started on the open line.
    void BreakSent(int durationMs);

protected:
    // The line gives no way to control the modem lines: says so and fails.
    bool refuseControl(const QString &reason)
    {
        m_controlFailure = reason;
        return false;
    }

private:
    QString m_controlFailure;
};

inline bool Line::setModemLine(ModemLine line, bool on)
{
    Q_UNUSED(line)
    Q_UNUSED(on)
    return refuseControl(QStringLiteral("该线路不能控制 RTS/DTR"));
}

inline bool Line::sendBreak()
{
    return refuseControl(QStringLiteral("该线路不能发送 BREAK"));
}
