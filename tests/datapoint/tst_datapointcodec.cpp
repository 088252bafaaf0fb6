// SPDX-License-Identifier: GPL-3.0-or-later
// Packing data-point values into status reports and reading control frames.
#include "testsupport.h"

#include "datapoint/datapointcodec.h"
#include "datapoint/datapointdefinition.h"
#include "datapoint/zemjson.h"
#include "protocol/zemtool.h"

#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QtTest>

#include <limits>

using Records = QList<json_struct>;
using Values = QList<int>;
Q_DECLARE_METATYPE(Values)

namespace {

json_struct rec(const QString &name, const QString &dataType, const QString &type,
                const QString &unit, int len, int byteOffset, int bitOffset = 0,
                const QStringList &labels = {})
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
    r.enum_list = labels;
    return r;
}

json_struct wBit(const QString &name, int len, int bitOffset, const QString &dataType = "bool",
                 const QStringList &labels = {})
{
    return rec(name, dataType, "status_writable", "bit", len, 0, bitOffset, labels);
}

json_struct wByte(const QString &name, const QString &dataType, int len, int byteOffset)
{
    return rec(name, dataType, "status_writable", "byte", len, byteOffset);
}

// Control frame 03 / action 01 around flags and value bytes, with checksum.
QByteArray control(const QByteArray &flagsAndValues)
{
    QByteArray f = hex("FF FF 00 00 03 07 00 00 01") + flagsAndValues + QByteArray(1, '\0');
    const int length = f.size() - 4;
    f[2] = char(length >> 8);
    f[3] = char(length & 0xFF);
    ZemTool::setFrameChecksum(f);
    return f;
}

DataPointDefinition lamp()
{
    QFile f(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"));
    if (!f.open(QIODevice::ReadOnly))
        return DataPointDefinition();
    return DataPointDefinition::fromJson(QJsonDocument::fromJson(f.readAll()).object());
}

QByteArray valuePart(const QByteArray &report)
{
    return report.mid(9, report.size() - 10);
}

} // namespace

class TestDataPointCodec : public QObject
{
    Q_OBJECT
private slots:
    void emptyReportFrame();
    void lampReportFrameSize();
    void setValueWritesValuePart_data();
    void setValueWritesValuePart();
    void setBytesFillsTheField_data();
    void setBytesFillsTheField();
    void writesStayInsideTheValuePart_data();
    void writesStayInsideTheValuePart();
    void writeStraddlingTheEndIsClipped();
    void oversizedDefinitionIsCappedToOneFrame();
    void hugeBitLengthPlacesOnlyItsBits_data();
    void hugeBitLengthPlacesOnlyItsBits();
    void intToBytes_data();
    void intToBytes();
    void getBits_data();
    void getBits();
    void getBitsWarnsAndGivesZero_data();
    void getBitsWarnsAndGivesZero();
    void decodeControl_data();
    void decodeControl();
    void lampControlFrame();
    void lampReportAndControlAgree();
    void zemJsonUsesItsDefinition();
    void randomDefinitionsAndFramesStayInBounds();
};

void TestDataPointCodec::emptyReportFrame()
{
    const DataPointDefinition def({wBit("switch", 1, 0), wByte("level", "uint8", 1, 1)});
    QByteArray frame = DataPointCodec::makeReportFrame(def);
    QCOMPARE(frame, hex("FF FF 00 08 05 00 00 00 04 00 00 00"));
    DataPointCodec::setValue(def, frame, "switch", 1);
    QCOMPARE(frame, hex("FF FF 00 08 05 00 00 00 04 01 00 00"));

    QCOMPARE(DataPointCodec::makeReportFrame(DataPointDefinition()),
             hex("FF FF 00 06 05 00 00 00 04 00"));
}

void TestDataPointCodec::lampReportFrameSize()
{
    const DataPointDefinition def = lamp();
    QCOMPARE(def.records().size(), 14);
    const QByteArray frame = DataPointCodec::makeReportFrame(def);
    QCOMPARE(frame.size(), 30); // 20-byte value part
    QCOMPARE(frame.left(9), hex("FF FF 00 1A 05 00 00 00 04"));
    QCOMPARE(frame.mid(9), QByteArray(21, '\0'));
}

