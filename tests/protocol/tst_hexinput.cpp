// SPDX-License-Identifier: GPL-3.0-or-later
// Typed hex: which texts are plain hex pairs, what the others turn into, and
// the hint that says so.
#include "testsupport.h"

#include "protocol/hexinput.h"

#include <QtTest>

class TestHexInput : public QObject
{
    Q_OBJECT
private slots:
    void typedText_data();
    void typedText();
};

void TestHexInput::typedText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("plain");
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray request = hex("FFFF0005010000 0006");
    QTest::newRow("empty") << QString() << true << QByteArray();
    QTest::newRow("pairs, upper case")
        << QStringLiteral("FF FF 00 05 01 00 00 00 06") << true << request;
    QTest::newRow("runs of even length")
        << QStringLiteral("FFFF0005010000 0006") << true << request;
    QTest::newRow("lines, tabs, trailing blank")
        << QStringLiteral("FF FF\t00 05\r\n01 00 00 00\n06 ") << true << request;
    QTest::newRow("full-width blank between pairs")
        << QStringLiteral("01\u300002") << true << hex("0102");

    QTest::newRow("0x prefixes") << QStringLiteral("0x01 0x02") << false << hex("001002");
    QTest::newRow("a word") << QStringLiteral("hello") << false << hex("0E");
    QTest::newRow("no digit at all") << QStringLiteral("zz") << false << QByteArray();
    QTest::newRow("odd digit count") << QStringLiteral("123") << false << hex("0123");
    QTest::newRow("single digits borrow from neighbours")
        << QStringLiteral("A BC D") << false << hex("ABCD");
    QTest::newRow("commas") << QStringLiteral("FF,FF") << false << hex("FFFF");
    QTest::newRow("full-width digits are skipped")
        << QStringLiteral("ＦＦ 01") << false << hex("01");
    QTest::newRow("Chinese text") << QStringLiteral("帧头 FF FF") << false << hex("FFFF");
}

void TestHexInput::typedText()
{
    QFETCH(QString, text);
    QFETCH(bool, plain);
    QFETCH(QByteArray, bytes);

    QCOMPARE(HexInput::isPlain(text), plain);
    QCOMPARE(HexInput::toBytes(text), QByteArray::fromHex(text.toLatin1()));

    const QString hint = HexInput::hint(text);
    QCOMPARE(hint.isEmpty(), plain);
    if (!plain) {
        // The hint spells out what goes on the line.
        if (bytes.isEmpty()) {
            QVERIFY2(hint.contains(QStringLiteral("不会发送")), qPrintable(hint));
        } else {
            QVERIFY2(hint.contains(QString::fromLatin1(bytes.toHex(' ').toUpper())),
                     qPrintable(hint));
            QVERIFY2(hint.contains(QStringLiteral("%1 字节").arg(bytes.size())), qPrintable(hint));
        }
    }
}

QTEST_GUILESS_MAIN(TestHexInput)
#include "tst_hexinput.moc"
