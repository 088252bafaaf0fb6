// SPDX-License-Identifier: GPL-3.0-or-later
// Typed hex completed into version 4 frames: the header, the length (left
// out, "??" or wrong), the checksum and the escaping, and what is left alone.
#include "testsupport.h"

#include "protocol/framecompletion.h"

#include <QtTest>

class TestFrameCompletion : public QObject
{
    Q_OBJECT
private slots:
    void completes_data();
    void completes();
    void refuses_data();
    void refuses();
    void sequenceIsRefilled();
};

void TestFrameCompletion::completes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("wire");
    const QByteArray heartbeat = wireFrame(0x08, 0x07); // FF FF 00 05 08 07 00 00 14
    QTest::newRow("body only") << QStringLiteral("08 07 00 00") << heartbeat;
    QTest::newRow("?? after header") << QStringLiteral("FF FF ?? 08 07 00 00") << heartbeat;
    QTest::newRow("?? ?? without header") << QStringLiteral("?? ?? 08070000") << heartbeat;
    QTest::newRow("checksum missing") << QStringLiteral("ff ff 00 05 08 07 00 00") << heartbeat;
    QTest::newRow("wrong checksum") << QStringLiteral("FF FF 00 05 08 07 00 00 99") << heartbeat;
    QTest::newRow("complete") << QStringLiteral("FF FF 00 05 08 07 00 00 14") << heartbeat;
    QTest::newRow("length left out") << QStringLiteral("FF FF 08 07 00 00") << heartbeat;
    QTest::newRow("wrong length starting 00")
        << QStringLiteral("FF FF 00 09 08 07 00 00") << heartbeat;
    QTest::newRow("payload FF escaped")
        << QStringLiteral("FF FF ?? 05 01 00 00 04 FF") << wireFrame(0x05, 0x01, hex("04FF"));
    QTest::newRow("sequence FF escaped")
        << QStringLiteral("0D FF 00 00 0B 21") << wireFrame(0x0D, 0xFF, hex("0B21"));
    QTest::newRow("wire form copied from a log")
        << QStringLiteral("FF FF 00 07 0D FF 55 00 00 0B 21 3F")
        << wireFrame(0x0D, 0xFF, hex("0B21"));
    QTest::newRow("wire form, checksum wrong")
        << QStringLiteral("FF FF 00 07 0D FF 55 00 00 0B 21 00")
        << wireFrame(0x0D, 0xFF, hex("0B21"));
    // Length 0x00FF: the second length byte is escaped, the first never.
    QTest::newRow("length low byte FF")
        << QStringLiteral("FF FF ?? 01 00 00 00") + QStringLiteral(" 00").repeated(250)
        << wireFrame(0x01, 0x00, QByteArray(250, '\0'));
    QTest::newRow("length over 255 left out")
        << QStringLiteral("1D 03 00 00") + QStringLiteral(" 5A").repeated(300)
        << wireFrame(0x1D, 0x03, QByteArray(300, 'Z'));
    QTest::newRow("version 3 as typed")
        << QStringLiteral("00 00 00 03 00 02 03 0b") << hex("000000030002030B");
    QTest::newRow("header alone as typed") << QStringLiteral("FF FF") << hex("FFFF");
    QTest::newRow("empty") << QString() << QByteArray();
}

void TestFrameCompletion::completes()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, wire);
    const FrameCompletion::Result r = FrameCompletion::complete(typed);
    QVERIFY2(r.ok(), qPrintable(r.error));
    QCOMPARE(r.wire.toHex(' '), wire.toHex(' '));
}

void TestFrameCompletion::refuses_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("?? inside the body") << QStringLiteral("FF FF 08 ?? 00");
    QTest::newRow("two ??") << QStringLiteral("?? 01 ?? 02");
    QTest::newRow("nothing after ??") << QStringLiteral("FF FF ??");
    // 65536 bytes from the command on and the checksum: length 65537.
    QTest::newRow("length beyond 16 bits")
        << QStringLiteral("01 00 00 00") + QStringLiteral("00").repeated(65532);
}

void TestFrameCompletion::refuses()
{
    QFETCH(QString, typed);
    const FrameCompletion::Result r = FrameCompletion::complete(typed);
    QVERIFY(!r.ok());
    QVERIFY(r.wire.isEmpty());
    QVERIFY(FrameCompletion::hint(typed).contains(QStringLiteral("不会发送")));
}

void TestFrameCompletion::sequenceIsRefilled()
{
    bool changed = false;
    QCOMPARE(FrameCompletion::withSequence(wireFrame(0x08, 0x07), 0x08, &changed),
             wireFrame(0x08, 0x08));
    QVERIFY(changed);
    // An FF sequence number is escaped, and read back through the escape.
    const QByteArray ff = FrameCompletion::withSequence(wireFrame(0x05, 0x01, hex("04FF")), 0xFF);
    QCOMPARE(ff, wireFrame(0x05, 0xFF, hex("04FF")));
    QCOMPARE(FrameCompletion::sequenceOf(ff), 0xFF);
    // No whole frame: as it was.
    QCOMPARE(FrameCompletion::withSequence(hex("FFFF000508"), 1, &changed), hex("FFFF000508"));
    QVERIFY(!changed);
    QCOMPARE(FrameCompletion::sequenceOf(hex("FFFF000508")), -1);
}

QTEST_GUILESS_MAIN(TestFrameCompletion)
#include "tst_framecompletion.moc"
