// SPDX-License-Identifier: GPL-3.0-or-later
// The data-point table: editors built from a definition, the status report
// built from the editors, and control frames shown in the table. On real
// widgets: the simulated-MCU window and bare QTableWidgets.
#include "testsupport.h"

#include "base/apppaths.h"
#include "datapoint/zemjson.h"
#include "engine/mcusimulator.h"
#include "mcu/datapointtable.h"
#include "mcu/mcuwindow.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPointer>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

#include <limits>

namespace {

const QString LampKey = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");

struct Attr
{
    QString name;
    QString dataType;
    QString type;
    QString unit;
    int len;
    int byteOffset;
    int bitOffset;
    QStringList labels;
    qint64 min;
    qint64 max;
};

// The service's answer for these attributes.
QByteArray answerOf(const QList<Attr> &attrs)
{
    QJsonArray list;
    int id = 0;
    for (const Attr &a : attrs) {
        QJsonObject o{{"id", id++},
                      {"display_name", a.name},
                      {"name", a.name},
                      {"data_type", a.dataType},
                      {"type", a.type},
                      {"position",
                       QJsonObject{{"unit", a.unit},
                                   {"len", a.len},
                                   {"byte_offset", a.byteOffset},
                                   {"bit_offset", a.bitOffset}}}};
        if (!a.labels.isEmpty())
            o.insert("enum", QJsonArray::fromStringList(a.labels));
        if (a.dataType.startsWith("uint"))
            o.insert("uint_spec", QJsonObject{{"min", double(a.min)}, {"max", double(a.max)}});
        list.append(o);
    }
    QJsonObject entity{{"id", 0}, {"attrs", list}};
    return QJsonDocument(QJsonObject{{"entities", QJsonArray{entity}}}).toJson();
}

bool storeCache(const QString &key, const QByteArray &body)
{
    QDir().mkpath(AppPaths::jsonDir());
    QFile f(ZemJson::cachePath(key));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(body) == body.size();
}

QByteArray lampAnswer()
{
    QFile f(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A bare table over a model of the values of a ZemJson loaded with `attrs`.
struct Bench
{
    explicit Bench(const QList<Attr> &attrs)
    {
        storeCache("k", answerOf(attrs));
        json.loadJson("k");
        model.setValues(DataPointValues(json.definition()));
        DataPointTable::bind(&table, &model);
    }
    template <class T> T *editor(int row) { return qobject_cast<T *>(table.cellWidget(row, 1)); }
    // The values are the truth: the editors wrote into them.
    QByteArray report() { return model.values().statusReport(); }
    void apply(const QByteArray &frame) { model.applyControl(frame); }

    ZemJson json;
    DataPointModel model;
    QTableWidget table;
};

QColor background(QTableWidget *table, int row)
{
    return table->item(row, 0)->background().color();
}

bool hasNoBackground(QTableWidget *table, int row)
{
    return table->item(row, 0)->background().style() == Qt::NoBrush;
}

// A control command (03, action 01) carrying the given flags and values.
QByteArray control(const QByteArray &flagsAndValues)
{
    return makeFrame(0x03, 0x05, hex("01") + flagsAndValues);
}

} // namespace

class TestDataPointTable : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void lampTableBuiltAtStartUp();
    void lampReportFromTheEditors();
    void controlFramesSetValuesAndColours();
    void laterDefinitionRebuildsTheTable();
    void boolAndReadonlyByte();
    void binaryEditorPadsOnTheRight_data();
    void binaryEditorPadsOnTheRight();
    void largeBinaryValueFromControlStaysByteAligned();
    void unknownDataTypeRowHasNoEditor();
    void emptyDefinitionGivesTenByteReport();
    void rebuildDropsOldEditors();
    void controlValuesAreClamped();
    void enumValueWithoutLabelKeepsSelection();
    void enumWithoutLabelsWritesNothing();
    void collapsedRangeSitsOnMinimum();
    void modelAndEditorsStayInStep();

private:
    std::unique_ptr<TestRoot> m_root;
};

void TestDataPointTable::init()
{
    m_root = std::make_unique<TestRoot>();
}

void TestDataPointTable::cleanup()
{
    m_root.reset();
}

void TestDataPointTable::lampTableBuiltAtStartUp()
{
    QVERIFY(storeCache(LampKey, lampAnswer()));
    ZemTool().writeSetting(SettingKeys::ProductKey, LampKey);
    ZemTool settings;
    McuWindow w(&settings);
    auto *table = w.findChild<QTableWidget *>(QStringLiteral("datapoint_table"));
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 14);
    QCOMPARE(table->columnCount(), 2);
    QCOMPARE(table->columnWidth(0), 220);
    const QStringList names{"开关",         "模式",     "夜灯",     "亮度",     "色温",
                            "定时关闭",     "场景数据", "运行状态", "人体感应", "温度",
                            "累计运行时长", "过热报警", "灯珠故障", "电源故障"};
    for (int row = 0; row < 14; ++row) {
        QCOMPARE(table->item(row, 0)->text(), names.at(row));
        QVERIFY(!(table->item(row, 0)->flags() & Qt::ItemIsEditable));
        QVERIFY(table->item(row, 1));
        QVERIFY(table->item(row, 1)->text().isEmpty());
        if (row < 7)
            QVERIFY2(hasNoBackground(table, row), qPrintable(names.at(row)));
        else
            QCOMPARE(background(table, row), QColor(221, 221, 221));
        QVERIFY(table->cellWidget(row, 1)->isEnabled());
    }

