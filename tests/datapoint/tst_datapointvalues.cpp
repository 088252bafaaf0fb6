// SPDX-License-Identifier: GPL-3.0-or-later
// The data-point values without a window: the limits each value keeps, the
// status report built from them, and the control frame applied to them.
#include "testsupport.h"

#include "datapoint/datapointvalues.h"
#include "protocol/zemtool.h"

#include <QtTest>

#include <limits>

namespace {

json_struct record(const QString &name, const QString &dataType, const QString &type,
                   const QString &unit, int len, int byteOffset, int bitOffset = 0, int min = 0,
                   int max = 0, const QStringList &labels = {})
{
    json_struct r;
    r.display_name = name;
    r.name = name;
    r.data_type = dataType;
    r.type = type;
    r.unit = unit;
    r.len = len;
    r.byte_offset = byteOffset;
    r.bit_offset = bitOffset;
    r.min = min;
    r.max = max;
    r.enum_list = labels;
    return r;
}

const QString W = QStringLiteral("status_writable");

// A control command (03, action 01) carrying the given flags and values.
QByteArray control(const QByteArray &flagsAndValues)
{
    return makeFrame(0x03, 0x05, hex("01") + flagsAndValues);
}

} // namespace

class TestDataPointValues : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void limits_data();
    void limits();
    void reportOfBoolAndReadonlyByte();
    void binaryValueInTheReport_data();
    void binaryValueInTheReport();
    void controlSetsNamedValues();
    void padToLength_data();
    void padToLength();
    void savedValuesComeBack();
    void restoreTakesWhatFits_data();
    void restoreTakesWhatFits();
};