void TestDataPointCodec::setValueWritesValuePart_data()
{
    QTest::addColumn<Records>("records");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<Values>("values");
    QTest::addColumn<QByteArray>("expected");

    // A two-byte writable area (9 bits); the enum's bits 7 and 8 straddle it.
    QTest::newRow("enum at bit 7 of a two-byte area")
        << Records{wBit("mode", 2, 7, "enum", {"a", "b", "c", "d"}), wBit("rest", 7, 9)}
        << QStringList{"mode"} << Values{3} << hex("01 80");
    QTest::newRow("three bools 1 0 1")
        << Records{wBit("a", 1, 0), wBit("b", 1, 1), wBit("c", 1, 2)} << QStringList{"a", "b", "c"}
        << Values{1, 0, 1} << hex("05");
    QTest::newRow("three-bit field across two bytes")
        << Records{wBit("f", 3, 6), wBit("g", 7, 9)} << QStringList{"f"} << Values{5}
        << hex("01 40");
    QTest::newRow("value masked to its field")
        << Records{wBit("a", 1, 0), wBit("b", 2, 1), wBit("c", 1, 3)} << QStringList{"a", "b"}
        << Values{3, 0x7F} << hex("07");
    QTest::newRow("bit 8 is in the area's first byte")
        << Records{wBit("x", 8, 0), wBit("y", 1, 8)} << QStringList{"y"} << Values{1}
        << hex("01 00");
    QTest::newRow("classes have their own areas")
        << Records{wBit("w", 1, 0), rec("r", "enum", "status_readonly", "bit", 2, 1, 0),
                   rec("al", "bool", "alert", "bit", 1, 2, 0),
                   rec("f0", "bool", "fault", "bit", 1, 3, 0),
                   rec("f1", "bool", "fault", "bit", 1, 3, 1)}
        << QStringList{"w", "r", "al", "f1"} << Values{1, 2, 1, 1} << hex("01 02 01 02");
    QTest::newRow("uint16 300") << Records{wByte("t", "uint16", 2, 0)} << QStringList{"t"}
                                << Values{300} << hex("01 2C");
    QTest::newRow("uint32 big-endian") << Records{wByte("t", "uint32", 4, 0)} << QStringList{"t"}
                                       << Values{0x12345678} << hex("12 34 56 78");
    QTest::newRow("uint32 all ones from -1")
        << Records{wByte("t", "uint32", 4, 0)} << QStringList{"t"} << Values{-1}
        << hex("FF FF FF FF");
    QTest::newRow("uint8 keeps the low byte")
        << Records{wByte("b", "uint8", 1, 1), wByte("a", "uint8", 1, 0)} << QStringList{"b"}
        << Values{0x1FF} << hex("00 FF");
    QTest::newRow("six-byte number right-aligned")
        << Records{wByte("t", "uint32", 6, 0)} << QStringList{"t"} << Values{0x12345678}
        << hex("00 00 12 34 56 78");
    QTest::newRow("unknown name changes nothing")
        << Records{wByte("t", "uint16", 2, 0)} << QStringList{"T"} << Values{300} << hex("00 00");
    QTest::newRow("first record of a name is used")
        << Records{wByte("t", "uint8", 1, 0), wByte("t", "uint8", 1, 1)} << QStringList{"t"}
        << Values{9} << hex("09 00");
}

void TestDataPointCodec::setValueWritesValuePart()
{
    QFETCH(Records, records);
    QFETCH(QStringList, names);
    QFETCH(Values, values);
    QFETCH(QByteArray, expected);
    const DataPointDefinition def(records);
    QByteArray frame = DataPointCodec::makeReportFrame(def);
    const int size = frame.size();
    for (int i = 0; i < names.size(); ++i)
        DataPointCodec::setValue(def, frame, names.at(i), values.at(i));
    QCOMPARE(frame.size(), size);
    QCOMPARE(valuePart(frame), expected);
    QCOMPARE(frame.at(size - 1), '\0'); // the checksum place is the table's business
}

void TestDataPointCodec::setBytesFillsTheField_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("exact") << hex("0A FF 10") << hex("11 0A FF 10 22");
    QTest::newRow("longer is cut") << hex("0A FF 10 99 98") << hex("11 0A FF 10 22");
    QTest::newRow("shorter fills the start") << hex("0A") << hex("11 0A 00 00 22");
    QTest::newRow("empty") << QByteArray() << hex("11 00 00 00 22");
}

