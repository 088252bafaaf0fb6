// SPDX-License-Identifier: GPL-3.0-or-later
#include "dpservice/datapointserver.h"

#include "protocol/zemproductkey.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

namespace {

constexpr int MaxHeadBytes = 16 * 1024;
constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;
const char AnsweredProperty[] = "lumoAnswered";
const char ActivityProperty[] = "lumoLastActivityMs";

QByteArray errorBody(const QString &field, const QString &reason, const QString &message)
{
    QJsonObject errors;
    errors.insert(field, QJsonArray{reason});
    QJsonObject body;
    body.insert(QStringLiteral("errors"), errors);
    body.insert(QStringLiteral("message"), message);
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Internal Server Error";
    }
}

// The request line as it goes into the log: printable ASCII only, so that a
// client cannot forge log lines, and not too long.
QString printable(const QByteArray &line)
{
    QString out;
    const int n = qMin(line.size(), 200);
    out.reserve(n);
    for (int i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(line.at(i));
        out.append(c >= 0x20 && c < 0x7F ? QLatin1Char(char(c)) : QLatin1Char('?'));
    }
    if (line.size() > n)
        out.append(QLatin1String("..."));
    return out;
}

int headEnd(const QByteArray &bytes)
{
    const int crlf = bytes.indexOf("\r\n\r\n");
    const int lf = bytes.indexOf("\n\n");
    if (crlf < 0)
        return lf;
    if (lf < 0)
        return crlf;
    return qMin(crlf, lf);
}

} // namespace

DataPointServer::DataPointServer(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_folder(folder)
{
    connect(m_server, &QTcpServer::newConnection, this, &DataPointServer::onNewConnection);
    m_clock.start();
}

bool DataPointServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

quint16 DataPointServer::serverPort() const
{
    return m_server->serverPort();
}

QString DataPointServer::errorString() const
{
    return m_server->errorString();
}

void DataPointServer::startIdleTimer(QTcpSocket *socket)
{
    auto *idle = new QTimer(socket);
    idle->setSingleShot(true);
    // Silent clients, and clients that never read their answer, are cut.
    connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
    idle->start(m_idleTimeoutMs);
}

void DataPointServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // An answered socket reads and drops what still comes, so that its
        // answer is not cut short by a reset.
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            touch(socket);
            onReadyRead(socket);
        });
        startIdleTimer(socket);
        if (m_openConnections >= m_maxConnections)
            evictLongestIdle();
        if (m_openConnections >= m_maxConnections) {
            // Answered before its request is read: the request line is not
            // known, and waiting for it would hold the socket just as long.
            send(socket, "-", false, 503,
                 errorBody(QStringLiteral("connection"), QStringLiteral("too many connections"),
                           QStringLiteral("service busy")));
            continue;
        }
        ++m_openConnections;
        m_served.append(socket);
        touch(socket);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { release(socket); });
        connect(socket, &QObject::destroyed, this, [this, socket] { release(socket); });
        // Saying what it wants takes a client one line; one that has not
        // done so by now only holds a place.
        QTimer::singleShot(RequestLineTimeoutMs, socket, [socket] {
            if (!socket->property(AnsweredProperty).toBool()
                && !socket->peek(MaxHeadBytes + 4).contains('\n'))
                socket->abort();
        });
        onReadyRead(socket); // bytes may already be waiting
    }
}

void DataPointServer::touch(QTcpSocket *socket)
{
    socket->setProperty(ActivityProperty, m_clock.elapsed());
}

void DataPointServer::release(QTcpSocket *socket)
{
    if (m_served.removeOne(socket))
        --m_openConnections;
}

