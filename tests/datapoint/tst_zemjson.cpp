// SPDX-License-Identifier: GPL-3.0-or-later
// Fetching a data-point definition over real HTTP on 127.0.0.1, caching it,
// and parsing the cache into records and layout counters.
#include "testsupport.h"

#include "base/apppaths.h"
#include "datapoint/zemjson.h"
#include "dpservice/datapointserver.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <limits>

namespace {

const QString LampKey = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");

QByteArray fixture(const QString &name)
{
    QFile f(QStringLiteral(LUMO_TEST_DATA "/") + name);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The local definition service on a free port, serving a temporary folder.
class Service
{
public:
    Service()
        : server(folder.path())
    {
        QObject::connect(&server, &DataPointServer::requestLogged,
                         [this](const QString &line) { log.append(line); });
        listening = server.listen(QHostAddress::LocalHost, 0);
    }
    void put(const QString &key, const QByteArray &body)
    {
        writeFile(folder.path() + QLatin1Char('/') + key + QStringLiteral(".json"), body);
    }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }

    QTemporaryDir folder;
    DataPointServer server;
    QStringList log;
    bool listening = false;
};

void pointAt(const QString &host)
{
    ZemTool tool;
    tool.writeSetting(SettingKeys::Environment, host);
}

// Waits until every fetch has finished, then lets queued signals arrive.
bool settle(ZemJson &json, int timeoutMs = 5000)
{
    const bool done = waitUntil([&json] { return json.pendingFetches() == 0; }, timeoutMs);
    QTest::qWait(50);
    return done;
}

QByteArray attrsDocument(const QByteArray &attrs)
{
    return "{\"entities\":[{\"id\":0,\"attrs\":[" + attrs + "]}]}";
}

} // namespace

class TestZemJson : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    // fetch
    void fetchStoresAnswerByteForByte_data();
    void fetchStoresAnswerByteForByte();
    void requestAddressIsTheServiceForm();
    void refusalLeavesCacheUntouched_data();
    void refusalLeavesCacheUntouched();
    void unusableAnswerGivesNoSignal_data();
    void unusableAnswerGivesNoSignal();
    void errorStatusDecidesOnlyWithoutErrorsKey_data();
    void errorStatusDecidesOnlyWithoutErrorsKey();
    void brokenServiceFailsWithReason_data();
    void brokenServiceFailsWithReason();
    void unwritableCacheGivesNoSuccess_data();
    void unwritableCacheGivesNoSuccess();
    void oversizedAnswerIsRejected();
    void twoFetchesInFlightEachWriteTheirOwnKey();
    void unusableKeyIsRefusedWithoutRequest_data();
    void unusableKeyIsRefusedWithoutRequest();

    // parse
    void parsesSampleLamp();
    void onlyFirstEntityIsRead();
    void countersFollowClassAndUnit();
    void missingAndOddValues_data();
    void missingAndOddValues();
    void missingCacheEmitsNothingAndEmpties();
    void invalidCacheEmitsNothingAndEmpties();
    void nonObjectCacheGivesEmptyList();
    void listOkTravelsQueued();
    void fetchThenParseEndToEnd();

private:
    std::unique_ptr<TestRoot> m_root;
};

void TestZemJson::init()
{
    m_root = std::make_unique<TestRoot>();
}

void TestZemJson::cleanup()
{
    m_root.reset();
}

void TestZemJson::fetchStoresAnswerByteForByte_data()
{
    QTest::addColumn<bool>("jsonDirExists");
    QTest::addColumn<bool>("oldCache");
    QTest::newRow("json folder present") << true << false;
    QTest::newRow("json folder missing") << false << false;
    QTest::newRow("longer old cache replaced") << true << true;
}