void TestDataPointCodec::setBytesFillsTheField()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expected);
    const DataPointDefinition def(
        {wByte("a", "uint8", 1, 0), wByte("scene", "binary", 3, 1), wByte("z", "uint8", 1, 4)});
    QByteArray frame = DataPointCodec::makeReportFrame(def);
    DataPointCodec::setValue(def, frame, "a", 0x11);
    DataPointCodec::setValue(def, frame, "z", 0x22);
    DataPointCodec::setBytes(def, frame, "scene", bytes);
    QCOMPARE(frame.size(), 15);
    QCOMPARE(valuePart(frame), expected);
}

void TestDataPointCodec::writesStayInsideTheValuePart_data()
{
    QTest::addColumn<json_struct>("record");
    QTest::newRow("number past the end") << wByte("x", "uint32", 4, 5);
    QTest::newRow("number before the start") << wByte("x", "uint16", 2, -9);
    QTest::newRow("binary past the end") << wByte("x", "binary", 8, 5);
    QTest::newRow("bit beyond its area") << wBit("x", 1, 8);
    QTest::newRow("bit of no known class") << rec("x", "bool", "status", "bit", 1, 1, 0);
    QTest::newRow("negative bit offset") << wBit("x", 1, -1);
    QTest::newRow("huge length") << wByte("x", "uint8", 2000000000, 5);
}

void TestDataPointCodec::writesStayInsideTheValuePart()
{
    QFETCH(json_struct, record);
    // A frame shorter than the definition: its value part holds a one-byte
    // writable area and 4 bytes of "pad", nothing of "x".
    const Records known{wBit("flag", 1, 0), wByte("pad", "uint32", 4, 1)};
    QByteArray frame = DataPointCodec::makeReportFrame(DataPointDefinition(known));
    const QByteArray before = frame;
    const DataPointDefinition def(known + Records{record});
    DataPointCodec::setValue(def, frame, "x", -1);
    DataPointCodec::setBytes(def, frame, "x", QByteArray(64, char(0xEE)));
    QCOMPARE(frame, before);
}

void TestDataPointCodec::writeStraddlingTheEndIsClipped()
{
    const Records known{wByte("pad", "uint32", 4, 0)};
    const DataPointDefinition def(known + Records{wByte("x", "uint32", 4, 2)});
    QByteArray frame = DataPointCodec::makeReportFrame(DataPointDefinition(known));
    DataPointCodec::setValue(def, frame, "x", 0x11223344);
    QCOMPARE(frame, hex("FF FF 00 0A 05 00 00 00 04 00 00 11 22 00"));
    frame = DataPointCodec::makeReportFrame(DataPointDefinition(known));
    DataPointCodec::setBytes(def, frame, "x", hex("AA BB CC DD"));
    QCOMPARE(frame, hex("FF FF 00 0A 05 00 00 00 04 00 00 AA BB 00"));
}

void TestDataPointCodec::oversizedDefinitionIsCappedToOneFrame()
{
    const DataPointDefinition def(
        {wByte("big", "binary", 70000, 0), wByte("after", "uint8", 1, 70000)});
    QByteArray frame = DataPointCodec::makeReportFrame(def);
    QCOMPARE(frame.size(), 0xFFFF + 4);
    QCOMPARE(ZemTool::word16(frame, 2), 0xFFFF);
    DataPointCodec::setBytes(def, frame, "big", QByteArray(70000, char(0xAB)));
    DataPointCodec::setValue(def, frame, "after", 7);
    QCOMPARE(frame.size(), 0xFFFF + 4);
    QCOMPARE(frame.at(frame.size() - 2), char(0xAB));
    QCOMPARE(frame.at(frame.size() - 1), '\0');
}

