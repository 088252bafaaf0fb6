// SPDX-License-Identifier: GPL-3.0-or-later
// The local definition service, spoken to over real sockets on 127.0.0.1.
#include "testsupport.h"

#include "dpservice/datapointserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

struct Response
{
    int status = 0;
    QByteArray head;
    QByteArray body;
    bool closed = false;
};

// Sends the request (in pieces, with pauses, when given several) and reads
// until the server closes the connection.
Response exchange(quint16 port, const QList<QByteArray> &pieces, int timeoutMs = 3000)
{
    Response r;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return r;
    for (const QByteArray &piece : pieces) {
        socket.write(piece);
        socket.flush();
        QTest::qWait(30);
    }
    QByteArray all;
    waitUntil(
        [&] {
            all += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
    all += socket.readAll();
    r.closed = socket.state() == QAbstractSocket::UnconnectedState;
    const int split = all.indexOf("\r\n\r\n");
    if (split < 0)
        return r;
    r.head = all.left(split);
    r.body = all.mid(split + 4);
    r.status = all.mid(9, 3).toInt();
    return r;
}

QByteArray get(const QByteArray &target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

} // namespace

class TestDataPointServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void servesTheFileOfTheKey();
    void refusals_data();
    void refusals();
    void requestInPieces();
    void oversizedHeadIsRefused_data();
    void oversizedHeadIsRefused();
    void connectionsBeyondTheCapAreRefused();
    void idleSocketsCannotLockOthersOut();
    void programCapsConnections();
    void silentClientIsDropped();
    void logLineIsOneLineOfPrintableText();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<DataPointServer> m_server;
    QStringList m_log;
};

void TestDataPointServer::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    // Served: <tmp>/served; beside it <tmp>/outside.json, which no request
    // may reach.
    QVERIFY(QDir(m_folder->path()).mkpath(QStringLiteral("served")));
    QVERIFY(QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                        m_folder->filePath(QStringLiteral("served/abc123.json"))));
    QVERIFY(QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                        m_folder->filePath(QStringLiteral("outside.json"))));
    m_server = std::make_unique<DataPointServer>(m_folder->filePath(QStringLiteral("served")));
    m_log.clear();
    connect(m_server.get(), &DataPointServer::requestLogged,
            [this](const QString &line) { m_log.append(line); });
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
}

void TestDataPointServer::cleanup()
{
    m_server.reset();
    m_folder.reset();
}

void TestDataPointServer::servesTheFileOfTheKey()
{
    const Response r
        = exchange(m_server->serverPort(), {get("/v2/datapoint?product_key=abc123&format=json")});
    QCOMPARE(r.status, 200);
    QFile f(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(r.body, f.readAll());
    QVERIFY(r.head.contains("Content-Length: 3677"));
    QVERIFY(r.head.contains("Connection: close"));
    QVERIFY(r.closed);
    QCOMPARE(m_log.size(), 1);
}

void TestDataPointServer::refusals_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("field");
    QTest::newRow("unknown key") << get("/v2/datapoint?product_key=ABC123&format=json") << 404
                                 << "product_key";
    QTest::newRow("no key") << get("/v2/datapoint?format=json") << 400 << "product_key";
    QTest::newRow("key climbing out of the folder")
        << get("/v2/datapoint?product_key=..%2Foutside&format=json") << 400 << "product_key";
    QTest::newRow("key climbing, unencoded")
        << get("/v2/datapoint?product_key=../outside") << 400 << "product_key";
    QTest::newRow("key with a slash")
        << get("/v2/datapoint?product_key=a/b") << 400 << "product_key";
    // Keys of any length up to 128 letters and digits are looked up.
    QTest::newRow("longest key, looked up")
        << get("/v2/datapoint?product_key=" + QByteArray(128, 'k')) << 404 << "product_key";
    QTest::newRow("key of 129 characters")
        << get("/v2/datapoint?product_key=" + QByteArray(129, 'k')) << 400 << "product_key";
    QTest::newRow("key with a non-ASCII letter")
        << get("/v2/datapoint?product_key=abc%C3%A9") << 400 << "product_key";
    QTest::newRow("other path") << get("/v2/datapoints?product_key=abc123") << 404 << "path";
    QTest::newRow("absolute form elsewhere")
        << get("http://x/v2/datapoint?product_key=abc123") << 404 << "path";
    QTest::newRow("other method") << QByteArray(
        "POST /v2/datapoint?product_key=abc123 HTTP/1.1\r\nContent-Length: 0\r\n\r\n")
                                  << 405 << "method";
    QTest::newRow("garbage line") << QByteArray("\x01\x02\xFF\r\n\r\n") << 405 << "method";
}