    auto spin = [&](int row) { return qobject_cast<QSpinBox *>(table->cellWidget(row, 1)); };
    QVERIFY(spin(0));
    QCOMPARE(spin(0)->minimum(), 0);
    QCOMPARE(spin(0)->maximum(), 1);
    auto *mode = qobject_cast<QComboBox *>(table->cellWidget(1, 1));
    QVERIFY(mode);
    QCOMPARE(mode->count(), 4);
    QCOMPARE(mode->itemText(2), QStringLiteral("睡眠"));
    QCOMPARE(mode->currentIndex(), 0);
    QVERIFY(!mode->itemData(0).isValid());
    QCOMPARE(spin(3)->maximum(), 100);
    QCOMPARE(spin(4)->minimum(), 2700);
    QCOMPARE(spin(4)->maximum(), 6500);
    QCOMPARE(spin(5)->maximum(), 86400);
    auto *scene = qobject_cast<QLineEdit *>(table->cellWidget(6, 1));
    QVERIFY(scene);
    QCOMPARE(scene->maxLength(), 8);
    QVERIFY(qobject_cast<QComboBox *>(table->cellWidget(7, 1)));
    QCOMPARE(spin(10)->maximum(), 1000000);
    QVERIFY(spin(13));
    QCOMPARE(w.simulator()->values().definition().records().size(), 14);
}

void TestDataPointTable::lampReportFromTheEditors()
{
    QVERIFY(storeCache(LampKey, lampAnswer()));
    ZemTool().writeSetting(SettingKeys::ProductKey, LampKey);
    ZemTool settings;
    McuWindow w(&settings);
    w.show();
    auto *table = w.findChild<QTableWidget *>(QStringLiteral("datapoint_table"));
    QCOMPARE(table->rowCount(), 14);
    auto spin = [&](int row) { return qobject_cast<QSpinBox *>(table->cellWidget(row, 1)); };
    auto combo = [&](int row) { return qobject_cast<QComboBox *>(table->cellWidget(row, 1)); };

    spin(0)->setValue(1);         // 开关
    combo(1)->setCurrentIndex(2); // 模式 睡眠
    spin(2)->setValue(1);         // 夜灯
    spin(3)->setValue(55);        // 亮度
    spin(4)->setValue(4000);      // 色温
    spin(5)->setValue(3600);      // 定时关闭
    auto *scene = qobject_cast<QLineEdit *>(table->cellWidget(6, 1));
    scene->setFocus();
    QTest::keyClicks(scene, QStringLiteral("a1g b")); // the validator keeps "a1b"
    QCOMPARE(scene->text(), QStringLiteral("a1b"));
    combo(7)->setCurrentIndex(1); // 运行状态 工作
    spin(8)->setValue(1);         // 人体感应
    spin(9)->setValue(40);        // 温度
    spin(10)->setValue(123456);   // 累计运行时长
    spin(11)->setValue(1);        // 过热报警
    spin(13)->setValue(1);        // 电源故障
    spin(3)->setValue(500);       // clamped to 100 by the editor
    spin(3)->setValue(55);

    // Worked out by hand: writable bit area 0D (bit 0, bits 1-2 = 2, bit 3),
    // then 37 | 0F A0 | 00 00 0E 10 | A1 B0 00 00, read-only area 05, 28,
    // 00 01 E2 40, alert 01, fault 02 (bit 1); checksum D8.
    const QByteArray expected = hex("FF FF 00 1A 05 00 00 00 04 0D 37 0F A0 00 00 0E 10 A1 B0 00"
                                    "00 05 28 00 01 E2 40 01 02 D8");
    QCOMPARE(w.buildStatusReport(), expected);
    QCOMPARE(w.buildStatusReport(), expected); // building does not change the table
}