void TestDataPointCodec::hugeBitLengthPlacesOnlyItsBits_data()
{
    // A "bit" record whose len is clamped to INT_MAX when parsed makes a bit
    // area of 268435456 bytes; the report holds only its first 65529. The
    // value is cut to 16 bits, so at most the byte of bit_offset and the one
    // before it change, and only where the frame holds them.
    QTest::addColumn<int>("bitOffset");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("index");        // frame index of the byte holding bit_offset
    QTest::addColumn<QByteArray>("bytes"); // expected at index - 1 and index
    constexpr int area = 268435456;
    // bit_offset / 8 = 9 + area - 1 - index puts bit_offset into byte `index`.
    const auto offsetAt = [](int index, int shift) { return 8 * (area + 8 - index) + shift; };
    QTest::newRow("shift 1: the high bits spill into the byte before")
        << offsetAt(100, 1) << 0xFFFF << 100 << hex("FF FE");
    QTest::newRow("shift 7") << offsetAt(200, 7) << 0x0003 << 200 << hex("01 80");
    QTest::newRow("shift 4, value wider than 16 bits")
        << offsetAt(65000, 4) << 0x7ABCD << 65000 << hex("BC D0");
    QTest::newRow("beyond the frame: nothing written") << 1 << 0xFFFF << -1 << QByteArray();
}

void TestDataPointCodec::hugeBitLengthPlacesOnlyItsBits()
{
    QFETCH(int, bitOffset);
    QFETCH(int, value);
    QFETCH(int, index);
    QFETCH(QByteArray, bytes);
    // The definition the fuzzer found, with the row's bit_offset.
    QFile f(QStringLiteral(LUMO_TEST_DATA "/definition-bit-len-overflow.json"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QJsonObject answer = QJsonDocument::fromJson(f.readAll()).object();
    const DataPointDefinition found = DataPointDefinition::fromJson(answer);
    QCOMPARE(found.records().size(), 1);
    QCOMPARE(found.records().at(0).len, std::numeric_limits<int>::max());
    QCOMPARE(found.records().at(0).bit_offset, 1);
    json_struct r = found.records().at(0);
    r.bit_offset = bitOffset;
    const DataPointDefinition def({r});

    QByteArray frame = DataPointCodec::makeReportFrame(def);
    QCOMPARE(frame.size(), 0xFFFF + 4);
    DataPointCodec::setValue(def, frame, QStringLiteral("x"), value);
    QCOMPARE(frame.size(), 0xFFFF + 4);
    QByteArray expected = DataPointCodec::makeReportFrame(def);
    if (index >= 0)
        expected.replace(index - 1, 2, bytes);
    QCOMPARE(frame.left(9), expected.left(9));
    QCOMPARE(frame, expected);
}

void TestDataPointCodec::intToBytes_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("width 3") << 1193046 << 3 << hex("12 34 56");
    QTest::newRow("width 2") << 0x1234 << 2 << hex("12 34");
    QTest::newRow("width 1 low byte") << 0x1234 << 1 << hex("34");
    QTest::newRow("width 4 negative") << -2 << 4 << hex("FF FF FF FE");
    QTest::newRow("width 0") << 5 << 0 << QByteArray();
    QTest::newRow("width 5") << 5 << 5 << QByteArray();
    QTest::newRow("width -1") << 5 << -1 << QByteArray();
}

void TestDataPointCodec::intToBytes()
{
    QFETCH(int, value);
    QFETCH(int, width);
    QFETCH(QByteArray, expected);
    QCOMPARE(DataPointCodec::intToBytes(value, width), expected);
    QCOMPARE(ZemJson::intToBytes(value, width), expected);
}

void TestDataPointCodec::getBits_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("byteOffset");
    QTest::addColumn<uint>("bitOffset");
    QTest::addColumn<uint>("bitLen");
    QTest::addColumn<bool>("fromEnd");
    QTest::addColumn<uint>("expected");

    const QByteArray d = hex("AA 01 80 C5");
    QTest::newRow("bit 0 of the last byte") << d << 4 << 0u << 1u << true << 1u;
    QTest::newRow("bits 2-3 of the last byte") << d << 4 << 2u << 2u << true << 1u;
    QTest::newRow("two bits across bytes") << d << 3 << 7u << 2u << true << 3u;
    QTest::newRow("bit 8 is in the byte before") << d << 3 << 8u << 1u << true << 1u;
    QTest::newRow("whole byte") << d << 4 << 0u << 8u << true << 0xC5u;
    QTest::newRow("sixteen bits") << d << 3 << 0u << 16u << true << 0x0180u;
    QTest::newRow("byteOffset in the middle") << d << 1 << 4u << 4u << true << 0xAu;
    QTest::newRow("forward, from the msb") << d << 0 << 0u << 4u << false << 0xAu;
    QTest::newRow("forward, across bytes") << d << 1 << 7u << 2u << false << 3u;
    QTest::newRow("forward, second byte") << d << 0 << 12u << 4u << false << 0x1u;
    QTest::newRow("more than 16 bits keeps 16") << d << 4 << 0u << 20u << true << 0x80C5u;
}