void TestDataPointValues::initTestCase()
{
    // The report writes its hex text to the debug log each time.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

// A value set on a row, and what the row then holds.
void TestDataPointValues::limits_data()
{
    QTest::addColumn<json_struct>("r");
    QTest::addColumn<int>("initial");
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("held");
    QTest::newRow("bool above 1") << record("on", "bool", W, "bit", 1, 0) << 0 << 5 << 1;
    QTest::newRow("uint8 below min")
        << record("n", "uint8", W, "byte", 1, 0, 0, 10, 20) << 10 << 5 << 10;
    QTest::newRow("uint16 inside")
        << record("n", "uint16", W, "byte", 2, 0, 0, 0, 9999) << 0 << 300 << 300;
    QTest::newRow("range collapsed onto min")
        << record("n", "uint8", W, "byte", 1, 0, 0, 50, 10) << 50 << 0 << 50;
    QTest::newRow("enum past its labels")
        << record("m", "enum", W, "bit", 2, 0, 0, 0, 0, {"a", "b", "c"}) << 0 << 7 << 2;
    QTest::newRow("enum without labels") << record("m", "enum", W, "bit", 2, 0) << -1 << 1 << -1;
    QTest::newRow("unknown type holds nothing")
        << record("f", "float", W, "byte", 2, 0) << 0 << 3 << 0;
}

void TestDataPointValues::limits()
{
    QFETCH(json_struct, r);
    QFETCH(int, initial);
    QFETCH(int, set);
    QFETCH(int, held);
    DataPointValues values{DataPointDefinition({r})};
    QCOMPARE(values.number(0), initial);
    values.setNumber(0, set);
    QCOMPARE(values.number(0), held);
    values.setNumber(5, 1); // no such row: nothing happens
    QCOMPARE(values.count(), 1);
}

void TestDataPointValues::reportOfBoolAndReadonlyByte()
{
    DataPointValues values{DataPointDefinition(
        {record("on", "bool", W, "bit", 1, 0),
         record("level", "uint8", "status_readonly", "byte", 1, 1, 0, 0, 100)})};
    QCOMPARE(values.statusReport(), hex("FF FF 00 08 05 00 00 00 04 00 00 11"));
    values.setNumber(0, 1);
    values.setNumber(1, 55);
    QCOMPARE(values.statusReport(), hex("FF FF 00 08 05 00 00 00 04 01 37 49"));
    QCOMPARE(values.statusReport(), hex("FF FF 00 08 05 00 00 00 04 01 37 49"));
}

void TestDataPointValues::binaryValueInTheReport_data()
{
    QTest::addColumn<int>("len");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("one digit in two bytes") << 2 << "1" << hex("10 00");
    QTest::newRow("empty in three bytes") << 3 << "" << hex("00 00 00");
    QTest::newRow("too long is cut") << 2 << "abcdef" << hex("AB CD");
    QTest::newRow("odd digit count") << 2 << "aBc" << hex("AB C0");
    QTest::newRow("longer than a text holds")
        << 16384 << QString(32767, QLatin1Char('1')) << QByteArray(16383, char(0x11)) + hex("00");
}

void TestDataPointValues::binaryValueInTheReport()
{
    QFETCH(int, len);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    DataPointValues values{
        DataPointDefinition({record("lead", "uint8", W, "byte", 1, 0, 0, 0, 255),
                             record("blob", "binary", W, "byte", len, 1),
                             record("tail", "uint8", W, "byte", 1, 1 + len, 0, 0, 255)})};
    values.setNumber(0, 0xEE);
    values.setNumber(2, 0x77);
    values.setHexText(1, text);
    QCOMPARE(values.maxHexDigits(1), qMin(2 * len, 32766));
    QCOMPARE(values.hexText(1), text.left(values.maxHexDigits(1)));
    const QByteArray report = values.statusReport();
    QCOMPARE(report.size(), 10 + 2 + len);
    QCOMPARE(report.mid(9, 2 + len), hex("EE") + bytes + hex("77"));
    QCOMPARE(quint8(report.at(report.size() - 1)), ZemTool::frameChecksum(report));
}

void TestDataPointValues::controlSetsNamedValues()
{
    DataPointValues values{DataPointDefinition(
        {record("mode", "enum", W, "bit", 2, 0, 0, 0, 0, {"a", "b", "c"}),
         record("big", "uint32", W, "byte", 4, 1, 0, 0, std::numeric_limits<int>::max()),
         record("level", "uint8", W, "byte", 1, 5, 0, 10, 20),
         record("blob", "binary", W, "byte", 2, 6), record("ratio", "float", W, "byte", 2, 8)})};
    values.setNumber(0, 1);
    // Sets all five: mode 3 (no label), big FFFFFFFF, level 02, blob 0AFF.
    const QVector<int> named = values.applyControl(control(hex("1F 03 FFFFFFFF 02 0AFF 0000")));
    // By name: big, blob, level, mode; "ratio" decodes to nothing.
    QCOMPARE(named, (QVector<int>{1, 3, 2, 0}));
    QCOMPARE(values.number(0), 1); // named, but no label to take
    QCOMPARE(values.number(1), std::numeric_limits<int>::max());
    QCOMPARE(values.number(2), 10);
    QCOMPARE(values.hexText(3), QStringLiteral("0aff"));

    QCOMPARE(values.applyControl(control(hex("01 02 00000000 00 0000 0000"))), QVector<int>{0});
    QCOMPARE(values.number(0), 2);
    QCOMPARE(values.statusReport().mid(9, 10), hex("02 7FFFFFFF 0A 0AFF 0000"));
    // A frame too short for its flags names nothing.
    QVERIFY(values.applyControl(hex("FF FF 00 05 03 01 00 00 01")).isEmpty());
}

void TestDataPointValues::padToLength_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("short frame filled with FF")
        << hex("FF FF 00 08 05 00 00 00 04 01") << hex("FF FF 00 08 05 00 00 00 04 01 FF FF");
    QTest::newRow("complete frame unchanged")
        << hex("FF FF 00 06 05 00 00 00 04 00") << hex("FF FF 00 06 05 00 00 00 04 00");
    QTest::newRow("longer frame unchanged")
        << hex("FF FF 00 05 05 00 00 00 04 00") << hex("FF FF 00 05 05 00 00 00 04 00");
    QTest::newRow("too short to hold a length") << hex("FF FF 00") << hex("FF FF 00");
}