void TestDataPointTable::controlFramesSetValuesAndColours()
{
    QVERIFY(storeCache(LampKey, lampAnswer()));
    ZemTool().writeSetting(SettingKeys::ProductKey, LampKey);
    ZemTool settings;
    McuWindow w(&settings);
    auto *table = w.findChild<QTableWidget *>(QStringLiteral("datapoint_table"));
    auto spin = [&](int row) { return qobject_cast<QSpinBox *>(table->cellWidget(row, 1)); };
    auto *mode = qobject_cast<QComboBox *>(table->cellWidget(1, 1));
    auto *scene = qobject_cast<QLineEdit *>(table->cellWidget(6, 1));
    spin(0)->setValue(1);
    spin(2)->setValue(1);
    spin(4)->setValue(4000);
    spin(5)->setValue(3600);
    mode->setCurrentIndex(1);
    qobject_cast<QComboBox *>(table->cellWidget(7, 1))->setCurrentIndex(1);
    spin(8)->setValue(1);
    spin(9)->setValue(40);
    spin(10)->setValue(123456);
    spin(11)->setValue(1);
    spin(13)->setValue(1);

    // Sets 开关 0, 模式 自动, 亮度 80, 场景数据; the frame also carries 夜灯
    // and 色温 bits and bytes that are not flagged.
    w.applyControlFrame(control(hex("4B 0E 50 11 94 00 00 00 3C DE AD BE EF")));
    QCOMPARE(spin(0)->value(), 0);
    QCOMPARE(mode->currentText(), QStringLiteral("自动"));
    QCOMPARE(spin(2)->value(), 1);
    QCOMPARE(spin(3)->value(), 80);
    QCOMPARE(spin(4)->value(), 4000);
    QCOMPARE(scene->text(), QStringLiteral("deadbeef"));
    const QColor changed(252, 222, 156), white(255, 255, 255), grey(221, 221, 221);
    for (int row : {0, 1, 3, 6})
        QCOMPARE(background(table, row), changed);
    for (int row : {2, 4, 5})
        QCOMPARE(background(table, row), white);
    for (int row = 7; row < 14; ++row)
        QCOMPARE(background(table, row), grey);

    // The next frame sets only 夜灯: the marks of the first one go.
    w.applyControlFrame(control(hex("04 00 00 00 00 00 00 00 00 00 00 00 00")));
    QCOMPARE(spin(2)->value(), 0);
    QCOMPARE(background(table, 2), changed);
    for (int row : {0, 1, 3, 4, 5, 6})
        QCOMPARE(background(table, row), white);
    for (int row = 7; row < 14; ++row)
        QCOMPARE(background(table, row), grey);
    QCOMPARE(spin(3)->value(), 80);

    // The device now reports what the module set.
    QCOMPARE(w.buildStatusReport(),
             hex("FF FF 00 1A 05 00 00 00 04 06 50 0F A0 00 00 0E 10 DE AD BE EF"
                 "05 28 00 01 E2 40 01 02 D1"));
}