void TestDataPointCodec::getBits()
{
    QFETCH(QByteArray, data);
    QFETCH(int, byteOffset);
    QFETCH(uint, bitOffset);
    QFETCH(uint, bitLen);
    QFETCH(bool, fromEnd);
    QFETCH(uint, expected);
    QCOMPARE(uint(DataPointCodec::getBits(data, byteOffset, bitOffset, bitLen, fromEnd)), expected);
    QCOMPARE(uint(ZemJson::GetBits(data, byteOffset, bitOffset, bitLen, fromEnd)), expected);
}

void TestDataPointCodec::getBitsWarnsAndGivesZero_data()
{
    QTest::addColumn<int>("byteOffset");
    QTest::addColumn<uint>("bitOffset");
    QTest::addColumn<uint>("bitLen");
    QTest::addColumn<bool>("fromEnd");
    QTest::addColumn<QString>("warning");
    const QString zero = QStringLiteral("(), WARN: bitLen = 0");
    const QString over = QStringLiteral("(), WARN: byteOffset+(bitOffset+bitLen) overflows");
    QTest::newRow("zero length") << 2 << 0u << 0u << true << zero;
    QTest::newRow("before the start") << 2 << 16u << 1u << true << over;
    QTest::newRow("past the end") << 3 << 0u << 1u << true << over;
    QTest::newRow("field needs one more byte") << 1 << 6u << 3u << true << over;
    QTest::newRow("negative offset") << -1 << 0u << 1u << true << over;
    QTest::newRow("huge bit offset") << 2 << 0xFFFFFFFFu << 1u << true << over;
    QTest::newRow("forward past the end") << 1 << 4u << 8u << false << over;
}

void TestDataPointCodec::getBitsWarnsAndGivesZero()
{
    QFETCH(int, byteOffset);
    QFETCH(uint, bitOffset);
    QFETCH(uint, bitLen);
    QFETCH(bool, fromEnd);
    QFETCH(QString, warning);
    QTest::ignoreMessage(QtDebugMsg, "GetBits");
    QTest::ignoreMessage(QtDebugMsg, qPrintable(warning));
    QCOMPARE(uint(DataPointCodec::getBits(hex("FF FF"), byteOffset, bitOffset, bitLen, fromEnd)),
             0u);
}

using Map = QMap<QString, QString>;
Q_DECLARE_METATYPE(Map)