void TestZemJson::fetchStoresAnswerByteForByte()
{
    QFETCH(bool, jsonDirExists);
    QFETCH(bool, oldCache);
    Service service;
    QVERIFY(service.listening);
    const QByteArray body = fixture(QStringLiteral("smart-lamp.json"));
    QVERIFY(body.size() > 1000);
    service.put(LampKey, body);
    pointAt(service.host());
    if (!jsonDirExists)
        QVERIFY(QDir(AppPaths::jsonDir()).removeRecursively());
    if (oldCache)
        QVERIFY(writeFile(ZemJson::cachePath(LampKey), body + body));

    ZemJson json;
    QSignalSpy stat(&json, &ZemJson::json_stat);
    QSignalSpy listOk(&json, &ZemJson::ListOk);
    json.getJson(LampKey);
    QVERIFY(stat.wait(5000));
    QCOMPARE(stat.count(), 1);
    QCOMPARE(stat.at(0).at(0).toBool(), true);
    QCOMPARE(readFile(m_root->file(QStringLiteral("json/") + LampKey + QStringLiteral(".json"))),
             body);
    // A fetch only stores: parsing is the caller's next step.
    QCOMPARE(listOk.count(), 0);
    QVERIFY(json.jsonList().isEmpty());
    QCOMPARE(json.pendingFetches(), 0);
}

void TestZemJson::requestAddressIsTheServiceForm()
{
    Service service;
    service.put(LampKey, "{}");
    pointAt(service.host());
    ZemJson json;
    QSignalSpy stat(&json, &ZemJson::json_stat);
    json.getJson(LampKey);
    QVERIFY(stat.wait(5000));
    QCOMPARE(service.log.size(), 1);
    QVERIFY2(service.log.at(0).contains(QStringLiteral("\"GET /v2/datapoint?product_key=") + LampKey
                                        + QStringLiteral("&format=json HTTP/1.1\" 200")),
             qPrintable(service.log.at(0)));
}

void TestZemJson::refusalLeavesCacheUntouched_data()
{
    QTest::addColumn<bool>("servedAsFile");
    QTest::newRow("unknown key, service answers errors") << false;
    QTest::newRow("errors object with status 200") << true;
}

void TestZemJson::refusalLeavesCacheUntouched()
{
    QFETCH(bool, servedAsFile);
    Service service;
    const QString key = QStringLiteral("0123456789abcdef0123456789abcdef");
    if (servedAsFile)
        service.put(key, fixture(QStringLiteral("refused.json")));
    pointAt(service.host());
    const QByteArray old = "{\"entities\":[]}";
    QVERIFY(writeFile(ZemJson::cachePath(key), old));

    ZemJson json;
    QSignalSpy stat(&json, &ZemJson::json_stat);
    json.getJson(key);
    QVERIFY(stat.wait(5000));
    QCOMPARE(stat.count(), 1);
    QCOMPARE(stat.at(0).at(0).toBool(), false);
    QCOMPARE(readFile(ZemJson::cachePath(key)), old);
    QVERIFY2(
        json.lastFetchDetail().startsWith(QStringLiteral("定义服务不认识这个product_key，答复：{")),
        qPrintable(json.lastFetchDetail()));
}

void TestZemJson::unusableAnswerGivesNoSignal_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("not JSON") << QByteArray("<html>gateway error</html>");
    QTest::newRow("empty body") << QByteArray();
    QTest::newRow("array") << QByteArray("[{\"errors\":1}]");
    QTest::newRow("number") << QByteArray("42");
    QTest::newRow("truncated object") << fixture(QStringLiteral("smart-lamp.json")).left(500);
}

void TestZemJson::unusableAnswerGivesNoSignal()
{
    QFETCH(QByteArray, body);
    Service service;
    service.put(LampKey, body);
    pointAt(service.host());
    const QByteArray old = fixture(QStringLiteral("smart-lamp.json"));
    QVERIFY(writeFile(ZemJson::cachePath(LampKey), old));

    ZemJson json;
    QSignalSpy stat(&json, &ZemJson::json_stat);
    QSignalSpy failed(&json, &ZemJson::fetchFailed);
    json.getJson(LampKey);
    QVERIFY(settle(json));
    QCOMPARE(service.log.size(), 1); // the request did reach the service
    QCOMPARE(stat.count(), 0);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(readFile(ZemJson::cachePath(LampKey)), old);
}

