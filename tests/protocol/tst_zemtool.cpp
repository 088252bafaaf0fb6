// SPDX-License-Identifier: GPL-3.0-or-later
// Wire-format helpers and settings access.
#include "testsupport.h"

#include "protocol/frameformat.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QtTest>

#include <climits>

class TestZemTool : public QObject
{
    Q_OBJECT
private slots:
    void checksum_data();
    void checksum();
    void numberToBytes_data();
    void numberToBytes();
    void byteAndWordReads_data();
    void byteAndWordReads();
    void hexText_data();
    void hexText();
    void escape_data();
    void escape();
    void frameFields_data();
    void frameFields();
    void settingsReachTheFile();
    void missingKeyReadsEmpty();
    void respondKeyNames();
};

void TestZemTool::checksum_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("tail");
    QTest::addColumn<int>("expected");
    QTest::newRow("frame 08 seq 07") << hex("FFFF0005080700 0014") << 2 << 1 << 0x14;
    QTest::newRow("wraps modulo 256") << hex("FFFF") << 0 << 0 << 0xFE;
    QTest::newRow("empty range") << hex("0102") << 2 << 1 << 0;
    QTest::newRow("tail beyond size") << hex("0102") << 0 << 5 << 0;
    QTest::newRow("empty array") << QByteArray() << 2 << 1 << 0;
    // Out-of-range arguments: the range is clipped to the array.
    QTest::newRow("negative tail stops at the end") << hex("0102 03") << 1 << -3 << 0x05;
    QTest::newRow("tail INT_MIN") << hex("0102 03") << 0 << INT_MIN << 0x06;
    QTest::newRow("tail INT_MAX") << hex("0102 03") << 0 << INT_MAX << 0;
    QTest::newRow("negative start") << hex("0102 03") << -5 << 1 << 0x03;
    QTest::newRow("start INT_MIN, tail INT_MIN") << hex("FF02") << INT_MIN << INT_MIN << 0x01;
    QTest::newRow("start INT_MAX") << hex("0102") << INT_MAX << -1 << 0;
}

void TestZemTool::checksum()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, from);
    QFETCH(int, tail);
    QFETCH(int, expected);
    QCOMPARE(int(ZemTool::checksum(bytes, from, tail)), expected);
}

void TestZemTool::numberToBytes_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("0x1234 w2") << 0x1234u << 2 << hex("1234");
    QTest::newRow("0x1234 w5 empty") << 0x1234u << 5 << QByteArray();
    QTest::newRow("w0 empty") << 7u << 0 << QByteArray();
    QTest::newRow("w1 low byte") << 0x1234u << 1 << hex("34");
    QTest::newRow("w3") << 1193046u << 3 << hex("123456");
    QTest::newRow("w4 max") << 0xFFFFFFFFu << 4 << hex("FFFFFFFF");
}

void TestZemTool::numberToBytes()
{
    QFETCH(quint32, value);
    QFETCH(int, width);
    QFETCH(QByteArray, expected);
    QCOMPARE(ZemTool::numberToBytes(value, width), expected);
}

void TestZemTool::byteAndWordReads_data()
{
    // A read outside the array gives 0, whatever the index.
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("word");
    QTest::newRow("first") << 0 << 0x12 << 0x1234;
    QTest::newRow("middle") << 1 << 0x34 << 0x34FE;
    QTest::newRow("last: no second byte") << 2 << 0xFE << 0;
    QTest::newRow("just past the end") << 3 << 0 << 0;
    QTest::newRow("-1") << -1 << 0 << 0;
    QTest::newRow("INT_MAX") << INT_MAX << 0 << 0;
    QTest::newRow("INT_MAX - 1") << INT_MAX - 1 << 0 << 0;
    QTest::newRow("INT_MIN") << INT_MIN << 0 << 0;
}

void TestZemTool::byteAndWordReads()
{
    QFETCH(int, index);
    QFETCH(int, byte);
    QFETCH(int, word);
    const QByteArray b = hex("12 34 FE");
    QCOMPARE(ZemTool::byteValue(b, index), byte);
    QCOMPARE(ZemTool::word16(b, index), word);
}

void TestZemTool::hexText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("AB 01") << hex("AB01") << QStringLiteral("AB 01 ");
    QTest::newRow("NUL kept") << hex("00FF") << QStringLiteral("00 FF ");
}

void TestZemTool::hexText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(ZemTool::hexText(bytes), expected);
}

void TestZemTool::escape_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("checksum FF") << hex("FFFF000508070000FF") << hex("FFFF000508070000FF55");
    QTest::newRow("length low FF") << hex("FFFF00FF01") << hex("FFFF00FF5501");
    QTest::newRow("length high FF not escaped") << hex("FFFFFF0001") << hex("FFFFFF0001");
    QTest::newRow("payload FF FF")
        << hex("FFFF0007010000FFFF00") << hex("FFFF0007010000FF55FF5500");
    QTest::newRow("nothing to escape") << hex("FFFF0005080700 0014") << hex("FFFF000508070000 14");
    QTest::newRow("short") << hex("FF") << hex("FF");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestZemTool::escape()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, wire);
    QCOMPARE(ZemTool::escape(frame), wire);
}