void TestDataPointServer::refusals()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QString, field);
    const Response r = exchange(m_server->serverPort(), {request});
    QCOMPARE(r.status, status);
    const QJsonObject answer = QJsonDocument::fromJson(r.body).object();
    QVERIFY2(answer.value("errors").toObject().contains(field), r.body.constData());
    QVERIFY(r.closed);
    QCOMPARE(m_log.size(), 1);
}

void TestDataPointServer::requestInPieces()
{
    const Response r = exchange(
        m_server->serverPort(),
        {"GET /v2/datapoint?product_", "key=abc123 HTTP/1.1\r\nHo", "st: x\r\n", "\r\n"});
    QCOMPARE(r.status, 200);
    QCOMPARE(r.body.size(), 3677);
}

void TestDataPointServer::oversizedHeadIsRefused_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("logged"); // the request as the log line shows it
    QTest::newRow("long header line") << "GET /v2/datapoint?product_key=abc123 HTTP/1.1\r\nX-Pad: "
            + QByteArray(40000, 'a') + "\r\n\r\n"
                                      << "\"GET /v2/datapoint?product_key=abc123 HTTP/1.1\" 431";
    // No line end at all: the start of the head, bounded.
    QTest::newRow("endless request line")
        << "GET /" + QByteArray(40000, 'b') << "\"GET /" + QString(195, 'b') + "...\" 431";
}

void TestDataPointServer::oversizedHeadIsRefused()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, logged);
    const Response r = exchange(m_server->serverPort(), {request});
    QCOMPARE(r.status, 431);
    QVERIFY(r.closed);
    QCOMPARE(m_log.size(), 1);
    QVERIFY2(m_log.at(0).contains(logged + QLatin1Char(' ')), qPrintable(m_log.at(0)));
}

void TestDataPointServer::connectionsBeyondTheCapAreRefused()
{
    m_server->setMaxConnections(2);
    m_server->setIdleTimeout(2000);
    const quint16 port = m_server->serverPort();
    // Two clients hold their connections open without a word.
    QTcpSocket silent1, silent2;
    for (QTcpSocket *s : {&silent1, &silent2}) {
        s->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(s->waitForConnected(3000));
    }
    QVERIFY(waitUntil([&] { return m_server->openConnections() == 2; }));

    // A third is answered at once, not after the silent ones time out.
    QElapsedTimer clock;
    clock.start();
    Response r = exchange(port, {get("/v2/datapoint?product_key=abc123&format=json")});
    QCOMPARE(r.status, 503);
    QVERIFY(r.closed);
    QVERIFY(clock.elapsed() < 1500);
    QVERIFY(
        QJsonDocument::fromJson(r.body).object().value("errors").toObject().contains("connection"));
    QCOMPARE(m_server->openConnections(), 2);
    QCOMPARE(m_log.size(), 1);
    QVERIFY2(m_log.at(0).contains("127.0.0.1 \"-\" 503 "), qPrintable(m_log.at(0)));

    // A client that leaves frees its place at once.
    silent1.disconnectFromHost();
    QVERIFY(waitUntil([&] { return m_server->openConnections() == 1; }));
    r = exchange(port, {get("/v2/datapoint?product_key=abc123&format=json")});
    QCOMPARE(r.status, 200);

    // One cut for its silence frees its place too.
    QVERIFY(waitUntil([&] { return m_server->openConnections() == 0; }, 5000));
    QCOMPARE(silent2.state(), QAbstractSocket::UnconnectedState);
}