void TestZemJson::errorStatusDecidesOnlyWithoutErrorsKey_data()
{
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("expected"); // -1: no signal, 0: false, 1: true
    QTest::newRow("502 with a JSON error page")
        << QByteArray("502 Bad Gateway") << QByteArray("{\"message\":\"upstream down\"}") << -1;
    QTest::newRow("404 with errors is a refusal")
        << QByteArray("404 Not Found") << fixture(QStringLiteral("refused.json")) << 0;
    QTest::newRow("500 with errors is a refusal")
        << QByteArray("500 Internal Server Error") << QByteArray("{\"errors\":{}}") << 0;
    QTest::newRow("203 with a definition is stored")
        << QByteArray("203 Non-Authoritative Information") << QByteArray("{\"entities\":[]}") << 1;
}

void TestZemJson::errorStatusDecidesOnlyWithoutErrorsKey()
{
    QFETCH(QByteArray, statusLine);
    QFETCH(QByteArray, body);
    QFETCH(int, expected);
    // A plain HTTP responder: any request gets this status and body.
    QTcpServer responder;
    QVERIFY(responder.listen(QHostAddress::LocalHost, 0));
    connect(&responder, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *s = responder.nextPendingConnection()) {
            connect(s, &QTcpSocket::readyRead, s, [s, statusLine, body] {
                if (!s->readAll().contains("\r\n\r\n"))
                    return;
                s->write("HTTP/1.1 " + statusLine
                         + "\r\nContent-Type: application/json\r\n"
                           "Content-Length: "
                         + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n"
                         + body);
                s->disconnectFromHost();
            });
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    pointAt(QStringLiteral("127.0.0.1:%1").arg(responder.serverPort()));
    const QByteArray old = fixture(QStringLiteral("smart-lamp.json"));
    QVERIFY(writeFile(ZemJson::cachePath(LampKey), old));

    ZemJson json;
    QSignalSpy stat(&json, &ZemJson::json_stat);
    QSignalSpy failed(&json, &ZemJson::fetchFailed);
    json.getJson(LampKey);
    QVERIFY(settle(json));
    QCOMPARE(failed.count(), expected < 0 ? 1 : 0);
    if (expected < 0) {
        QCOMPARE(stat.count(), 0);
    } else {
        QCOMPARE(stat.count(), 1);
        QCOMPARE(stat.at(0).at(0).toBool(), expected == 1);
    }
    QCOMPARE(readFile(ZemJson::cachePath(LampKey)), expected == 1 ? body : old);
}

void TestZemJson::brokenServiceFailsWithReason_data()
{
    // What the service sends once it has the request, and what it does then.
    enum Then { Nothing, Drip, Close };
    QTest::addColumn<bool>("up");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("then");
    QTest::addColumn<QString>("reason"); // a part of the reason given
    QTest::newRow("service down") << false << QByteArray() << int(Nothing) << "Connection refused";
    QTest::newRow("never answers")
        << true << QByteArray() << int(Nothing) << "0.4秒内没有给出完整答复";
    // A byte every 50 ms: never idle, never done; the deadline still ends it.
    QTest::newRow("trickles forever")
        << true << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n{") << int(Drip)
        << "0.4秒内没有给出完整答复";
    QTest::newRow("closes mid-body")
        << true << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3677\r\n\r\n{\"entities\":[")
        << int(Close) << "没有从定义服务";
}

void TestZemJson::brokenServiceFailsWithReason()
{
    QFETCH(bool, up);
    QFETCH(QByteArray, answer);
    QFETCH(int, then);
    QFETCH(QString, reason);
    QTcpServer service;
    QVERIFY(service.listen(QHostAddress::LocalHost, 0));
    pointAt(QStringLiteral("127.0.0.1:%1").arg(service.serverPort()));
    if (!up)
        service.close();
    connect(&service, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *s = service.nextPendingConnection()) // owned by the server
            connect(s, &QTcpSocket::readyRead, s, [s, answer, then] {
                if (!s->readAll().contains("\r\n\r\n"))
                    return;
                s->write(answer);
                if (then == 2)
                    s->disconnectFromHost();
                if (then == 1) {
                    auto *drip = new QTimer(s);
                    connect(drip, &QTimer::timeout, s, [s] { s->write(" "); });
                    drip->start(50);
                }
            });
    });
    const QByteArray old = fixture(QStringLiteral("smart-lamp.json"));
    QVERIFY(writeFile(ZemJson::cachePath(LampKey), old));

    ZemJson json;
    QCOMPARE(json.fetchTimeout(), 10000);
    json.setFetchTimeout(400);
    QSignalSpy stat(&json, &ZemJson::json_stat);
    QSignalSpy failed(&json, &ZemJson::fetchFailed);
    QElapsedTimer clock;
    clock.start();
    json.getJson(LampKey);
    QVERIFY(failed.wait(3000));
    QVERIFY(clock.elapsed() < 2000);
    QVERIFY(settle(json));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(stat.count(), 0);
    const QString given = failed.at(0).at(0).toString();
    QVERIFY2(given.contains(reason), qPrintable(given));
    QCOMPARE(json.lastFetchDetail(), given);
    QCOMPARE(readFile(ZemJson::cachePath(LampKey)), old);
}

