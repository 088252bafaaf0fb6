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
};
