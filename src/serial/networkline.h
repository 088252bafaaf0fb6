// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/line.h"
#include "serial/networkaddress.h"
#include "serial/telnetcodec.h"

#include <QAbstractSocket>
#include <QElapsedTimer>

class QTcpSocket;
class QTimer;

// A Line on a serial port served over TCP (see NetworkAddress): raw bytes,
// or Telnet with RFC 2217's COM-PORT-OPTION so that the line settings chosen
// here are set on the remote port. Lumo only connects; it never listens.
//
// Connecting takes time (a name to resolve, a server far away), and the GUI
// thread must not wait for it: openLine() starts the connection and returns
// at once. The line counts as open from then on; what is sent meanwhile is
// kept and goes out once connected. Opened follows when the line is ready
// (for RFC 2217, once the server agreed to COM-PORT-OPTION and answered the
// settings sent), OpenFailed when it never got there, with a reason that
// says which failure it was: a
// name that does not resolve, a refused connection, a timeout, a server
// that never negotiates.
//
// Once open, the line behaves like a USB port:
// - a connection that drops is reported with Lost, and the line keeps
//   trying to reconnect once a second; when the server answers again it is
//   open again and Opened is emitted once more (closeLine() or another
//   openLine() stops the attempts);
// - a server that closes the connection at once after accepting it (its
//   port busy or its device missing) is reported with Lost as such, with
//   what it said, and is not retried.
class NetworkLine : public Line
{
    Q_OBJECT
public:
    // The time a connection may take before it counts as timed out, and the
    // time an RFC 2217 server has to agree to COM-PORT-OPTION.
    static constexpr int ConnectTimeoutMs = 5000;
    static constexpr int NegotiationTimeoutMs = 5000;
    // A connection that ends within this time of being opened was closed
    // "at once" by the server.
    static constexpr int SettleMs = 1000;
    static constexpr int RetryMs = 1000;

    explicit NetworkLine(QObject *parent = nullptr);
    ~NetworkLine() override;

    bool openLine(const QString &address, const LineSettings::Settings &settings) override;
    void closeLine() override;
    bool isLineOpen() const override;
    bool isLineConnecting() const override;
    bool applySettings(const LineSettings::Settings &settings) override;
    qint64 send(const QByteArray &bytes) override;
    QString address() const override { return m_address; }
    QString openFailureReason() const override { return m_failure; }
    // RFC 2217 lines set RTS, DTR and the break state with COM-PORT-OPTION
    // SET-CONTROL; a raw line has no way to and says so.
    bool setModemLine(ModemLine line, bool on) override;
    bool sendBreak() override;
    int modemLineState(ModemLine line) const override;

    // Lost, and trying to reconnect.
    bool isReconnecting() const { return m_state == Waiting || m_state == Reconnecting; }

    // The server's answers to the settings (RFC 2217 lines only), for tests
    // and the curious.
    const TelnetCodec &telnet() const { return m_telnet; }

private:
    enum State { Closed, Connecting, Negotiating, Open, Waiting, Reconnecting };

    void connectNow();
    void onConnected();
    void onReadyRead();
    void onSocketError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void onConnectTimeout();
    void onNegotiationTimeout();
    void becomeOpen();
    void fail(const QString &reason, bool retry);
    void writeRaw(const QByteArray &bytes);
    bool refuseUnlessControllable();
    QString errorReason(QAbstractSocket::SocketError error) const;
    QString closedAtOnceReason() const;

    QTcpSocket *m_socket = nullptr;
    QTimer *m_connectTimer;
    QTimer *m_negotiationTimer;
    QTimer *m_retryTimer;
    QTimer *m_breakTimer;
    int m_modemLines[3] = {-1, -1, -1}; // by ModemLine: as last set on this connection
    State m_state = Closed;
    NetworkAddress m_target;
    QString m_address;
    QString m_failure;
    LineSettings::Settings m_settings;
    TelnetCodec m_telnet;
    QByteArray m_pending;   // sent before the line was ready
    QByteArray m_firstData; // the first bytes of a connection, for "closed at once"
    QElapsedTimer m_openedAt;
    bool m_everOpened = false; // Opened was emitted since openLine()
    // While negotiating: the count of COM-PORT-OPTION answers that means
    // the settings sent are set; -1 before they are sent.
    int m_settingsAnswered = -1;
};
