// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/line.h"

class NetworkLine;
class SerialLine;
class ZemSerialPort;

// The line of a port field: whatever its address names. tcp:// and
// rfc2217:// addresses (see NetworkAddress) open a NetworkLine, anything
// else the local serial port. Owners keep one AnyLine and connect to it
// once; it hands on the signals of whichever line is in use.
class AnyLine : public Line
{
    Q_OBJECT
public:
    explicit AnyLine(QObject *parent = nullptr);
    ~AnyLine() override;

    bool openLine(const QString &address, const LineSettings::Settings &settings) override;
    void closeLine() override;
    bool isLineOpen() const override;
    bool isLineConnecting() const override;
    bool applySettings(const LineSettings::Settings &settings) override;
    qint64 send(const QByteArray &bytes) override;
    QString address() const override;
    QString openFailureReason() const override;
    bool setModemLine(ModemLine line, bool on) override;
    bool sendBreak() override;
    int modemLineState(ModemLine line) const override;
    QString controlFailureReason() const override;

    // The local port, there whether or not it is in use: its port list
    // (ComListChange) fills the port combos either way.
    ZemSerialPort *port() const;
    SerialLine *serialLine() const { return m_serial; }
    NetworkLine *networkLine() const { return m_network; }
    // The line the last openLine() used.
    Line *current() const { return m_current; }

private:
    void forward(Line *line);

    SerialLine *m_serial;
    NetworkLine *m_network;
    Line *m_current;
};
