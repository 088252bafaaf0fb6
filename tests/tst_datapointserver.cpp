// The local definition service, spoken to over real sockets on 127.0.0.1.
#include "testsupport.h"

#include "datapoint/datapointserver.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

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
    waitUntil([&] {
        all += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }, timeoutMs);
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
    void oversizedHeadIsRefused();
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
    const Response r =
        exchange(m_server->serverPort(), {get("/v2/datapoint?product_key=abc123&format=json")});
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
    QTest::newRow("key climbing, unencoded") << get("/v2/datapoint?product_key=../outside") << 400
                                             << "product_key";
    QTest::newRow("key with a slash") << get("/v2/datapoint?product_key=a/b") << 400
                                      << "product_key";
    QTest::newRow("other path") << get("/v2/datapoints?product_key=abc123") << 404 << "path";
    QTest::newRow("absolute form elsewhere") << get("http://x/v2/datapoint?product_key=abc123")
                                             << 404 << "path";
    QTest::newRow("other method")
        << QByteArray("POST /v2/datapoint?product_key=abc123 HTTP/1.1\r\nContent-Length: 0\r\n\r\n")
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
    const Response r = exchange(m_server->serverPort(),
                                {"GET /v2/datapoint?product_", "key=abc123 HTTP/1.1\r\nHo",
                                 "st: x\r\n", "\r\n"});
    QCOMPARE(r.status, 200);
    QCOMPARE(r.body.size(), 3677);
}

void TestDataPointServer::oversizedHeadIsRefused()
{
    const QByteArray request = "GET /v2/datapoint?product_key=abc123 HTTP/1.1\r\nX-Pad: "
                               + QByteArray(40000, 'a') + "\r\n\r\n";
    const Response r = exchange(m_server->serverPort(), {request});
    QCOMPARE(r.status, 431);
    QVERIFY(r.closed);
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
    QVERIFY2(m_log.at(0).contains(
                 "127.0.0.1 \"GET /v2/datapoint?product_key=abc123&format=json HTTP/1.1\" 200 3677"),
             qPrintable(m_log.at(0)));
    for (const QString &line : qAsConst(m_log))
        for (const QChar c : line)
            QVERIFY2(c.unicode() >= 0x20 && c.unicode() < 0x7F, qPrintable(line));
    QVERIFY(m_log.at(1).contains("\"GET /x?[2J\" 404"));
}

QTEST_MAIN(TestDataPointServer)
#include "tst_datapointserver.moc"