void TestZemJson::unwritableCacheGivesNoSuccess_data()
{
    // Obstacles that hold for root too: permissions would not stop it.
    QTest::addColumn<bool>("jsonIsAFile");
    QTest::newRow("a folder where the cache file goes") << false;
    QTest::newRow("a file where the json folder goes") << true;
}

void TestZemJson::unwritableCacheGivesNoSuccess()
{
    QFETCH(bool, jsonIsAFile);
    Service service;
    const QByteArray body = fixture(QStringLiteral("smart-lamp.json"));
    service.put(LampKey, body);
    pointAt(service.host());
    const QString cache = ZemJson::cachePath(LampKey);
    QFile::remove(cache);
    if (jsonIsAFile) {
        QVERIFY(QDir(AppPaths::jsonDir()).removeRecursively());
        QVERIFY(writeFile(AppPaths::jsonDir(), "not a folder"));
    } else {
        QVERIFY(QDir().mkpath(cache));
    }

    ZemJson json;
    QSignalSpy stat(&json, &ZemJson::json_stat);
    QSignalSpy failed(&json, &ZemJson::fetchFailed);
    json.getJson(LampKey);
    QVERIFY(failed.wait(5000));
    QVERIFY(settle(json));
    QCOMPARE(stat.count(), 0);
    const QString given = failed.at(0).at(0).toString();
    QVERIFY2(given.startsWith(QStringLiteral("无法写入缓存文件 ") + cache), qPrintable(given));
    // The obstacle is left as it was and no stray temporary file remains.
    if (jsonIsAFile) {
        QCOMPARE(readFile(AppPaths::jsonDir()), QByteArray("not a folder"));
    } else {
        QVERIFY(QFileInfo(cache).isDir());
        QCOMPARE(QDir(AppPaths::jsonDir()).entryList(QDir::Files), QStringList());
    }
}

void TestZemJson::oversizedAnswerIsRejected()
{
    Service service;
    // A valid object, only too large.
    const QByteArray body = "{\"pad\":\"" + QByteArray(200000, 'x') + "\"}";
    service.put(LampKey, body);
    pointAt(service.host());

    ZemJson json;
    QCOMPARE(json.maxBodySize(), qint64(16 * 1024 * 1024));
    json.setMaxBodySize(64 * 1024);
    QSignalSpy stat(&json, &ZemJson::json_stat);
    json.getJson(LampKey);
    QVERIFY(settle(json));
    QCOMPARE(stat.count(), 0);
    QVERIFY(!QFile::exists(ZemJson::cachePath(LampKey)));

    // The same answer under the limit is stored.
    json.setMaxBodySize(body.size());
    json.getJson(LampKey);
    QVERIFY(stat.wait(5000));
    QCOMPARE(stat.at(0).at(0).toBool(), true);
    QCOMPARE(readFile(ZemJson::cachePath(LampKey)), body);
}