void TestDataPointTable::laterDefinitionRebuildsTheTable()
{
    // Nothing cached at start: an empty table until a definition is parsed.
    ZemTool().writeSetting(SettingKeys::ProductKey, LampKey);
    ZemTool settings;
    McuWindow w(&settings);
    auto *table = w.findChild<QTableWidget *>(QStringLiteral("datapoint_table"));
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(storeCache(LampKey, lampAnswer()));
    w.findChild<ZemJson *>(QStringLiteral("mcuJson"))
        ->loadJson(LampKey); // ListOk reaches the table
    QCOMPARE(table->rowCount(), 14);
    QCOMPARE(w.buildStatusReport().size(), 30);
}

void TestDataPointTable::boolAndReadonlyByte()
{
    Bench b({{"on", "bool", "status_writable", "bit", 1, 0, 0, {}, 0, 0},
             {"level", "uint8", "status_readonly", "byte", 1, 1, 0, {}, 0, 100}});
    QCOMPARE(b.table.rowCount(), 2);
    QVERIFY(hasNoBackground(&b.table, 0));
    QCOMPARE(background(&b.table, 1), QColor(221, 221, 221));
    b.editor<QSpinBox>(0)->setValue(1);
    b.editor<QSpinBox>(1)->setValue(55);
    QCOMPARE(b.report(), hex("FF FF 00 08 05 00 00 00 04 01 37 49"));
}

void TestDataPointTable::binaryEditorPadsOnTheRight_data()
{
    QTest::addColumn<int>("len");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("one digit in two bytes") << 2 << "1" << hex("10 00");
    QTest::newRow("empty in three bytes") << 3 << "" << hex("00 00 00");
    QTest::newRow("too many digits are refused") << 3 << "abcdef12" << hex("AB CD EF");
    QTest::newRow("upper and lower case") << 2 << "aBc" << hex("AB C0");
    QTest::newRow("non-hex refused") << 2 << "x9y-" << hex("90 00");
    // The editor holds at most 32766 digits: whole bytes, never a nibble off.
    QTest::newRow("16384 bytes, one digit") << 16384 << "1" << hex("10") + QByteArray(16383, '\0');
    QTest::newRow("20000 bytes, three digits")
        << 20000 << "ab5" << hex("AB 50") + QByteArray(19998, '\0');
}

void TestDataPointTable::binaryEditorPadsOnTheRight()
{
    QFETCH(int, len);
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    Bench b({{"lead", "uint8", "status_writable", "byte", 1, 0, 0, {}, 0, 255},
             {"blob", "binary", "status_writable", "byte", len, 1, 0, {}, 0, 0},
             {"tail", "uint8", "status_writable", "byte", 1, 1 + len, 0, {}, 0, 255}});
    b.editor<QSpinBox>(0)->setValue(0xEE);
    b.editor<QSpinBox>(2)->setValue(0x77);
    auto *edit = b.editor<QLineEdit>(1);
    QCOMPARE(edit->maxLength(), qMin(2 * len, 32766));
    b.table.show();
    edit->setFocus();
    QTest::keyClicks(edit, typed);
    const QByteArray report = b.report();
    QCOMPARE(report.size(), 10 + 2 + len);
    QCOMPARE(report.mid(9, 2 + len), hex("EE") + bytes + hex("77"));
    QCOMPARE(quint8(report.at(report.size() - 1)), ZemTool::frameChecksum(report));
}

void TestDataPointTable::largeBinaryValueFromControlStaysByteAligned()
{
    // A control frame sets a 16384-byte value: the editor keeps what it can
    // hold (16383 bytes) and the report carries those bytes where they were
    // set, the one it cannot hold as 00.
    const int len = 16384;
    Bench b({{"lead", "uint8", "status_writable", "byte", 1, 0, 0, {}, 0, 255},
             {"blob", "binary", "status_writable", "byte", len, 1, 0, {}, 0, 0},
             {"tail", "uint8", "status_writable", "byte", 1, 1 + len, 0, {}, 0, 255}});
    QByteArray value(len, '\0');
    for (int i = 0; i < len; ++i)
        value[i] = char((i * 7 + 1) & 0xFF);
    b.apply(control(hex("07 EE") + value + hex("77")));
    QCOMPARE(b.editor<QLineEdit>(1)->text().size(), 32766);
    const QByteArray report = b.report();
    QCOMPARE(report.size(), 10 + 2 + len);
    QCOMPARE(report.mid(9, 1), hex("EE"));
    QCOMPARE(report.mid(10, len), value.left(len - 1) + QByteArray(1, '\0'));
    QCOMPARE(report.mid(10 + len, 1), hex("77"));
}

