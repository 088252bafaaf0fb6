// SPDX-License-Identifier: GPL-3.0-or-later
// The analyzer's detail pane: every field of a frame with its value and the
// bytes it covers, data points by name with a definition, and no field ever
// pointing outside the frame whatever the bytes.
#include "testsupport.h"

#include "analyzer/framefields.h"
#include "bridge/presetframes.h"
#include "datapoint/datapointdefinition.h"
#include "datapoint/datapointvalues.h"
#include "engine/zemreply.h"
#include "protocol/hexinput.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

namespace {

// Texts from the "settings file": the key in brackets, so a test sees which
// key a field was read from.
QString lookup(const QString &key)
{
    return QLatin1Char('[') + key + QLatin1Char(']');
}

DataPointDefinition lamp()
{
    QFile f(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"));
    if (!f.open(QIODevice::ReadOnly))
        return DataPointDefinition();
    return DataPointDefinition::fromJson(QJsonDocument::fromJson(f.readAll()).object());
}

const FrameField *field(const QVector<FrameField> &fields, const QString &name)
{
    for (const FrameField &f : fields)
        if (f.name == name)
            return &f;
    return nullptr;
}

QStringList names(const QVector<FrameField> &fields)
{
    QStringList out;
    for (const FrameField &f : fields)
        out.append(f.name);
    return out;
}

} // namespace

class TestFrameFields : public QObject
{
    Q_OBJECT
private slots:
    void commonFieldsOfAWholeFrame();
    void checksumAndLengthVerdicts_data();
    void checksumAndLengthVerdicts();
    void commandFields_data();
    void commandFields();
    void productInformation();
    void statusValuesByName_data();
    void statusValuesByName();
    void controlValuesByName();
    void statusWithoutDefinitionSaysHow();
    void shortStatusFrameKeepsWhatItHolds();
    void version3AndOtherBytes();
    void fieldsNeverLeaveTheFrame();
};

void TestFrameFields::commonFieldsOfAWholeFrame()
{
    // Heartbeat reply, sequence 07: FF FF 00 05 08 07 00 00 14.
    const QVector<FrameField> fields
        = frameFields(hex("FF FF 00 05 08 07 00 00 14"), SegmentKind::Frame4, lookup);
    QCOMPARE(names(fields),
             QStringList({"帧头", "长度", "命令", "说明", "序号", "标志", "校验和"}));
    struct Expected
    {
        const char *name;
        QString value;
        int offset;
        int size;
    };
    const Expected expected[] = {
        {"帧头", QStringLiteral("FF FF"), 0, 2},
        {"长度", QStringLiteral("5（0x0005）"), 2, 2},
        {"命令", QStringLiteral("0x08"), 4, 1},
        {"说明", QStringLiteral("[cmd/08]"), 4, 1},
        {"序号", QStringLiteral("7（0x07）"), 5, 1},
        {"标志", QStringLiteral("00 00"), 6, 2},
        {"校验和", QStringLiteral("0x14 正确"), 8, 1},
    };
    for (const Expected &e : expected) {
        const FrameField *f = field(fields, QString::fromUtf8(e.name));
        QVERIFY2(f, e.name);
        QCOMPARE(f->value, e.value);
        QCOMPARE(f->offset, e.offset);
        QCOMPARE(f->size, e.size);
    }
}

void TestFrameFields::checksumAndLengthVerdicts_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("length");
    QTest::addColumn<QString>("checksum");
    QTest::addColumn<int>("checksumOffset");