void TestZemJson::twoFetchesInFlightEachWriteTheirOwnKey()
{
    Service service;
    const QString keyA = QStringLiteral("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa");
    const QString keyB = QStringLiteral("bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb");
    const QByteArray bodyA = attrsDocument("{\"display_name\":\"A\"}");
    const QByteArray bodyB = attrsDocument("{\"display_name\":\"B\"},{\"display_name\":\"B2\"}");
    service.put(keyA, bodyA);
    service.put(keyB, bodyB);
    pointAt(service.host());

    ZemJson json;
    QSignalSpy stat(&json, &ZemJson::json_stat);
    json.getJson(keyA);
    json.getJson(keyB);
    // A parse of a third key also moves the current path before the answers.
    json.loadJson(QStringLiteral("cccccccccccccccccccccccccccccccc"));
    QCOMPARE(json.pendingFetches(), 2);
    QVERIFY(waitUntil([&] { return stat.count() == 2; }, 5000));
    QCOMPARE(stat.at(0).at(0).toBool(), true);
    QCOMPARE(stat.at(1).at(0).toBool(), true);
    QCOMPARE(readFile(ZemJson::cachePath(keyA)), bodyA);
    QCOMPARE(readFile(ZemJson::cachePath(keyB)), bodyB);
    QVERIFY(!QFile::exists(ZemJson::cachePath(QStringLiteral("cccccccccccccccccccccccccccccccc"))));
}

void TestZemJson::unusableKeyIsRefusedWithoutRequest_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("path") << QStringLiteral("../auto_analyze");
    QTest::newRow("query") << QStringLiteral("abc&format=xml");
    QTest::newRow("empty") << QString();
    QTest::newRow("blank") << QStringLiteral("abc def");
    QTest::newRow("129 characters") << QString(129, QLatin1Char('k'));
    QTest::newRow("non-ASCII letter") << QString::fromUtf8("abc\u00e9");
}

void TestZemJson::unusableKeyIsRefusedWithoutRequest()
{
    QFETCH(QString, key);
    Service service;
    pointAt(service.host());
    const QByteArray settingsBefore = readFile(AppPaths::settingsFile());
    ZemJson json;
    QSignalSpy stat(&json, &ZemJson::json_stat);
    json.getJson(key);
    QCOMPARE(stat.count(), 0); // the answer comes later, like a real fetch
    QVERIFY(stat.wait(2000));
    QCOMPARE(stat.at(0).at(0).toBool(), false);
    QTest::qWait(100);
    QVERIFY(service.log.isEmpty());
    QCOMPARE(readFile(AppPaths::settingsFile()), settingsBefore);
    QCOMPARE(QDir(AppPaths::jsonDir()).entryList(QDir::Files), QStringList());
}