void TestDataPointServer::idleSocketsCannotLockOthersOut()
{
    const quint16 port = m_server->serverPort();
    // Every place held by a client that connects and says nothing.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < DataPointServer::DefaultMaxConnections; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(idle.back()->waitForConnected(3000));
    }
    QVERIFY(waitUntil(
        [&] { return m_server->openConnections() == DataPointServer::DefaultMaxConnections; }));
    QTest::qWait(DataPointServer::EvictableIdleMs + 100);

    // A good request takes the longest-idle place at once.
    QElapsedTimer clock;
    clock.start();
    const Response r = exchange(port, {get("/v2/datapoint?product_key=abc123&format=json")});
    QCOMPARE(r.status, 200);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    // The silent ones are cut once they failed to send a request line in time.
    QVERIFY(waitUntil([&] { return m_server->openConnections() == 0; }, 4000));
}

void TestDataPointServer::programCapsConnections()
{
    QProcess server;
    server.setProgram(QStringLiteral(LUMO_BINARY_DIR "/lumo-dpserver"));
    server.setArguments({"--port", "0", "--max-connections", "1", "--folder",
                         m_folder->filePath(QStringLiteral("served"))});
    server.start();
    QVERIFY(server.waitForStarted(5000));
    QByteArray out;
    QVERIFY(waitUntil(
        [&] {
            out += server.readAllStandardOutput();
            return out.contains('\n');
        },
        5000));
    const QRegularExpressionMatch m
        = QRegularExpression(QStringLiteral("http://127\\.0\\.0\\.1:(\\d+)/"))
              .match(QString::fromLatin1(out));
    QVERIFY2(m.hasMatch(), out.constData());
    const quint16 port = quint16(m.captured(1).toUInt());

    QTcpSocket holder;
    holder.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(holder.waitForConnected(3000));
    QTest::qWait(100); // the server takes the connection first
    QCOMPARE(exchange(port, {get("/v2/datapoint?product_key=abc123")}).status, 503);
    holder.abort();
    QVERIFY(waitUntil(
        [&] { return exchange(port, {get("/v2/datapoint?product_key=abc123")}).status == 200; },
        5000));
    QVERIFY(waitUntil([&] {
        out += server.readAllStandardOutput();
        return out.contains(" 200 3677");
    }));
    QVERIFY2(out.contains("\"-\" 503"), out.constData());
    server.kill();
    server.waitForFinished(3000);

    // A count the server cannot honour is refused at start.
    QProcess bad;
    bad.start(QStringLiteral(LUMO_BINARY_DIR "/lumo-dpserver"),
              {"--port", "0", "--max-connections", "0"});
    QVERIFY(bad.waitForFinished(5000));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(bad.readAllStandardError().contains("not a connection count"));
}

void TestDataPointServer::silentClientIsDropped()
{
    m_server->setIdleTimeout(200);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    QVERIFY(socket.waitForConnected(3000));
    socket.write("GET /v2/datapoint?product_key=abc123 HTTP/1.1\r\n"); // head never ends
    QVERIFY(waitUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 3000));
    QVERIFY(m_log.isEmpty());
}

void TestDataPointServer::logLineIsOneLineOfPrintableText()
{
    exchange(m_server->serverPort(), {get("/v2/datapoint?product_key=abc123&format=json")});
    exchange(m_server->serverPort(), {"GET /x\x1b[2J\n HTTP/1.1\r\n\r\n"});
    QCOMPARE(m_log.size(), 2);
    QVERIFY2(
        m_log.at(0).contains(
            "127.0.0.1 \"GET /v2/datapoint?product_key=abc123&format=json HTTP/1.1\" 200 3677"),
        qPrintable(m_log.at(0)));
    for (const QString &line : qAsConst(m_log))
        for (const QChar c : line)
            QVERIFY2(c.unicode() >= 0x20 && c.unicode() < 0x7F, qPrintable(line));
    QVERIFY(m_log.at(1).contains("\"GET /x?[2J\" 404"));
}

QTEST_GUILESS_MAIN(TestDataPointServer)
#include "tst_datapointserver.moc"