void TestDataPointTable::unknownDataTypeRowHasNoEditor()
{
    Bench b({{"ratio", "float", "status_writable", "byte", 2, 0, 0, {}, 0, 0},
             {"level", "uint8", "status_writable", "byte", 1, 2, 0, {}, 0, 255}});
    QCOMPARE(b.table.rowCount(), 2);
    QCOMPARE(b.table.item(0, 0)->text(), QStringLiteral("ratio"));
    QVERIFY(!b.table.cellWidget(0, 1));
    b.editor<QSpinBox>(1)->setValue(9);
    QCOMPARE(b.report(), hex("FF FF 00 09 05 00 00 00 04 00 00 09 1B"));
    // A control frame for it changes nothing in the table.
    b.apply(control(hex("03 01 02 05")));
    QVERIFY(!b.table.cellWidget(0, 1));
    QCOMPARE(b.editor<QSpinBox>(1)->value(), 5);
}

void TestDataPointTable::emptyDefinitionGivesTenByteReport()
{
    Bench b({});
    QCOMPARE(b.table.rowCount(), 0);
    QCOMPARE(b.report(), hex("FF FF 00 06 05 00 00 00 04 0F"));
    b.apply(control(hex("")));
    QCOMPARE(b.table.rowCount(), 0);
}

void TestDataPointTable::rebuildDropsOldEditors()
{
    Bench b({{"a", "bool", "status_writable", "bit", 1, 0, 0, {}, 0, 0},
             {"b", "uint16", "status_writable", "byte", 2, 1, 0, {}, 0, 9999}});
    QPointer<QWidget> old = b.table.cellWidget(1, 1);
    b.editor<QSpinBox>(1)->setValue(1234);
    QVERIFY(old);
    b.model.setValues(DataPointValues(b.json.definition())); // a new definition: new values
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(old.isNull());
    QCOMPARE(b.table.findChildren<QSpinBox *>().size(), 2);
    QCOMPARE(b.editor<QSpinBox>(1)->value(), 0); // typed values are gone
    QCOMPARE(b.report(), hex("FF FF 00 09 05 00 00 00 04 00 00 00 12"));
}

void TestDataPointTable::controlValuesAreClamped()
{
    Bench b({{"timer", "uint32", "status_writable", "byte", 4, 0, 0, {}, 0, 86400},
             {"big", "uint32", "status_writable", "byte", 4, 4, 0, {}, 0, 4294967295LL},
             {"level", "uint8", "status_writable", "byte", 1, 8, 0, {}, 10, 20}});
    QCOMPARE(b.editor<QSpinBox>(1)->maximum(), std::numeric_limits<int>::max());
    b.apply(control(hex("07 FF FF FF FF FF FF FF FF 02")));
    QCOMPARE(b.editor<QSpinBox>(0)->value(), 86400);
    QCOMPARE(b.editor<QSpinBox>(1)->value(), std::numeric_limits<int>::max());
    QCOMPARE(b.editor<QSpinBox>(2)->value(), 10);
    QCOMPARE(b.report().mid(9, 9), hex("00 01 51 80 7F FF FF FF 0A"));
}

void TestDataPointTable::enumValueWithoutLabelKeepsSelection()
{
    Bench b({{"mode", "enum", "status_writable", "bit", 2, 0, 0, {"a", "b", "c"}, 0, 0}});
    auto *combo = b.editor<QComboBox>(0);
    combo->setCurrentIndex(1);
    b.apply(control(hex("01 03"))); // value 3: no label
    QCOMPARE(combo->currentIndex(), 1);
    QCOMPARE(background(&b.table, 0), QColor(252, 222, 156));
    b.apply(control(hex("01 02")));
    QCOMPARE(combo->currentText(), QStringLiteral("c"));
}