    QTest::newRow("right") << hex("FF FF 00 05 08 07 00 00 14") << "5（0x0005）"
                           << "0x14 正确" << 8;
    QTest::newRow("wrong checksum") << hex("FF FF 00 05 08 07 00 00 15") << "5（0x0005）"
                                    << "0x15 错误，应为0x14" << 8;
    QTest::newRow("cut short") << hex("FF FF 00 06 08 07 00 00 14")
                               << "6（0x0006）；应有10字节，帧中9字节"
                               << "帧不完整，无法校验" << -1;
    QTest::newRow("longer than its length")
        << hex("FF FF 00 05 08 07 00 00 14 00") << "5（0x0005）；应有9字节，帧中10字节"
        << "帧不完整，无法校验" << -1;
    // A payload FF is one byte here: the frame is the unescaped form.
    QTest::newRow("payload FF") << makeFrame(0x05, 1, hex("04 FF")) << "7（0x0007）"
                                << QStringLiteral("0x%1 正确")
                                       .arg(SettingKeys::hexCode(ZemTool::frameChecksum(
                                           makeFrame(0x05, 1, hex("04 FF")))))
                                << 10;
}

void TestFrameFields::checksumAndLengthVerdicts()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, length);
    QFETCH(QString, checksum);
    QFETCH(int, checksumOffset);
    const QVector<FrameField> fields = frameFields(frame, SegmentKind::Frame4, lookup);
    QCOMPARE(field(fields, "长度")->value, length);
    const FrameField *sum = field(fields, "校验和");
    QVERIFY(sum);
    QCOMPARE(sum->value, checksum);
    QCOMPARE(sum->offset, checksumOffset);
}

void TestFrameFields::commandFields_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("size");

    const QByteArray wifi = makeFrame(0x0D, 3, hex("0B 21"));
    QTest::newRow("signal strength") << wifi << "信号强度"
                                     << "03" << 8 << 1;
    QTest::newRow("app connected") << wifi << "APP连接"
                                   << "[hasconnect/01]" << 8 << 1;
    QTest::newRow("connection state") << wifi << "连接状态"
                                      << "[connect/02]" << 9 << 1;
    QTest::newRow("wifi state") << wifi << "WiFi状态"
                                << "[wifistate/01]" << 9 << 1;
    QTest::newRow("network time") << makeFrame(0x18, 1, hex("07 E2 0C 1F 17 3B 3A")) << "时间"
                                  << "2018年12月31日23时59分58秒" << 8 << 7;
    QTest::newRow("configuration mode") << makeFrame(0x09, 0, hex("02")) << "配置模式"
                                        << "[setmode/02]" << 8 << 1;
    QTest::newRow("status read action") << makeFrame(0x03, 4, hex("02")) << "动作"
                                        << "02 查询状态" << 8 << 1;
    QTest::newRow("description of a status read") << makeFrame(0x03, 4, hex("02")) << "说明"
                                                  << "[cmd/0302]" << 4 << 1;
    QTest::newRow("plain acknowledgement") << makeFrame(0x04, 4) << "说明"
                                           << "[cmd/0404]" << 4 << 1;
    const QByteArray start = makeFrame(0x19, 2, hex("00 00 00 00 00 03 AA BB CC"));
    QTest::newRow("firmware field count") << start << "固件信息长度"
                                          << "3" << 12 << 2;
    QTest::newRow("firmware field") << start << "固件信息"
                                    << "AA BB CC" << 14 << 3;
    const QByteArray piece = makeFrame(0x1D, 9, hex("01 02 00 00 DE AD BE EF"));
    QTest::newRow("piece number") << piece << "分片序号"
                                  << "258" << 8 << 2;
    QTest::newRow("piece data") << piece << "分片数据"
                                << "DE AD BE EF" << 12 << 4;
    QByteArray ready = makeFrame(0x1B, 0, hex("00 02 11 22 00 40"));
    ready[7] = 0x01;
    ZemTool::setFrameChecksum(ready);
    QTest::newRow("transfer type") << ready << "传输形式"
                                   << "hex" << 7 << 1;
    QTest::newRow("returned field") << ready << "固件信息"
                                    << "11 22" << 10 << 2;
    QTest::newRow("piece size") << ready << "分片大小"
                                << "64" << 12 << 2;
    QTest::newRow("unknown command") << makeFrame(0x42, 0) << "说明"
                                     << "未知命令" << 4 << 1;
    // A firmware piece's data is long: the value text is cut, the field
    // still covers every byte.
    const QByteArray big = makeFrame(0x1D, 0, hex("00 01 00 00") + QByteArray(200, '\x5A'));
    QTest::newRow("long data") << big << "分片数据"
                               << ZemTool::hexText(QByteArray(64, '\x5A')).trimmed()
            + QStringLiteral(" …（共200字节）")
                               << 12 << 200;
}

