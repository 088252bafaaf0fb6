// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated MCU's rules that are simpler to check in the process than
// through lumo-mcu (see tst_lumomcu): values typed as text, and which paths
// a port opens.
#include "testsupport.h"

#include "engine/mcusimulator.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QFile>
#include <QtTest>

namespace {

const QString SampleKey = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");

// The 20 value bytes of the sample lamp's status: writable bit area
// (switch bit 0, mode bits 1-2, night light bit 3), brightness, colour
// temperature (2 bytes), timer (4), scene (4), then the read-only, alert
// and fault values.
QByteArray lampValues(quint8 area, quint8 brightness, quint16 colourTemp = 2700)
{
    QByteArray v(20, '\0');
    v[0] = char(area);
    v[1] = char(brightness);
    v[2] = char(colourTemp >> 8);
    v[3] = char(colourTemp & 0xFF);
    return v;
}

} // namespace

class TestMcuSimulator : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void setValueByText_data();
    void setValueByText();
    void unlistedPathOpensHereButNotUnderTheWindowsRule();

private:
    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<ZemTool> m_settings;
    std::unique_ptr<McuSimulator> m_sim;
};

void TestMcuSimulator::init()
{
    m_root = std::make_unique<TestRoot>();
    qunsetenv("LUMO_EXTRA_PORTS");
    ZemTool().writeSetting(SettingKeys::ProductKey, SampleKey);
    QVERIFY(
        QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                    m_root->file(QStringLiteral("json/") + SampleKey + QStringLiteral(".json"))));
    m_settings = std::make_unique<ZemTool>();
    m_sim = std::make_unique<McuSimulator>(m_settings.get());
    m_sim->loadDefinition();
    QCOMPARE(m_sim->values().count(), 14);
}

void TestMcuSimulator::cleanup()
{
    m_sim.reset();
    m_root.reset();
}

void TestMcuSimulator::setValueByText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("values"); // the report's values when accepted

    // A null `values` means refused.
    auto row = [](const char *tag, const char *name, const char *text, const QByteArray &values) {
        QTest::newRow(tag) << QString::fromUtf8(name) << QString::fromUtf8(text) << !values.isNull()
                           << values;
    };
    const QByteArray refused;
    QByteArray scene = lampValues(0, 0);
    scene.replace(8, 4, hex("0A0B0C0D"));
    QByteArray temperature = lampValues(0, 0);
    temperature[13] = 30;
    row("uint8 by display name", "亮度", "80", lampValues(0, 80));
    row("uint8 by identifier", "brightness", " 7 ", lampValues(0, 7));
    row("uint8 at its maximum", "亮度", "100", lampValues(0, 100));
    row("uint8 above its range", "亮度", "101", refused);
    row("uint16 below its range", "色温", "2699", refused);
    row("uint16 at its maximum", "色温", "6500", lampValues(0, 0, 6500));
    row("no number", "亮度", "eighty", refused);
    row("bool true", "开关", "true", lampValues(0x01, 0));
    row("bool as 1", "夜灯", "1", lampValues(0x08, 0));
    row("bool 2", "开关", "2", refused);
    row("enum by label", "模式", "睡眠", lampValues(0x04, 0));
    row("enum by index", "模式", "3", lampValues(0x06, 0));
    row("enum index past the labels", "模式", "4", refused);
    row("enum unknown label", "模式", "派对", refused);
    row("binary", "场景数据", "0a 0b 0c 0d", scene);
    row("binary not hex", "场景数据", "0x0A", refused);
    row("binary too long", "场景数据", "0102030405", refused);
    row("read-only value", "温度", "30", temperature);
    row("unknown name", "音量", "1", refused);
}

void TestMcuSimulator::setValueByText()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, values);

    const QByteArray before = m_sim->statusReport();
    QCOMPARE(before.mid(9, 20), lampValues(0, 0));
    QString error;
    QCOMPARE(m_sim->setValue(name, text, &error), accepted);
    if (accepted) {
        QVERIFY(error.isEmpty());
        const QByteArray report = m_sim->statusReport();
        QCOMPARE(report.mid(9, 20), values);
        QCOMPARE(ZemTool::byteValue(report, report.size() - 1),
                 int(ZemTool::frameChecksum(report)));
    } else {
        // Refused: said why, with the name, and nothing changed.
        QVERIFY(error.contains(name));
        QCOMPARE(m_sim->statusReport(), before);
    }
}

void TestMcuSimulator::unlistedPathOpensHereButNotUnderTheWindowsRule()
{
    // The windows' port keeps its rule: a path neither listed nor in
    // LUMO_EXTRA_PORTS does not open.
    PtyPair pty;
    QVERIFY(pty.isValid());
    ZemSerialPort windowsPort;
    QVERIFY(!windowsPort.Open(pty.slavePath(), QStringLiteral("9600"), 3, 0, 0));
    QVERIFY(!windowsPort.isOpen());
    QVERIFY(windowsPort.openFailureReason().contains(pty.slavePath()));

    // The headless program's rule: the simulator's port takes it as it stands.
    m_sim->port()->setAcceptUnlisted(true);
    QVERIFY2(m_sim->openPort(pty.slavePath(), LineSettings::Settings()),
             qPrintable(m_sim->openFailureReason()));
    QVERIFY(m_sim->isOpen());
    m_sim->closePort();
    QVERIFY(!m_sim->isOpen());

    // A path that is not there fails with the system's reason.
    const QString missing = m_root->file(QStringLiteral("no-such-tty"));
    QVERIFY(!m_sim->openPort(missing, LineSettings::Settings()));
    QVERIFY(!m_sim->openFailureReason().isEmpty());
}

QTEST_GUILESS_MAIN(TestMcuSimulator)
#include "tst_mcusimulator.moc"