void TestDataPointTable::enumWithoutLabelsWritesNothing()
{
    Bench b({{"mode", "enum", "status_writable", "bit", 2, 0, 0, {}, 0, 0},
             {"on", "bool", "status_writable", "bit", 1, 0, 2, {}, 0, 0}});
    QCOMPARE(b.editor<QComboBox>(0)->currentIndex(), -1);
    b.editor<QSpinBox>(1)->setValue(1);
    QCOMPARE(b.report().at(9), char(0x04));
}

void TestDataPointTable::collapsedRangeSitsOnMinimum()
{
    Bench b({{"odd", "uint8", "status_writable", "byte", 1, 0, 0, {}, 50, 10}});
    auto *spin = b.editor<QSpinBox>(0);
    QCOMPARE(spin->minimum(), 50);
    QCOMPARE(spin->maximum(), 50);
    QCOMPARE(b.report().at(9), char(50));
}

void TestDataPointTable::modelAndEditorsStayInStep()
{
    Bench b({{"on", "bool", "status_writable", "bit", 1, 0, 0, {}, 0, 0},
             {"mode", "enum", "status_writable", "bit", 2, 0, 1, {"a", "b", "c"}, 0, 0},
             {"blob", "binary", "status_writable", "byte", 2, 1, 0, {}, 0, 0},
             {"temp", "uint8", "status_readonly", "byte", 1, 3, 0, {}, 0, 99}});
    DataPointModel &m = b.model;
    QCOMPARE(b.table.horizontalHeaderItem(1)->text(), m.headerData(1, Qt::Horizontal).toString());
    // The editors are the delegate's persistent editors, found as cell widgets.
    for (int row = 0; row < 4; ++row) {
        QVERIFY(b.table.isPersistentEditorOpen(b.table.item(row, 1)));
        QCOMPARE(b.table.indexWidget(b.table.model()->index(row, 1)), b.table.cellWidget(row, 1));
    }
    QSignalSpy changed(&m, &DataPointModel::dataChanged);
    QSignalSpy edited(&m, &DataPointModel::edited);

    // Model to editor: setData shows in the editor, once; the same value is no change.
    QVERIFY(m.setData(m.index(1, 1), 2));
    QVERIFY(m.setData(m.index(1, 1), 2));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(b.editor<QComboBox>(1)->currentIndex(), 2);
    QCOMPARE(m.index(1, 1).data().toString(), QStringLiteral("c"));
    QVERIFY(!m.setData(m.index(1, 0), QStringLiteral("x"))); // names are no values
    // Editor to model, at once.
    b.editor<QSpinBox>(3)->setValue(42);
    b.editor<QLineEdit>(2)->setText(QStringLiteral("ab"));
    QCOMPARE(m.index(3, 1).data(Qt::EditRole).toInt(), 42);
    QCOMPARE(m.index(2, 1).data(Qt::EditRole).toString(), QStringLiteral("ab"));
    QCOMPARE(edited.size(), 3);
    QCOMPARE(b.report().mid(9, 4), hex("04 AB 00 2A")); // mode 2 at bits 1-2

    // A control frame: the rows it set change, the marks are the model's.
    changed.clear();
    b.apply(control(hex("01 01 00 00")));
    QCOMPARE(b.editor<QSpinBox>(0)->value(), 1);
    QVERIFY(!changed.isEmpty());
    QCOMPARE(changed.last().at(0).toModelIndex().row(), 0);
    const QColor expected[] = {DataPointTable::changedColor(), DataPointTable::clearedColor(),
                               DataPointTable::clearedColor(), DataPointTable::readonlyColor()};
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(QColor(m.index(row, 0).data(Qt::BackgroundRole).toString()), expected[row]);
        QCOMPARE(background(&b.table, row), expected[row]);
    }
    QCOMPARE(edited.size(), 3); // a control frame is no edit
}

QTEST_MAIN(TestDataPointTable)
#include "tst_datapointtable.moc"