void TestDataPointValues::padToLength()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);
    DataPointValues::padToLength(frame);
    QCOMPARE(frame, expected);
}

namespace {
// A switch, a level 10..20, a mode of three labels and two bytes.
DataPointDefinition keptDefinition()
{
    return DataPointDefinition({record("开关", "bool", W, "bit", 1, 0),
                                record("level", "uint8", W, "byte", 1, 1, 0, 10, 20),
                                record("mode", "enum", W, "bit", 2, 0, 1, 0, 0, {"低", "中", "高"}),
                                record("blob", "binary", W, "byte", 2, 2)});
}
} // namespace

void TestDataPointValues::savedValuesComeBack()
{
    DataPointValues set{keptDefinition()};
    set.setNumber(0, 1);
    set.setNumber(1, 17);
    set.setNumber(2, 2);
    set.setHexText(3, QStringLiteral("aB1"));
    DataPointValues next{keptDefinition()};
    next.restore(set.savedText());
    QCOMPARE(next.number(0), 1);
    QCOMPARE(next.number(1), 17);
    QCOMPARE(next.number(2), 2);
    QCOMPARE(next.hexText(3), QStringLiteral("aB1"));
    QCOMPARE(next.statusReport(), set.statusReport());

    // By label: the same label under another index is still the choice.
    DataPointDefinition reordered(
        {record("mode", "enum", W, "bit", 2, 0, 1, 0, 0, {"高", "低", "中"})});
    DataPointValues other{reordered};
    other.restore(set.savedText());
    QCOMPARE(other.number(0), 0);
}

// A hand-edited or outdated stored text: what fits is taken, the rest leaves
// the starting values (0, 10, "低", "").
void TestDataPointValues::restoreTakesWhatFits_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("on");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("blob");
    QTest::newRow("empty") << "" << 0 << 10 << 0 << "";
    QTest::newRow("no JSON") << "level=15" << 0 << 10 << 0 << "";
    QTest::newRow("an array") << "[1, 15]" << 0 << 10 << 0 << "";
    QTest::newRow("cut off") << R"({"level": 15, "mode": "高)" << 0 << 10 << 0 << "";
    QTest::newRow("unknown names") << R"({"Level": 15, "other": 1})" << 0 << 10 << 0 << "";
    QTest::newRow("above the range") << R"({"level": 99, "开关": 7})" << 1 << 20 << 0 << "";
    QTest::newRow("below the range") << R"({"level": -5})" << 0 << 10 << 0 << "";
    QTest::newRow("beyond int") << R"({"level": 1e300})" << 0 << 20 << 0 << "";
    QTest::newRow("number as text") << R"({"level": "15"})" << 0 << 10 << 0 << "";
    QTest::newRow("label it lacks") << R"({"mode": "最高"})" << 0 << 10 << 0 << "";
    QTest::newRow("index for a label") << R"({"mode": 2})" << 0 << 10 << 0 << "";
    QTest::newRow("not hex") << R"({"blob": "12G4"})" << 0 << 10 << 0 << "";
    QTest::newRow("hex too long is cut") << R"({"blob": "0123456789"})" << 0 << 10 << 0 << "0123";
    QTest::newRow("odd digit count as typed") << R"({"blob": "abc"})" << 0 << 10 << 0 << "abc";
    QTest::newRow("bytes as a number") << R"({"blob": 12})" << 0 << 10 << 0 << "";
    QTest::newRow("good beside bad")
        << R"({"level": "x", "mode": "中", "blob": "FF"})" << 0 << 10 << 1 << "FF";
}

void TestDataPointValues::restoreTakesWhatFits()
{
    QFETCH(QString, stored);
    DataPointValues values{keptDefinition()};
    values.restore(stored);
    QTEST(values.number(0), "on");
    QTEST(values.number(1), "level");
    QTEST(values.number(2), "mode");
    QTEST(values.hexText(3), "blob");
}

QTEST_GUILESS_MAIN(TestDataPointValues)
#include "tst_datapointvalues.moc"