void TestZemTool::frameFields_data()
{
    // What the accessors read; -1 where the frame does not hold the field.
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("status"); // control, read, answer or none
    QTest::newRow("heartbeat reply, no payload")
        << hex("FF FF 00 05 08 07 00 00 14") << 5 << 0x08 << 7 << QByteArray() << -1 << "none";
    QTest::newRow("control") << hex("FF FF 00 08 03 01 00 00 01 01 01 0F") << 8 << 0x03 << 1
                             << hex("01 01 01") << 1 << "control";
    QTest::newRow("status read") << hex("FF FF 00 06 03 02 00 00 02 0D") << 6 << 0x03 << 2
                                 << hex("02") << 2 << "read";
    QTest::newRow("03 without payload, checksum 01")
        << hex("FF FF 00 05 03 F9 00 00 01") << 5 << 0x03 << 0xF9 << QByteArray() << -1 << "none";
    QTest::newRow("status answer")
        << hex("FF FF 00 06 04 2A 00 00 03 00") << 6 << 0x04 << 0x2A << hex("03") << 3 << "answer";
    QTest::newRow("acknowledgement, checksum 03")
        << hex("FF FF 00 05 04 FA 00 00 03") << 5 << 0x04 << 0xFA << QByteArray() << -1 << "none";
    QTest::newRow("answer action, length field of an acknowledgement")
        << hex("FF FF 00 05 04 01 00 00 03 00") << 5 << 0x04 << 1 << hex("03") << 3 << "none";
    QTest::newRow("status report")
        << hex("FF FF 00 07 05 00 00 00 04 01 11") << 7 << 0x05 << 0 << hex("04 01") << 4 << "none";
    QTest::newRow("cut after the command")
        << hex("FF FF 00 06 03") << 6 << 0x03 << -1 << QByteArray() << -1 << "none";
    QTest::newRow("cut inside the length")
        << hex("FF FF 00") << -1 << -1 << -1 << QByteArray() << -1 << "none";
    QTest::newRow("empty") << QByteArray() << -1 << -1 << -1 << QByteArray() << -1 << "none";
}

void TestZemTool::frameFields()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, length);
    QFETCH(int, command);
    QFETCH(int, sequence);
    QFETCH(QByteArray, payload);
    QFETCH(int, action);
    QFETCH(QString, status);
    QCOMPARE(Frame::lengthField(frame), length);
    QCOMPARE(Frame::commandCode(frame), command);
    QCOMPARE(Frame::command(frame).has_value(), command >= 0x01 && command <= 0x20);
    if (Frame::command(frame))
        QCOMPARE(Frame::code(*Frame::command(frame)), command);
    QCOMPARE(Frame::sequence(frame), sequence);
    QCOMPARE(Frame::payload(frame), payload);
    QCOMPARE(Frame::action(frame), action);
    QCOMPARE(Frame::isControlCommand(frame), status == QLatin1String("control"));
    QCOMPARE(Frame::isStatusRead(frame), status == QLatin1String("read"));
    QCOMPARE(Frame::isStatusAnswer(frame), status == QLatin1String("answer"));
}

void TestZemTool::settingsReachTheFile()
{
    TestRoot root(false);
    ZemTool tool;
    tool.writeSetting(QStringLiteral("setting/softver"), QStringLiteral("04000001"));
    tool.writeSettingHex(QStringLiteral("Respond/04"), hex("FFFF000504000000 09"));
    tool.writeSetting(QStringLiteral("cmd/01"), QStringLiteral("查询产品信息, 模组上电后发送"));
    // Read back at once through every object on the file, before any save.
    QCOMPARE(ZemTool().readSetting(QStringLiteral("/setting//softver")),
             QStringLiteral("04000001"));

    // Two settings objects on one path share a cache inside a process, so the
    // file itself is read back.
    const QString text = root.settingsText();
    QVERIFY2(text.contains(QStringLiteral("softver=04000001")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("04=\"FF FF 00 05 04 00 00 00 09 \"")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("查询产品信息")), qPrintable(text)); // stored as UTF-8
    QCOMPARE(tool.readSettingHex(QStringLiteral("Respond/04")), hex("FFFF00050400000009"));
    QCOMPARE(tool.readSetting(QStringLiteral("cmd/01")),
             QStringLiteral("查询产品信息, 模组上电后发送"));
}

void TestZemTool::missingKeyReadsEmpty()
{
    TestRoot root(false);
    ZemTool tool;
    QCOMPARE(tool.readSetting(QStringLiteral("nothing/here")), QString());
    QVERIFY(tool.readSettingHex(QStringLiteral("Respond/99")).isEmpty());
}

void TestZemTool::respondKeyNames()
{
    QCOMPARE(SettingKeys::respondKey(0x02), QStringLiteral("Respond/02"));
    QCOMPARE(SettingKeys::respondKey(0x1E), QStringLiteral("Respond/1E"));
    QCOMPARE(SettingKeys::respondKey(Frame::Command::FirmwareEndReply),
             QStringLiteral("Respond/20"));
}

QTEST_GUILESS_MAIN(TestZemTool)
#include "tst_zemtool.moc"
