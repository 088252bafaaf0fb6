// SPDX-License-Identifier: GPL-3.0-or-later
// The one definition store: cache first, the service when asked or when the
// cache lacks a key, and a clear answer for every broken case.
#include "datapoint/definitionstore.h"
#include "datapoint/zemjson.h"
#include "dpservice/datapointserver.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "testsupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString Key = QStringLiteral("aaaabbbbccccddddeeeeffff00001111");
const QByteArray Lamp = "{\"entities\":[{\"id\":0,\"attrs\":[{\"display_name\":\"开关\",\"name\":"
                        "\"switch\",\"type\":\"status_writable\",\"data_type\":\"bool\","
                        "\"position\":{\"byte_offset\":0,\"unit\":\"bit\",\"len\":1,\"bit_"
                        "offset\":0},\"id\":0}]}]}";

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}
} // namespace

class TestDefinitionStore : public QObject
{
    Q_OBJECT
private slots:
    void loadsTheCacheOrSaysWhy_data()
    {
        QTest::addColumn<QByteArray>("file"); // empty: no file at all
        QTest::addColumn<bool>("usable");
        QTest::addColumn<int>("records");
        QTest::newRow("definition") << Lamp << true << 1;
        QTest::newRow("not an object") << QByteArray("[1,2]") << true << 0;
        QTest::newRow("not json") << QByteArray("{\"entities\":[") << false << 0;
        QTest::newRow("missing") << QByteArray() << false << 0;
    }
    void loadsTheCacheOrSaysWhy()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, usable);
        QFETCH(int, records);
        TestRoot root;
        ZemTool settings;
        DefinitionStore store(&settings);
        if (!file.isEmpty())
            writeFile(ZemJson::cachePath(Key), file);
        DataPointDefinition definition;
        QString problem;
        QCOMPARE(store.load(Key, &definition, &problem), usable);
        QCOMPARE(definition.records().size(), records);
        QCOMPARE(problem.isEmpty(), usable);
        QCOMPARE(store.cachedKeys().contains(Key), !file.isEmpty());
        QVERIFY(!store.load(QStringLiteral("../settings"), &definition, &problem));
    }

    // obtain() answers from the cache without the service; a key the cache
    // lacks is fetched from the service, stored, then parsed; the service's
    // refusal and its absence are told apart.
    void obtainsFromCacheOrService()
    {
        TestRoot root;
        QTemporaryDir served;
        writeFile(served.path() + QLatin1Char('/') + Key + QStringLiteral(".json"), Lamp);
        DataPointServer server(served.path());
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        ZemTool settings;
        settings.writeSetting(SettingKeys::Environment,
                              QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
        DefinitionStore store(&settings);
        QSignalSpy ready(&store, &DefinitionStore::ready);
        QSignalSpy failed(&store, &DefinitionStore::failed);

        store.obtain(Key); // not cached: fetched
        QVERIFY(ready.wait(5000));
        QCOMPARE(ready.at(0).at(0).toString(), Key);
        QVERIFY(store.isCached(Key));

        // Port 1 on the loopback: nothing listens, the connection is refused.
        settings.writeSetting(SettingKeys::Environment, QStringLiteral("127.0.0.1:1"));
        store.obtain(Key); // cached: the absent service is not asked
        QVERIFY(ready.wait(2000));
        QCOMPARE(ready.at(1).at(1).value<DataPointDefinition>().records().size(), 1);

        store.fetch(Key); // asked anyway: no service
        QVERIFY(failed.wait(15000));
        QCOMPARE(failed.at(0).at(2).toBool(), false);

        settings.writeSetting(SettingKeys::Environment,
                              QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
        const QString unknown = QStringLiteral("0000000000000000000000000000dead");
        store.obtain(unknown); // the service does not know it
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.at(1).at(0).toString(), unknown);
        QCOMPARE(failed.at(1).at(2).toBool(), true);
        QVERIFY(!store.isCached(unknown));
        QCOMPARE(ready.size(), 2);
        QVERIFY(!store.busy());
    }
};

QTEST_GUILESS_MAIN(TestDefinitionStore)
#include "tst_definitionstore.moc"
