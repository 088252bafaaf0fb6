// SPDX-License-Identifier: GPL-3.0-or-later
// The frame describer: twelve texts for any byte string from the log.
#include "testsupport.h"

#include "engine/zemanalyze.h"
#include "engine/zemdescriber.h"
#include "protocol/zemtool.h"

#include <QHash>
#include <QRandomGenerator>
#include <QtTest>

namespace {

// Every key answers with its own name in angle brackets, so a test sees
// which key a field was taken from.
QString echo(const QString &key)
{
    return QLatin1Char('<') + key + QLatin1Char('>');
}

QStringList describe(const QByteArray &frame)
{
    return ZemDescriber::describe(frame, echo);
}

namespace F = ZemDescriber;

} // namespace

class TestFrameDescriber : public QObject
{
    Q_OBJECT
private slots:
    void wifiStatusExample();
    void networkTimeExample();
    void descriptionKeys_data();
    void descriptionKeys();
    void numericFields_data();
    void numericFields();
    void commandSpecificFields();
    void everyPrefixOfAFrame_data();
    void everyPrefixOfAFrame();
    void randomBytesAlwaysGiveTwelveTexts();
    void shippedTextsThroughTheResponder();
};

void TestFrameDescriber::wifiStatusExample()
{
    const QStringList t = describe(makeFrame(0x0D, 0x04, hex("0B 21")));
    QCOMPARE(t.size(), 12);
    QCOMPARE(t.at(F::Description), QStringLiteral("<cmd/0D>"));
    QCOMPARE(t.at(F::Signal), QStringLiteral("03"));
    QCOMPARE(t.at(F::HasConnect), QStringLiteral("<hasconnect/01>"));
    QCOMPARE(t.at(F::Connect), QStringLiteral("<connect/02>"));
    QCOMPARE(t.at(F::WifiState), QStringLiteral("<wifistate/01>"));
    QCOMPARE(t.at(F::SetMode), QString());
    QCOMPARE(t.at(F::ProductKey), QString());
    QCOMPARE(t.at(F::Time), QString());

    // Upper-case key digits, the other bits ignored.
    const QStringList u = describe(makeFrame(0x0D, 0, hex("F6 AF")));
    QCOMPARE(u.at(F::Signal), QStringLiteral("06"));
    QCOMPARE(u.at(F::HasConnect), QStringLiteral("<hasconnect/00>"));
    QCOMPARE(u.at(F::Connect), QStringLiteral("<connect/0A>"));
    QCOMPARE(u.at(F::WifiState), QStringLiteral("<wifistate/0F>"));
}

void TestFrameDescriber::networkTimeExample()
{
    const QStringList t = describe(makeFrame(0x18, 1, hex("07 E2 0C 1F 17 3B 3A")));
    QCOMPARE(t.at(F::Time), QStringLiteral("2018年12月31日23时59分58秒"));
    QCOMPARE(t.at(F::Description), QStringLiteral("<cmd/18>"));
    QCOMPARE(t.at(F::Signal), QString());
    // Every byte at its largest.
    QCOMPARE(describe(makeFrame(0x18, 1, hex("FF FF FF FF FF FF FF"))).at(F::Time),
             QStringLiteral("65535年255月255日255时255分255秒"));
}

void TestFrameDescriber::descriptionKeys_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("key");
    for (int c = 0x01; c <= 0x20; ++c) {
        if (c == 0x03 || c == 0x04)
            continue;
        const QString k = QString::asprintf("cmd/%02X", c);
        QTest::newRow(qPrintable(k)) << makeFrame(c, 1) << k;
    }
    QTest::newRow("03 control") << makeFrame(0x03, 1, hex("01 01 01")) << "cmd/0301";
    QTest::newRow("03 status read") << makeFrame(0x03, 1, hex("02")) << "cmd/0302";
    QTest::newRow("03 other action") << makeFrame(0x03, 1, hex("07")) << "cmd/03";
    QTest::newRow("03 without action byte") << hex("FF FF 00 05 03 00 00 00") << "cmd/03";
    QTest::newRow("04 acknowledgement") << makeFrame(0x04, 1) << "cmd/0404";
    QTest::newRow("04 status") << makeFrame(0x04, 1, hex("03 00 01")) << "cmd/0403";
    QTest::newRow("04 odd length") << hex("FF FF 01 05 04 00") << "cmd/0403";
    QTest::newRow("00") << makeFrame(0x00, 1) << "";
    QTest::newRow("21") << makeFrame(0x21, 1) << "";
    QTest::newRow("FF") << makeFrame(0xFF, 1) << "";
    QTest::newRow("no command byte") << hex("FF FF 00 05") << "";
    QTest::newRow("empty") << QByteArray() << "";
}

