// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

// A small local definition service: answers
//   GET /v2/datapoint?product_key=KEY&format=json
// with the file KEY.json of its folder, byte for byte, so that the program
// can fetch data-point definitions without a cloud account. An unknown key
// gets an object with "errors" (status 404), as the real service answers.
//
// One request per connection (the answer says "Connection: close"). Request
// heads above 16 KiB and connections that stay silent are dropped; the key
// must be letters and digits, so a request can only read KEY.json files of
// the folder. At most maxConnections() connections are served at once. No
// client can hold a place without using it: a connection that has not sent
// a whole request line within about 2 s is closed, and when every place is
// taken, the one idle longest (silent for half a second at least) is closed
// to admit the newcomer. Only when all are busy is the newcomer answered 503
// at once. So a client holding many sockets open cannot lock anyone out.
// Each answer is reported as one log line.
class DataPointServer : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 DefaultPort = 8086;
    static constexpr int DefaultMaxConnections = 32;
    // A client must have sent its whole request line within this.
    static constexpr int RequestLineTimeoutMs = 2000;
    // A place whose client is silent this long may go to a newcomer.
    static constexpr int EvictableIdleMs = 500;

    explicit DataPointServer(const QString &folder, QObject *parent = nullptr);

    // Listens on address:port (port 0 picks a free one).
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = DefaultPort);
    quint16 serverPort() const;
    QString errorString() const;
    QString folder() const { return m_folder; }

    // A connection that has not sent a whole request head after this long is
    // closed (default 10 s).
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }

    // Connections served at once (at least 1; default 32).
    void setMaxConnections(int count) { m_maxConnections = qMax(1, count); }
    int maxConnections() const { return m_maxConnections; }
    // Connections being served now (refused ones are not counted).
    int openConnections() const { return m_openConnections; }

signals:
    // One line per request: time, peer, request line, status, body bytes.
    void requestLogged(const QString &line);

private:
    void onNewConnection();
    void startIdleTimer(QTcpSocket *socket);
    void touch(QTcpSocket *socket);
    void release(QTcpSocket *socket);
    bool evictLongestIdle();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &requestLine);
    void send(QTcpSocket *socket, const QByteArray &requestLine, bool head, int status,
              const QByteArray &body);

    QTcpServer *m_server;
    QString m_folder;
    int m_idleTimeoutMs = 10000;
    int m_maxConnections = DefaultMaxConnections;
    int m_openConnections = 0;
    QList<QTcpSocket *> m_served; // the connections holding a place
    QElapsedTimer m_clock;        // for the time of each client's last bytes
};