void TestZemJson::parsesSampleLamp()
{
    QVERIFY(writeFile(ZemJson::cachePath(LampKey), fixture(QStringLiteral("smart-lamp.json"))));
    ZemJson json;
    QSignalSpy listOk(&json, &ZemJson::ListOk);
    json.loadJson(LampKey);
    QCOMPARE(listOk.count(), 1);
    const auto list = listOk.at(0).at(0).value<QList<json_struct>>();
    QCOMPARE(list.size(), 14);
    QCOMPARE(json.jsonList().size(), 14);
    QCOMPARE(json.jsonPath(), ZemJson::cachePath(LampKey));
    QCOMPARE(json.writableCount(), 7);
    QCOMPARE(json.writableBits(), 4);
    QCOMPARE(json.readonlyBits(), 3);
    QCOMPARE(json.alertBits(), 1);
    QCOMPARE(json.faultBits(), 2);

    const json_struct mode = list.at(1);
    QCOMPARE(mode.display_name, QStringLiteral("模式"));
    QCOMPARE(mode.name, QStringLiteral("mode"));
    QCOMPARE(mode.data_type, QStringLiteral("enum"));
    QCOMPARE(mode.unit, QStringLiteral("bit"));
    QCOMPARE(mode.len, 2);
    QCOMPARE(mode.byte_offset, 0);
    QCOMPARE(mode.bit_offset, 1);
    QCOMPARE(mode.type, QStringLiteral("status_writable"));
    QCOMPARE(mode.id, 1);
    QCOMPARE(mode.desc, QStringLiteral("照明模式"));
    QCOMPARE(mode.enum_list, (QStringList{"阅读", "护眼", "睡眠", "自动"}));

    const json_struct temp = list.at(4);
    QCOMPARE(temp.display_name, QStringLiteral("色温"));
    QCOMPARE(temp.unit, QStringLiteral("byte"));
    QCOMPARE(temp.len, 2);
    QCOMPARE(temp.byte_offset, 2);
    QCOMPARE(temp.min, 2700);
    QCOMPARE(temp.max, 6500);

    const json_struct power = list.at(13);
    QCOMPARE(power.display_name, QStringLiteral("电源故障"));
    QCOMPARE(power.type, QStringLiteral("fault"));
    QCOMPARE(power.bit_offset, 1);
    QCOMPARE(power.id, 13);
    QVERIFY(power.enum_list.isEmpty());
    QCOMPARE(power.min, 0);
    QCOMPARE(power.max, 0);
}

void TestZemJson::onlyFirstEntityIsRead()
{
    const QByteArray doc
        = "{\"entities\":["
          "{\"attrs\":[{\"display_name\":\"first\",\"type\":\"status_writable\"}]},"
          "{\"attrs\":[{\"display_name\":\"second\"},{\"display_name\":\"third\"}]}"
          "]}";
    QVERIFY(writeFile(ZemJson::cachePath(LampKey), doc));
    ZemJson json;
    json.loadJson(LampKey);
    QCOMPARE(json.jsonList().size(), 1);
    QCOMPARE(json.jsonList().at(0).display_name, QStringLiteral("first"));
    QCOMPARE(json.writableCount(), 1);
}

void TestZemJson::countersFollowClassAndUnit()
{
    const QByteArray doc
        = attrsDocument("{\"type\":\"status_writable\",\"position\":{\"unit\":\"bit\",\"len\":1}},"
                        "{\"type\":\"status_writable\",\"position\":{\"unit\":\"bit\",\"len\":2}},"
                        "{\"type\":\"status_writable\",\"position\":{\"unit\":\"byte\",\"len\":2}},"
                        "{\"type\":\"status_readonly\",\"position\":{\"unit\":\"bit\",\"len\":5}},"
                        "{\"type\":\"status_readonly\",\"position\":{\"unit\":\"Bit\",\"len\":7}},"
                        "{\"type\":\"alert\",\"position\":{\"unit\":\"bit\",\"len\":9}},"
                        "{\"type\":\"fault\",\"position\":{\"unit\":\"bit\",\"len\":3}},"
                        "{\"type\":\"fault\",\"position\":{\"unit\":\"bit\",\"len\":-4}},"
                        "{\"type\":\"Status_Writable\",\"position\":{\"unit\":\"bit\",\"len\":6}}");
    QVERIFY(writeFile(ZemJson::cachePath(LampKey), doc));
    ZemJson json;
    json.loadJson(LampKey);
    QCOMPARE(json.jsonList().size(), 9);
    QCOMPARE(json.writableCount(), 3);
    QCOMPARE(json.writableBits(), 3);
    QCOMPARE(json.readonlyBits(), 5);
    QCOMPARE(json.alertBits(), 9);
    QCOMPARE(json.faultBits(), 3); // a negative length adds nothing
}