void TestFrameDescriber::descriptionKeys()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, key);
    QCOMPARE(ZemDescriber::descriptionKey(frame), key);
    QCOMPARE(describe(frame).at(F::Description), key.isEmpty() ? QString() : echo(key));
}

void TestFrameDescriber::numericFields_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("length");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("sequence");
    QTest::addColumn<QString>("checksum");
    QTest::newRow("heartbeat reply") << hex("FF FF 00 05 08 07 00 00 14") << "05"
                                     << "08"
                                     << "07"
                                     << "14";
    // The checksum shown is the one the frame should carry; a whole frame
    // that carries another one shows that too.
    QTest::newRow("wrong checksum byte") << hex("FF FF 00 05 08 07 00 00 99") << "05"
                                         << "08"
                                         << "07"
                                         << "14（帧中99）";
    QTest::newRow("wrong checksum FF, payload") << hex("FF FF 00 07 0D 01 00 00 0B 21 FF") << "07"
                                                << "0d"
                                                << "01"
                                                << "41（帧中ff）";
    // Lines that are not one whole frame have no checksum byte of their own.
    QTest::newRow("longer than its length") << hex("FF FF 00 05 08 07 00 00 14 AA") << "05"
                                            << "08"
                                            << "07"
                                            << "28";
    QTest::newRow("shorter than its length") << hex("FF FF 00 06 08 07 00 00 99") << "06"
                                             << "08"
                                             << "07"
                                             << "15";
    QTest::newRow("lower-case hex") << hex("FF FF 00 4F 0E AB 00 00 00") << "4f"
                                    << "0e"
                                    << "ab"
                                    << "08";
    QTest::newRow("length over one byte") << hex("FF FF 01 05 0E AB 00 00 00") << "105"
                                          << "0e"
                                          << "ab"
                                          << "bf";
    QTest::newRow("length only") << hex("FF FF 00 05") << "05"
                                 << ""
                                 << ""
                                 << "";
    // The last byte is taken as the checksum whatever the line holds.
    QTest::newRow("up to the command") << hex("FF FF 00 05 07") << "05"
                                       << "07"
                                       << ""
                                       << "05";
    QTest::newRow("three bytes") << hex("FF FF 00") << ""
                                 << ""
                                 << ""
                                 << "";
}

void TestFrameDescriber::numericFields()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, length);
    QFETCH(QString, command);
    QFETCH(QString, sequence);
    QFETCH(QString, checksum);
    const QStringList t = describe(frame);
    QCOMPARE(t.at(F::Length), length);
    QCOMPARE(t.at(F::Command), command);
    QCOMPARE(t.at(F::Sequence), sequence);
    QCOMPARE(t.at(F::Checksum), checksum);
    QCOMPARE(ZemDescriber::hasWrongChecksum(frame), checksum.contains(QStringLiteral("帧中")));
}

void TestFrameDescriber::commandSpecificFields()
{
    QCOMPARE(describe(makeFrame(0x09, 1, hex("01"))).at(F::SetMode),
             QStringLiteral("<setmode/01>"));
    QCOMPARE(describe(makeFrame(0x09, 1, hex("02"))).at(F::SetMode),
             QStringLiteral("<setmode/02>"));
    QCOMPARE(describe(makeFrame(0x09, 1, hex("03"))).at(F::SetMode), QString());
    QCOMPARE(describe(makeFrame(0x02, 1)).at(F::ProductKey), QStringLiteral("<product_key/key>"));

    // Each field belongs to its command only.
    const QByteArray payload = hex("01 21 07 E2 0C 1F 17 3B 3A");
    for (int c = 0; c < 256; ++c) {
        const QStringList t = describe(makeFrame(c, 1, payload));
        QCOMPARE(t.size(), 12);
        QCOMPARE(t.at(F::SetMode).isEmpty(), c != 0x09);
        QCOMPARE(t.at(F::Connect).isEmpty(), c != 0x0D);
        QCOMPARE(t.at(F::WifiState).isEmpty(), c != 0x0D);
        QCOMPARE(t.at(F::Signal).isEmpty(), c != 0x0D);
        QCOMPARE(t.at(F::HasConnect).isEmpty(), c != 0x0D);
        QCOMPARE(t.at(F::ProductKey).isEmpty(), c != 0x02);
        QCOMPARE(t.at(F::Time).isEmpty(), c != 0x18);
        QCOMPARE(t.at(F::Description).isEmpty(), c < 0x01 || c > 0x20);
    }
}

