// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/line.h"

class QTimer;
class ZemSerialPort;

// A Line on a local serial port (USB adapter, on-board UART, pseudo-terminal):
// a thin owner of one ZemSerialPort that hands on its signals.
//
// RTS and DTR are set with the port's modem-control requests; a device
// without modem lines (a pseudo-terminal: its driver has no modem-control
// operation, so the request fails with ENOTTY) refuses them, and the line
// says so instead of pretending. A break is the break state switched on and,
// BreakMs later, off again by a timer: the GUI thread never sleeps in it.
class SerialLine : public Line
{
    Q_OBJECT
public:
    explicit SerialLine(QObject *parent = nullptr);
    ~SerialLine() override;

    bool openLine(const QString &address, const LineSettings::Settings &settings) override;
    void closeLine() override;
    bool isLineOpen() const override;
    bool applySettings(const LineSettings::Settings &settings) override;
    qint64 send(const QByteArray &bytes) override;
    QString address() const override { return m_address; }
    QString openFailureReason() const override;
    bool setModemLine(ModemLine line, bool on) override;
    bool sendBreak() override;
    int modemLineState(ModemLine line) const override;

    // The port itself, for what only a local port has (its port-list
    // signal, the rule about unlisted paths).
    ZemSerialPort *port() const { return m_port; }

private:
    ZemSerialPort *m_port;
    QTimer *m_breakTimer;
    QString m_address;
};