void TestDataPointCodec::decodeControl_data()
{
    QTest::addColumn<Records>("records");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<Map>("expected");

    const Records three{wBit("a", 1, 0), wBit("b", 1, 1), wBit("c", 1, 2)};
    QTest::newRow("flag 04 sets attribute 2 only")
        << three << control(hex("04 07")) << Map{{"c", "1"}};
    QTest::newRow("flags beyond the writable count are ignored")
        << three << control(hex("FF 02")) << Map{{"a", "0"}, {"b", "1"}, {"c", "0"}};

    Records ten;
    for (int i = 0; i < 10; ++i)
        ten.append(wBit(QStringLiteral("p%1").arg(i), 1, i));
    // Ten bits: a two-byte area; p9 is bit 9 (byte 0 bit 1), p0 bit 0 of byte 1.
    QTest::newRow("ten writable: two flag bytes")
        << ten << control(hex("02 01 02 01")) << Map{{"p0", "1"}, {"p9", "1"}};
    QTest::newRow("ten writable: first flag byte alone")
        << ten << control(hex("02 00 00 00")) << Map{{"p9", "0"}};

    QTest::newRow("uint16 300") << Records{wByte("t", "uint16", 2, 0)} << control(hex("01 01 2C"))
                                << Map{{"t", "300"}};
    QTest::newRow("uint32 all ones") << Records{wByte("t", "uint32", 4, 0)}
                                     << control(hex("01 FF FF FF FF")) << Map{{"t", "4294967295"}};
    QTest::newRow("uint8 at its offset") << Records{wBit("on", 1, 0), wByte("lvl", "uint8", 1, 1)}
                                         << control(hex("02 01 FE")) << Map{{"lvl", "254"}};
    QTest::newRow("binary lower-case hex")
        << Records{wByte("s", "binary", 2, 0)} << control(hex("01 0A FF")) << Map{{"s", "0aff"}};
    QTest::newRow("enum label") << Records{wBit("m", 2, 1, "enum", {"x", "y", "z"})}
                                << control(hex("01 04")) << Map{{"m", "z"}};
    QTest::newRow("enum beyond its labels is a number")
        << Records{wBit("m", 2, 1, "enum", {"x", "y"})} << control(hex("01 06")) << Map{{"m", "3"}};
    QTest::newRow("unknown data type gives no entry")
        << Records{wByte("f", "float", 4, 0), wByte("u", "uint8", 1, 4)}
        << control(hex("03 01 02 03 04 05")) << Map{{"u", "5"}};
    QTest::newRow("a later attribute of the same name wins")
        << Records{wByte("dup", "uint8", 1, 0), wByte("dup", "uint8", 1, 1)}
        << control(hex("03 0A 0B")) << Map{{"dup", "11"}};
    QTest::newRow("no writable data points")
        << Records{rec("r", "uint8", "status_readonly", "byte", 1, 0)} << control(hex("FF"))
        << Map{};

    // Short frames: nothing is read from the checksum or past the end.
    const Records mixed{wBit("on", 1, 0), wBit("m", 2, 1, "enum", {"x", "y"}),
                        wByte("lvl", "uint8", 1, 1), wByte("t", "uint16", 2, 2),
                        wByte("s", "binary", 3, 4)};
    QTest::newRow("whole values past the end give no entry")
        << mixed << control(hex("1F 03 09 01")) << Map{{"on", "1"}, {"m", "y"}, {"lvl", "9"}};
    QTest::newRow("bit area missing reads 0 and the first label")
        << mixed << control(hex("1F")) << Map{{"on", "0"}, {"m", "x"}};
    QTest::newRow("no flag byte at all") << mixed << hex("FF FF 00 06 03 00 00 00 01 0A") << Map{};
    QTest::newRow("bit offset outside the writable area reads 0")
        << Records{wBit("far", 1, 12)} << control(hex("01 FF")) << Map{{"far", "0"}};
}

void TestDataPointCodec::decodeControl()
{
    QFETCH(Records, records);
    QFETCH(QByteArray, frame);
    QFETCH(Map, expected);
    const Map got = DataPointCodec::decodeControl(DataPointDefinition(records), frame);
    QCOMPARE(got, expected);
}

void TestDataPointCodec::lampControlFrame()
{
    const DataPointDefinition def = lamp();
    // Sets 开关 (0), 模式 (1), 亮度 (3), 场景数据 (6); 夜灯 and 色温 carry values
    // but are not flagged.
    const QByteArray frame = control(hex("4B 06 50 11 94 00 00 00 3C DE AD BE EF"));
    QCOMPARE(frame.size(), 23);
    const Map got = DataPointCodec::decodeControl(def, frame);
    QCOMPARE(got, (Map{{"开关", "0"}, {"模式", "自动"}, {"亮度", "80"}, {"场景数据", "deadbeef"}}));

    const Map all = DataPointCodec::decodeControl(
        def, control(hex("7F 0E 50 11 94 00 01 51 80 DE AD BE EF")));
    QCOMPARE(all.size(), 7);
    QCOMPARE(all.value("夜灯"), QStringLiteral("1"));
    QCOMPARE(all.value("色温"), QStringLiteral("4500"));
    QCOMPARE(all.value("定时关闭"), QStringLiteral("86400"));
}