void TestFrameDescriber::everyPrefixOfAFrame_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("needs"); // bytes the field needs
    const QByteArray wifi = makeFrame(0x0D, 1, hex("0B 21"));
    const QByteArray time = makeFrame(0x18, 1, hex("07 E2 0C 1F 17 3B 3A"));
    QTest::newRow("signal") << wifi << int(F::Signal) << 9;
    QTest::newRow("app connected") << wifi << int(F::HasConnect) << 9;
    QTest::newRow("connection") << wifi << int(F::Connect) << 10;
    QTest::newRow("wifi state") << wifi << int(F::WifiState) << 10;
    QTest::newRow("time") << time << int(F::Time) << 15;
    QTest::newRow("set mode") << makeFrame(0x09, 1, hex("02")) << int(F::SetMode) << 9;
    QTest::newRow("control key") << makeFrame(0x03, 1, hex("01")) << int(F::Description) << 5;
    QTest::newRow("length") << time << int(F::Length) << 4;
    QTest::newRow("sequence") << time << int(F::Sequence) << 6;
}

void TestFrameDescriber::everyPrefixOfAFrame()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, field);
    QFETCH(int, needs);
    for (int n = 0; n <= frame.size(); ++n) {
        // A copy of exactly n bytes, so that the sanitizers see any read past it.
        const QByteArray prefix(frame.constData(), n);
        const QStringList t = describe(prefix);
        QCOMPARE(t.size(), 12);
        QVERIFY2(t.at(field).isEmpty() == (n < needs), qPrintable(QString::number(n)));
    }
}

void TestFrameDescriber::randomBytesAlwaysGiveTwelveTexts()
{
    QRandomGenerator rng(11);
    for (int i = 0; i < 20000; ++i) {
        QByteArray bytes(int(rng.bounded(0, 24)), '\0');
        for (char &c : bytes)
            c = char(rng.bounded(256));
        if (bytes.size() > 4 && rng.bounded(2))
            bytes[4] = char(rng.bounded(0x22)); // mostly known commands
        const QByteArray copy = bytes;
        QCOMPARE(describe(bytes).size(), 12);
        QCOMPARE(bytes, copy); // the frame is never changed or grown
    }
}

void TestFrameDescriber::shippedTextsThroughTheResponder()
{
    TestRoot root;
    ZemTool tool;
    QTest::ignoreMessage(QtDebugMsg, "error ZemFramer");
    ZemAnalyze analyze(nullptr, &tool);

    const QStringList t = analyze.describe(makeFrame(0x0D, 4, hex("0B 21")));
    QCOMPARE(t.size(), 12);
    QCOMPARE(t.at(F::Description), tool.readSetting(QStringLiteral("cmd/0D")));
    QCOMPARE(t.at(F::Connect), tool.readSetting(QStringLiteral("connect/02")));
    QCOMPARE(t.at(F::WifiState), tool.readSetting(QStringLiteral("wifistate/01")));
    QCOMPARE(t.at(F::HasConnect), tool.readSetting(QStringLiteral("hasconnect/01")));
    for (const int i :
         {int(F::Description), int(F::Connect), int(F::WifiState), int(F::HasConnect)})
        QVERIFY(!t.at(i).isEmpty());

    const QStringList p = analyze.describe(makeFrame(0x02, 1));
    QCOMPARE(p.at(F::ProductKey), QStringLiteral("10293847561029384756102938475610"));
    QVERIFY(analyze.checkProductKey(QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24")));
    QCOMPARE(analyze.describe(makeFrame(0x02, 1)).at(F::ProductKey),
             QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24"));
}

QTEST_GUILESS_MAIN(TestFrameDescriber)
#include "tst_framedescriber.moc"