bool DataPointServer::evictLongestIdle()
{
    QTcpSocket *victim = nullptr;
    qint64 oldest = 0;
    for (QTcpSocket *s : qAsConst(m_served)) {
        const qint64 at = s->property(ActivityProperty).toLongLong();
        if (!victim || at < oldest) {
            victim = s;
            oldest = at;
        }
    }
    if (!victim || m_clock.elapsed() - oldest < EvictableIdleMs)
        return false; // every place is in use
    release(victim);
    victim->abort();
    return true;
}

void DataPointServer::onReadyRead(QTcpSocket *socket)
{
    if (socket->property(AnsweredProperty).toBool()) {
        socket->readAll(); // one request per connection; the rest is ignored
        return;
    }
    const QByteArray head = socket->peek(MaxHeadBytes + 4);
    const int end = headEnd(head);
    if (end < 0) {
        if (head.size() > MaxHeadBytes) {
            // The log shows the request line, or the start of the head when
            // the line alone is too long (the log line bounds it).
            const int lineEnd = head.indexOf('\n');
            const QByteArray start = lineEnd < 0 ? head : head.left(lineEnd);
            send(socket, start.trimmed(), false, 431,
                 errorBody(QStringLiteral("request"), QStringLiteral("head too large"),
                           QStringLiteral("bad request")));
        }
        return;
    }
    socket->read(end);
    const int lineEnd = head.indexOf('\n');
    answer(socket, head.left(lineEnd).trimmed());
}

void DataPointServer::answer(QTcpSocket *socket, const QByteArray &requestLine)
{
    const QList<QByteArray> parts = requestLine.split(' ');
    const QByteArray method = parts.value(0);
    const QByteArray target = parts.value(1);
    const bool head = method == "HEAD";
    if (method != "GET" && !head) {
        send(socket, requestLine, false, 405,
             errorBody(QStringLiteral("method"), QStringLiteral("only GET is served"),
                       QStringLiteral("method not allowed")));
        return;
    }

    const QUrl url(QStringLiteral("http://localhost") + QString::fromLatin1(target));
    if (!target.startsWith('/') || !url.isValid() || url.path() != QLatin1String("/v2/datapoint")) {
        send(socket, requestLine, head, 404,
             errorBody(QStringLiteral("path"), QStringLiteral("not found"),
                       QStringLiteral("not found")));
        return;
    }

    const QString key = QUrlQuery(url).queryItemValue(QStringLiteral("product_key"));
    if (!ZemProductKey::isUsableKey(key)) {
        send(socket, requestLine, head, 400,
             errorBody(QStringLiteral("product_key"), QStringLiteral("missing or malformed"),
                       QStringLiteral("bad product key")));
        return;
    }

    QFile file(m_folder + QLatin1Char('/') + key + QStringLiteral(".json"));
    if (!file.exists()) {
        send(socket, requestLine, head, 404,
             errorBody(QStringLiteral("product_key"), QStringLiteral("unknown product key"),
                       QStringLiteral("product not found")));
        return;
    }
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxFileBytes) {
        send(socket, requestLine, head, 500,
             errorBody(QStringLiteral("product_key"), QStringLiteral("definition unreadable"),
                       QStringLiteral("server error")));
        return;
    }
    send(socket, requestLine, head, 200, file.readAll());
}

void DataPointServer::send(QTcpSocket *socket, const QByteArray &requestLine, bool head, int status,
                           const QByteArray &body)
{
    socket->setProperty(AnsweredProperty, true);
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
        + "\r\nContent-Type: application/json; charset=utf-8" + "\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    if (!head)
        response += body;

    const QString line
        = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
        + QLatin1Char(' ') + socket->peerAddress().toString() + QStringLiteral(" \"")
        + printable(requestLine) + QStringLiteral("\" ") + QString::number(status)
        + QLatin1Char(' ') + QString::number(head ? 0 : body.size());

    // The answer gets a fresh idle period to drain.
    if (auto *idle = socket->findChild<QTimer *>())
        idle->start(m_idleTimeoutMs);
    socket->write(response);
    socket->disconnectFromHost();
    emit requestLogged(line);
}