void TestDataPointCodec::lampReportAndControlAgree()
{
    // Values written into a report and the same writable bytes sent back as a
    // control frame decode to what was written.
    const DataPointDefinition def = lamp();
    QRandomGenerator rng(7);
    for (int round = 0; round < 50; ++round) {
        const int sw = int(rng.bounded(2)), mode = int(rng.bounded(4)), night = int(rng.bounded(2));
        const int level = int(rng.bounded(101)), temp = int(rng.bounded(2700, 6501));
        const int timer = int(rng.bounded(86401));
        QByteArray scene(4, '\0');
        for (char &c : scene)
            c = char(rng.bounded(256));

        QByteArray report = DataPointCodec::makeReportFrame(def);
        DataPointCodec::setValue(def, report, "开关", sw);
        DataPointCodec::setValue(def, report, "模式", mode);
        DataPointCodec::setValue(def, report, "夜灯", night);
        DataPointCodec::setValue(def, report, "亮度", level);
        DataPointCodec::setValue(def, report, "色温", temp);
        DataPointCodec::setValue(def, report, "定时关闭", timer);
        DataPointCodec::setBytes(def, report, "场景数据", scene);

        const QByteArray writable = report.mid(9, 12);
        const Map got = DataPointCodec::decodeControl(def, control(hex("7F") + writable));
        const QStringList labels{"阅读", "护眼", "睡眠", "自动"};
        QCOMPARE(got.value("开关"), QString::number(sw));
        QCOMPARE(got.value("模式"), labels.at(mode));
        QCOMPARE(got.value("夜灯"), QString::number(night));
        QCOMPARE(got.value("亮度"), QString::number(level));
        QCOMPARE(got.value("色温"), QString::number(temp));
        QCOMPARE(got.value("定时关闭"), QString::number(timer));
        QCOMPARE(got.value("场景数据"), QString::fromLatin1(scene.toHex()));
    }
}

void TestDataPointCodec::zemJsonUsesItsDefinition()
{
    TestRoot root;
    QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                ZemJson::cachePath(QStringLiteral("abc")));
    ZemJson json;
    json.loadJson(QStringLiteral("abc"));
    QByteArray frame = json.makeReportFrame();
    QCOMPARE(frame.size(), 30);
    const QByteArray returned = json.setValue(frame, "色温", 300);
    QCOMPARE(returned, frame);
    QCOMPARE(frame.mid(11, 2), hex("01 2C"));
    json.setBytes(frame, "场景数据", hex("0A FF"));
    QCOMPARE(frame.mid(17, 4), hex("0A FF 00 00"));
    QCOMPARE(json.decodeControl(control(hex("04 00 00 01 2C 00 00 00 00 00 00 00 00"))),
             (Map{{"夜灯", "0"}}));
}

void TestDataPointCodec::randomDefinitionsAndFramesStayInBounds()
{
    // Odd geometry and frames of any length: every write stays in the value
    // part of the report, every read in the frame (ASan checks the latter).
    const QStringList types{"bool", "enum", "uint8", "uint16", "uint32", "binary", "float"};
    const QStringList classes{"status_writable", "status_readonly", "alert", "fault", "x"};
    QRandomGenerator rng(2024);
    auto pick = [&](const QStringList &l) { return l.at(int(rng.bounded(l.size()))); };
    for (int round = 0; round < 3000; ++round) {
        Records records;
        const int count = int(rng.bounded(12));
        for (int i = 0; i < count; ++i)
            records.append(rec(QStringLiteral("r%1").arg(i % 9), pick(types), pick(classes),
                               rng.bounded(2) ? "bit" : "byte", int(rng.bounded(-3, 40)),
                               int(rng.bounded(-5, 50)), int(rng.bounded(-3, 40)), {"a", "b"}));
        const DataPointDefinition def(records);

        QByteArray report = DataPointCodec::makeReportFrame(def);
        const QByteArray head = report.left(9);
        const int size = report.size();
        for (const json_struct &r : records) {
            DataPointCodec::setValue(def, report, r.display_name, int(rng.generate()));
            DataPointCodec::setBytes(def, report, r.display_name,
                                     QByteArray(int(rng.bounded(60)), char(0xA5)));
        }
        QCOMPARE(report.size(), size);
        QCOMPARE(report.left(9), head);
        QCOMPARE(report.at(size - 1), '\0');

        QByteArray frame(int(rng.bounded(40)), '\0');
        for (char &c : frame)
            c = char(rng.bounded(256));
        const QMap<QString, QString> values = DataPointCodec::decodeControl(def, frame);
        QVERIFY(values.size() <= records.size());
    }
}

QTEST_GUILESS_MAIN(TestDataPointCodec)
#include "tst_datapointcodec.moc"