void TestZemJson::missingAndOddValues_data()
{
    QTest::addColumn<QByteArray>("attr");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("len");
    QTest::addColumn<QString>("displayName");

    QTest::newRow("uint16 without uint_spec")
        << QByteArray("{\"id\":4,\"display_name\":\"t\",\"data_type\":\"uint16\"}") << 4 << 0 << 0
        << 0 << "t";
    QTest::newRow("id as a string of digits")
        << QByteArray("{\"id\":\"7\",\"data_type\":\"bool\"}") << 0 << 0 << 0 << 0 << "";
    QTest::newRow("id not integral") << QByteArray("{\"id\":2.5}") << 0 << 0 << 0 << 0 << "";
    QTest::newRow("uint32 bound above int clamps")
        << QByteArray(
               "{\"id\":1,\"data_type\":\"uint32\",\"uint_spec\":{\"min\":0,\"max\":4294967295}}")
        << 1 << 0 << std::numeric_limits<int>::max() << 0 << "";
    QTest::newRow("huge and negative numbers clamp") << QByteArray(
        "{\"id\":1e300,\"data_type\":\"uint8\",\"uint_spec\":{\"min\":-1e300,\"max\":-5},"
        "\"position\":{\"len\":1e20}}") << std::numeric_limits<int>::max()
                                                     << std::numeric_limits<int>::min() << -5
                                                     << std::numeric_limits<int>::max() << "";
    QTest::newRow("bool ignores uint_spec")
        << QByteArray("{\"data_type\":\"bool\",\"uint_spec\":{\"min\":3,\"max\":9}}") << 0 << 0 << 0
        << 0 << "";
    QTest::newRow("keys of the wrong kind") << QByteArray(
        "{\"display_name\":5,\"position\":[1,2],\"data_type\":\"uint8\",\"uint_spec\":\"x\"}")
                                            << 0 << 0 << 0 << 0 << "";
    QTest::newRow("attribute not an object") << QByteArray("\"loose\"") << 0 << 0 << 0 << 0 << "";
}

void TestZemJson::missingAndOddValues()
{
    QFETCH(QByteArray, attr);
    QFETCH(int, id);
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(int, len);
    QFETCH(QString, displayName);
    QVERIFY(writeFile(ZemJson::cachePath(LampKey), attrsDocument(attr)));
    ZemJson json;
    QSignalSpy listOk(&json, &ZemJson::ListOk);
    json.loadJson(LampKey);
    QCOMPARE(listOk.count(), 1);
    QCOMPARE(json.jsonList().size(), 1); // still appended
    const json_struct r = json.jsonList().at(0);
    QCOMPARE(r.id, id);
    QCOMPARE(r.min, min);
    QCOMPARE(r.max, max);
    QCOMPARE(r.len, len);
    QCOMPARE(r.display_name, displayName);
}

void TestZemJson::missingCacheEmitsNothingAndEmpties()
{
    QVERIFY(writeFile(ZemJson::cachePath(LampKey), fixture(QStringLiteral("smart-lamp.json"))));
    ZemJson json;
    json.loadJson(LampKey);
    QCOMPARE(json.jsonList().size(), 14);
    QSignalSpy listOk(&json, &ZemJson::ListOk);
    json.loadJson(QStringLiteral("ffffffffffffffffffffffffffffffff"));
    QCOMPARE(listOk.count(), 0);
    QVERIFY(json.jsonList().isEmpty());
    QCOMPARE(json.writableCount(), 0);
    QCOMPARE(json.writableBits(), 0);
    QCOMPARE(json.faultBits(), 0);
    QCOMPARE(json.jsonPath(),
             ZemJson::cachePath(QStringLiteral("ffffffffffffffffffffffffffffffff")));
}