void TestFrameFields::commandFields()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(int, offset);
    QFETCH(int, size);
    const QVector<FrameField> fields = frameFields(frame, SegmentKind::Frame4, lookup);
    const FrameField *f = field(fields, name);
    QVERIFY2(f, qPrintable(names(fields).join(',')));
    QCOMPARE(f->value, value);
    QCOMPARE(f->offset, offset);
    QCOMPARE(f->size, size);
}

void TestFrameFields::productInformation()
{
    // The dual tab's preset product information reply.
    const QByteArray reply = HexInput::toBytes(PresetFrames::version4().at(3));
    const QVector<FrameField> fields = frameFields(reply, SegmentKind::Frame4, lookup);
    QCOMPARE(field(fields, "硬件版本")->value, QStringLiteral("00000001"));
    QCOMPARE(field(fields, "软件版本")->offset, 32);
    const FrameField *key = field(fields, "产品密钥");
    QCOMPARE(key->value, QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24"));
    QCOMPARE(key->offset, 40);
    QCOMPARE(key->size, 32);
    QCOMPARE(field(fields, "可绑定时间")->value, QStringLiteral("0"));
    // The key this copy of Lumo plays, from the settings, beside the frame's.
    QCOMPARE(field(fields, "本机产品密钥")->value, QStringLiteral("[product_key/key]"));
    QCOMPARE(field(fields, "校验和")->value.right(2), QStringLiteral("正确"));
    QVERIFY(!field(fields, "设备属性")); // a normal module carries none
}

void TestFrameFields::statusValuesByName_data()
{
    QTest::addColumn<bool>("answer");
    QTest::newRow("status report 05") << false;
    QTest::newRow("status answer 04") << true;
}

void TestFrameFields::statusValuesByName()
{
    QFETCH(bool, answer);
    const DataPointDefinition def = lamp();
    QVERIFY(!def.isEmpty());
    DataPointValues values(def);
    const auto row = [&def](const char *name) { return def.indexOf(QString::fromUtf8(name)); };
    values.setNumber(row("开关"), 1);
    values.setNumber(row("模式"), 3);
    values.setNumber(row("亮度"), 80);
    values.setNumber(row("色温"), 4000);
    values.setNumber(row("定时关闭"), 86400);
    values.setHexText(row("场景数据"), QStringLiteral("0a0b0c0d"));
    values.setNumber(row("运行状态"), 2);
    values.setNumber(row("人体感应"), 1);
    values.setNumber(row("温度"), 57);
    values.setNumber(row("电源故障"), 1);
    QByteArray frame = values.statusReport();
    if (answer)
        frame = ZemReply::statusAnswer(hex("FF FF 00 06 04 2A 00 00 03 00"), frame);
    QCOMPARE(Frame::commandCode(frame), answer ? 0x04 : 0x05);

    const QVector<FrameField> fields = frameFields(frame, SegmentKind::Frame4, lookup, &def);
    const struct
    {
        const char *name;
        const char *value;
        int offset; // in the frame: value part at 9
        int size;
    } expected[] = {
        {"开关", "1", 9, 1},
        {"模式", "自动", 9, 1},
        {"夜灯", "0", 9, 1},
        {"亮度", "80", 10, 1},
        {"色温", "4000", 11, 2},
        {"定时关闭", "86400", 13, 4},
        {"场景数据", "0a0b0c0d", 17, 4},
        {"运行状态", "升级中", 21, 1},
        {"人体感应", "1", 21, 1},
        {"温度", "57", 22, 1},
        {"累计运行时长", "0", 23, 4},
        {"过热报警", "0", 27, 1},
        {"灯珠故障", "0", 28, 1},
        {"电源故障", "1", 28, 1},
    };
    for (const auto &e : expected) {
        const QString name = QStringLiteral("数据点 ") + QString::fromUtf8(e.name);
        const FrameField *f = field(fields, name);
        QVERIFY2(f, e.name);
        QCOMPARE(f->value, QString::fromUtf8(e.value));
        QCOMPARE(f->offset, e.offset);
        QCOMPARE(f->size, e.size);
    }
    QCOMPARE(field(fields, "动作")->value,
             answer ? QStringLiteral("03 状态应答") : QStringLiteral("04 状态上报"));
    QCOMPARE(field(fields, "校验和")->value.right(2), QStringLiteral("正确"));
}

void TestFrameFields::controlValuesByName()
{
    const DataPointDefinition def = lamp();
    // Sets 开关 (attribute 0), 模式 (1), 亮度 (3) and 色温 (4): flags 1B.
    // Value part after the flag byte: the writable bit area (开关 bit 0,
    // 模式 bits 1-2 = 2), 亮度, 色温, 定时关闭, 场景数据.
    const QByteArray frame
        = makeFrame(0x03, 0x21, hex("01 1B 05 50 0F A0 00 00 00 00 00 00 00 00"));
    const QVector<FrameField> fields = frameFields(frame, SegmentKind::Frame4, lookup, &def);
    const FrameField *flags = field(fields, "设置标志");
    QVERIFY(flags);
    QCOMPARE(flags->value, QStringLiteral("开关、模式、亮度、色温"));
    QCOMPARE(flags->offset, 9);
    QCOMPARE(field(fields, "数据点 开关")->value, QStringLiteral("1"));
    QCOMPARE(field(fields, "数据点 开关")->offset, 10);
    QCOMPARE(field(fields, "数据点 模式")->value, QStringLiteral("睡眠"));
    QCOMPARE(field(fields, "数据点 亮度")->value, QStringLiteral("80"));
    QCOMPARE(field(fields, "数据点 亮度")->offset, 11);
    QCOMPARE(field(fields, "数据点 色温")->value, QStringLiteral("4000"));
    QCOMPARE(field(fields, "数据点 色温")->offset, 12);
    QCOMPARE(field(fields, "数据点 色温")->size, 2);
    // Not set by this frame: not shown as set.
    QVERIFY(!field(fields, "数据点 夜灯"));
    QVERIFY(!field(fields, "数据点 定时关闭"));
    QCOMPARE(field(fields, "说明")->value, QStringLiteral("[cmd/0301]"));
}

void TestFrameFields::statusWithoutDefinitionSaysHow()
{
    const QByteArray report = makeFrame(0x05, 0, hex("04 01 02 03"));
    const QVector<FrameField> fields = frameFields(report, SegmentKind::Frame4, lookup);
    const FrameField *hint = field(fields, "数据点");
    QVERIFY(hint);
    QCOMPARE(hint->offset, -1);
    QVERIFY(hint->value.contains(QStringLiteral("数据点定义")));
    QCOMPARE(field(fields, "负载")->value, QStringLiteral("04 01 02 03"));
    // An empty definition is no definition.
    const DataPointDefinition empty;
    QVERIFY(field(frameFields(report, SegmentKind::Frame4, lookup, &empty), "数据点"));
}

void TestFrameFields::shortStatusFrameKeepsWhatItHolds()
{
    // A report that ends after 亮度: the values it holds by name, the rest
    // said to be missing, none taken from the checksum byte.
    const DataPointDefinition def = lamp();
    const QByteArray report = makeFrame(0x05, 0, hex("04 01 50"));
    const QVector<FrameField> fields = frameFields(report, SegmentKind::Frame4, lookup, &def);
    QCOMPARE(field(fields, "数据点 开关")->value, QStringLiteral("1"));
    QCOMPARE(field(fields, "数据点 亮度")->value, QStringLiteral("80"));
    const FrameField *missing = field(fields, "数据点 色温");
    QVERIFY(missing);
    QCOMPARE(missing->offset, -1);
    QCOMPARE(missing->value, QStringLiteral("（帧中没有此值）"));
}

void TestFrameFields::version3AndOtherBytes()
{
    const QVector<FrameField> v3
        = frameFields(hex("00 00 00 03 00 02 03 0b"), SegmentKind::Frame3, lookup);
    QCOMPARE(names(v3), QStringList({"帧头", "长度", "数据"}));
    QCOMPARE(field(v3, "长度")->value, QStringLiteral("2（0x0002）"));
    QCOMPARE(field(v3, "数据")->value, QStringLiteral("03 0B"));
    QCOMPARE(field(v3, "数据")->offset, 6);
    const QVector<FrameField> cut
        = frameFields(hex("00 00 00 03 00 09 03"), SegmentKind::Frame3, lookup);
    QVERIFY(field(cut, "长度")->value.contains(QStringLiteral("应有15字节，帧中7字节")));

    const QByteArray boot("boot v1.2\r\n");
    const QVector<FrameField> other = frameFields(boot, SegmentKind::Other, lookup);
    QCOMPARE(field(other, "帧外字节")->value, QStringLiteral("11字节"));
    QCOMPARE(field(other, "文本")->value, QStringLiteral("boot v1.2.."));
    QCOMPARE(field(other, "文本")->size, 11);
    QCOMPARE(field(other, "十六进制")->value, ZemTool::hexText(boot).trimmed());
    // Bytes that look like a frame are still shown as what the line made of
    // them.
    QVERIFY(!field(frameFields(hex("FF FF 00 02"), SegmentKind::Other, lookup), "长度"));
}

void TestFrameFields::fieldsNeverLeaveTheFrame()
{
    const DataPointDefinition def = lamp();
    QRandomGenerator rng(11);
    QVector<QByteArray> frames;
    // Every prefix of real frames of each shape, and random bytes after a
    // real header.
    DataPointValues values(def);
    const QByteArray report = values.statusReport();
    const QByteArray shapes[] = {
        report,
        makeFrame(0x03, 1, hex("01 7F FF FF FF FF FF FF FF FF FF FF FF FF")),
        HexInput::toBytes(PresetFrames::version4().at(3)),
        makeFrame(0x19, 2, hex("00 00 00 00 FF FF AA")),
        makeFrame(0x1B, 2, hex("FF F0 AA")),
        makeFrame(0x0D, 2, hex("FF")),
        makeFrame(0x18, 2, hex("07 E2 0C")),
    };
    for (const QByteArray &shape : shapes)
        for (int n = 0; n <= shape.size(); ++n)
            frames.append(shape.left(n));
    for (int i = 0; i < 500; ++i) {
        QByteArray f = hex("FF FF");
        const int n = int(rng.bounded(0, 40));
        for (int k = 0; k < n; ++k)
            f.append(char(rng.bounded(256)));
        if (f.size() > 4)
            f[4] = char(rng.bounded(0, 0x22)); // mostly known commands
        frames.append(f);
    }
    for (const QByteArray &frame : qAsConst(frames)) {
        for (SegmentKind kind : {SegmentKind::Frame4, SegmentKind::Frame3, SegmentKind::Other}) {
            const QVector<FrameField> fields = frameFields(frame, kind, lookup, &def);
            for (const FrameField &f : fields) {
                QVERIFY(!f.name.isEmpty());
                if (f.offset < 0)
                    continue;
                QVERIFY2(f.size >= 0 && f.offset + f.size <= frame.size(),
                         qPrintable(QStringLiteral("%1 at %2+%3 in %4")
                                        .arg(f.name)
                                        .arg(f.offset)
                                        .arg(f.size)
                                        .arg(ZemTool::hexText(frame))));
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestFrameFields)
#include "tst_framefields.moc"