void TestZemJson::invalidCacheEmitsNothingAndEmpties()
{
    const QString other = QStringLiteral("0000000000000000000000000000000a");
    QVERIFY(writeFile(ZemJson::cachePath(LampKey), fixture(QStringLiteral("smart-lamp.json"))));
    QVERIFY(writeFile(ZemJson::cachePath(other), "{\"entities\": [ {\"attrs\": ["));
    ZemJson json;
    json.loadJson(LampKey);
    QSignalSpy listOk(&json, &ZemJson::ListOk);
    json.loadJson(other);
    QCOMPARE(listOk.count(), 0);
    QVERIFY(json.jsonList().isEmpty());
    QCOMPARE(json.readonlyBits(), 0);
}

void TestZemJson::nonObjectCacheGivesEmptyList()
{
    QVERIFY(writeFile(ZemJson::cachePath(LampKey), "[1, 2, 3]"));
    ZemJson json;
    QSignalSpy listOk(&json, &ZemJson::ListOk);
    json.loadJson(LampKey);
    QCOMPARE(listOk.count(), 1);
    QVERIFY(listOk.at(0).at(0).value<QList<json_struct>>().isEmpty());
}

void TestZemJson::listOkTravelsQueued()
{
    QVERIFY(writeFile(ZemJson::cachePath(LampKey), fixture(QStringLiteral("smart-lamp.json"))));
    ZemJson json;
    QList<json_struct> received;
    connect(
        &json, &ZemJson::ListOk, this, [&received](QList<json_struct> list) { received = list; },
        Qt::QueuedConnection);
    json.loadJson(LampKey);
    QVERIFY(received.isEmpty());
    QVERIFY(waitUntil([&] { return !received.isEmpty(); }, 2000));
    QCOMPARE(received.size(), 14);
    QCOMPARE(received.at(6).display_name, QStringLiteral("场景数据"));
}

void TestZemJson::fetchThenParseEndToEnd()
{
    // The bundled service program, its shipped folder and the shipped sample.
    QProcess server;
    server.setProgram(QStringLiteral(LUMO_BINARY_DIR "/lumo-dpserver"));
    server.setArguments({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--folder"),
                         m_root->file(QStringLiteral("dpserver"))});
    server.start();
    QVERIFY(server.waitForStarted(5000));
    QVERIFY(waitUntil([&] { return server.canReadLine(); }, 5000));
    const QString banner = QString::fromUtf8(server.readLine());
    const QRegularExpressionMatch m
        = QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:(\\d+)")).match(banner);
    QVERIFY2(m.hasMatch(), qPrintable(banner));
    pointAt(QStringLiteral("127.0.0.1:") + m.captured(1));

    ZemJson json;
    QSignalSpy stat(&json, &ZemJson::json_stat);
    QSignalSpy listOk(&json, &ZemJson::ListOk);
    json.getJson(LampKey);
    QVERIFY(stat.wait(5000));
    QCOMPARE(stat.at(0).at(0).toBool(), true);
    json.loadJson(LampKey);
    QCOMPARE(listOk.count(), 1);
    QCOMPARE(json.jsonList().size(), 14);
    QCOMPARE(readFile(ZemJson::cachePath(LampKey)), fixture(QStringLiteral("smart-lamp.json")));

    // Unknown key: refused.
    json.getJson(QStringLiteral("1234"));
    QVERIFY(stat.wait(5000));
    QCOMPARE(stat.at(1).at(0).toBool(), false);

    // One log line per request, with the status answered.
    QByteArray out;
    QVERIFY(waitUntil(
        [&] {
            out += server.readAllStandardOutput();
            return out.count('\n') >= 2;
        },
        5000));
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).contains(" 200 3677"), lines.at(0).constData());
    QVERIFY2(lines.at(1).contains("product_key=1234&format=json HTTP/1.1\" 404"),
             lines.at(1).constData());
    server.terminate();
    QVERIFY(server.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestZemJson)
#include "tst_zemjson.moc"
