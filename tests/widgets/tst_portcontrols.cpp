// SPDX-License-Identifier: GPL-3.0-or-later
// The port controls of a form on their own: a bare form with the five combo
// boxes and the open button, a real port and a real pseudo-terminal.
#include "testsupport.h"

#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "serial/serialline.h"
#include "serial/zemserialport.h"
#include "widgets/portcontrols.h"

#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest>

class TestPortControls : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void opensWithTheChosenSettings_data();
    void opensWithTheChosenSettings();
    void lostPortIsSelectedAgainUntilAnotherIsPicked();
    void choicesComeBackAfterARestart();
    void absentRememberedPortIsMarkedAndTakenWhenItAppears();
    void oddStoredChoicesKeepTheFormsOwn_data();
    void oddStoredChoicesKeepTheFormsOwn();

private:
    QComboBox *combo(const QStringList &items, int current);
    // A new form on the same program folder, its choices kept in the
    // settings file (as a window does).
    void buildForm(bool remember);

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<QTemporaryDir> m_links;
    QString m_device;
    std::unique_ptr<QWidget> m_form;
    ZemTool *m_settings = nullptr;
    SerialLine *m_line = nullptr;
    ZemSerialPort *m_port = nullptr;
    PortControls::Widgets m_widgets;
    PortControls *m_controls = nullptr;
};

QComboBox *TestPortControls::combo(const QStringList &items, int current)
{
    auto *box = new QComboBox(m_form.get());
    box->addItems(items);
    box->setCurrentIndex(current);
    return box;
}

void TestPortControls::init()
{
    m_root = std::make_unique<TestRoot>();
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->isValid());
    // Offered under a link of the test's own, as a udev name is: unplugging
    // removes it, plugging in again brings the same name back.
    m_links = std::make_unique<QTemporaryDir>();
    m_device = m_links->filePath(QStringLiteral("ttyDEVICE"));
    QVERIFY(QFile::link(m_pty->slavePath(), m_device));
    setExtraPorts({m_device});
    buildForm(false);
}

void TestPortControls::buildForm(bool remember)
{
    m_form.reset();
    m_form = std::make_unique<QWidget>();
    m_settings = new ZemTool(m_form.get());
    m_line = new SerialLine(m_form.get());
    m_port = m_line->port();
    m_widgets.port = combo({}, -1);
    m_widgets.baudRate = combo(
        {"110", "300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"},
        6);
    m_widgets.dataBits = combo({"5", "6", "7", "8"}, 3);
    m_widgets.stopBits = combo({"1", "1.5", "2"}, 0);
    m_widgets.parity = combo({"None", "Odd", "Even", "Space"}, 0);
    m_widgets.open = new QPushButton(QStringLiteral("打开串口"), m_form.get());
    m_controls = new PortControls(m_line, m_widgets, m_form.get());
    if (remember)
        m_controls->remember(m_settings, SettingKeys::McuPortGroup);
}

void TestPortControls::cleanup()
{
    m_form.reset();
    m_pty.reset();
    m_links.reset();
    m_root.reset();
    qunsetenv("LUMO_EXTRA_PORTS");
}

void TestPortControls::opensWithTheChosenSettings_data()
{
    // A pseudo-terminal keeps baud rate and stop bits but forces 8 data bits
    // without parity, so only the first two are checked on the port.
    QTest::addColumn<int>("baudIndex");
    QTest::addColumn<int>("stopIndex");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("stopBits");
    QTest::newRow("form defaults") << 6 << 0 << 9600 << int(QSerialPort::OneStop);
    QTest::newRow("fastest, two stop bits") << 10 << 2 << 115200 << int(QSerialPort::TwoStop);
    QTest::newRow("slowest") << 0 << 0 << 110 << int(QSerialPort::OneStop);
}

void TestPortControls::opensWithTheChosenSettings()
{
    QFETCH(int, baudIndex);
    QFETCH(int, stopIndex);
    m_controls->setPortList({QStringLiteral("ttyOTHER"), m_device});
    m_widgets.port->setCurrentIndex(1);
    m_widgets.baudRate->setCurrentIndex(baudIndex);
    m_widgets.stopBits->setCurrentIndex(stopIndex);

    m_controls->toggle();
    QVERIFY(m_port->isOpen());
    // The chosen device, not the first listed.
    QVERIFY(m_port->write(hex("A5")) == 1);
    QCOMPARE(m_pty->read(1), hex("A5"));
    QCOMPARE(m_widgets.open->text(), QStringLiteral("关闭串口"));
    QTEST(int(m_port->baudRate()), "baud");
    QTEST(int(m_port->stopBits()), "stopBits");
    // Changed while open: applied to the open port at once.
    m_widgets.baudRate->setCurrentIndex(baudIndex == 7 ? 8 : 7);
    QCOMPARE(int(m_port->baudRate()), baudIndex == 7 ? 38400 : 19200);
    // A pseudo-terminal takes no parity: said, without blocking.
    m_widgets.parity->setCurrentIndex(2);
    auto *refused = m_form->findChild<QMessageBox *>(QStringLiteral("settingsRefusedBox"));
    QVERIFY(refused && refused->isVisible());
    QVERIFY(refused->informativeText().contains(m_device));
    QVERIFY(m_port->isOpen());

    m_controls->toggle();
    QVERIFY(!m_port->isOpen());
    QCOMPARE(m_widgets.open->text(), QStringLiteral("打开串口"));
    // Closing what is closed only sets the caption.
    m_widgets.open->setText(QStringLiteral("关闭串口"));
    QVERIFY(!m_controls->close());
    QCOMPARE(m_widgets.open->text(), QStringLiteral("打开串口"));
}

void TestPortControls::lostPortIsSelectedAgainUntilAnotherIsPicked()
{
    const QString other = QStringLiteral("ttyOTHER");
    QSignalSpy lost(m_controls, &PortControls::lost);
    QSignalSpy returned(m_controls, &PortControls::returned);
    m_controls->setPortList({other, m_device});
    m_widgets.port->setCurrentIndex(1);
    QVERIFY(m_controls->open());

    m_pty->closeMaster(); // the adapter is pulled
    QVERIFY(lost.wait(3000));
    QCOMPARE(lost.at(0).at(0).toString(), m_device);
    QVERIFY(!m_port->isOpen());
    QCOMPARE(m_widgets.open->text(), QStringLiteral("打开串口"));

    // Gone from the list: still the choice, marked; back: selected again,
    // and said once.
    m_controls->setPortList({other});
    QCOMPARE(m_widgets.port->currentText(), m_device + QStringLiteral("（未连接）"));
    QCOMPARE(m_controls->chosenName(), m_device);
    QCOMPARE(returned.count(), 0);
    m_controls->setPortList({QStringLiteral("ttyNEW"), other, m_device});
    QCOMPARE(m_widgets.port->currentText(), m_device);
    QCOMPARE(returned.count(), 1);
    QCOMPARE(returned.at(0).at(0).toString(), m_device);
    m_controls->setPortList({other, m_device});
    QCOMPARE(m_widgets.port->currentText(), m_device);
    QCOMPARE(returned.count(), 1);

    // The user picks another port by hand: the lost one is forgotten.
    m_widgets.port->setCurrentIndex(0);
    emit m_widgets.port->activated(0);
    m_controls->setPortList({other});
    m_controls->setPortList({other, m_device});
    QCOMPARE(m_widgets.port->currentText(), other);
    QCOMPARE(returned.count(), 1);
    QCOMPARE(lost.count(), 1);
}

void TestPortControls::choicesComeBackAfterARestart()
{
    buildForm(true);
    // The device is listed at once, without waiting for the first poll.
    QCOMPARE(m_widgets.port->findText(m_device), m_widgets.port->count() - 1);
    // The choices as the user makes them: arrow keys on the combos.
    m_widgets.port->setFocus();
    QTest::keyClick(m_widgets.port, Qt::Key_End);
    QCOMPARE(m_widgets.port->currentText(), m_device);
    QTest::keyClick(m_widgets.baudRate, Qt::Key_Down); // 19200
    QTest::keyClick(m_widgets.dataBits, Qt::Key_Up);   // 7
    QTest::keyClick(m_widgets.stopBits, Qt::Key_End);  // 2
    QTest::keyClick(m_widgets.parity, Qt::Key_Down);   // Odd
    // A refill that falls back to another port is no choice of the user's.
    m_controls->setPortList({QStringLiteral("ttyOTHER")});

    buildForm(true);
    QCOMPARE(m_widgets.port->currentText(), m_device);
    QCOMPARE(m_controls->chosenName(), m_device);
    QCOMPARE(m_widgets.baudRate->currentText(), QStringLiteral("19200"));
    QCOMPARE(m_widgets.dataBits->currentIndex(), 2);
    QCOMPARE(m_widgets.stopBits->currentIndex(), 2);
    QCOMPARE(m_widgets.parity->currentIndex(), 1);
    QVERIFY(!m_port->isOpen()); // remembered, not opened

    // The port opened is remembered even when it was merely listed first.
    m_controls->setPortList({m_device, QStringLiteral("ttyOTHER")});
    m_widgets.port->setCurrentIndex(0);
    QVERIFY(m_controls->open());
    m_controls->close();
    m_settings->writeSetting(SettingKeys::portNameKey(SettingKeys::McuPortGroup),
                             QStringLiteral("ttyOTHER"));
    m_controls->toggle();
    QVERIFY(m_port->isOpen());
    buildForm(true);
    QCOMPARE(m_widgets.port->currentText(), m_device);
}

void TestPortControls::absentRememberedPortIsMarkedAndTakenWhenItAppears()
{
    const QString later = m_links->filePath(QStringLiteral("ttyLATER"));
    setExtraPorts({m_device, later});
    m_settings->writeSetting(SettingKeys::portNameKey(SettingKeys::McuPortGroup), later);
    buildForm(true);
    QSignalSpy returned(m_controls, &PortControls::returned);

    // Shown and selected, marked; the real names stay clean.
    QCOMPARE(m_widgets.port->currentText(), later + QStringLiteral("（未连接）"));
    QCOMPARE(m_controls->chosenName(), later);
    QCOMPARE(m_widgets.port->currentIndex(), m_widgets.port->count() - 1);
    QCOMPARE(m_widgets.port->itemText(m_widgets.port->count() - 2), m_device);
    MessageBoxCatcher box;
    QVERIFY(!m_controls->open());
    QVERIFY(box.wait());
    QCOMPARE(box.informativeText(), QStringLiteral("串口 %1 不存在").arg(later));

    // Still the choice while the list changes without it.
    m_controls->setPortList({m_device, QStringLiteral("ttyOTHER")});
    QCOMPARE(m_controls->chosenName(), later);
    QCOMPARE(m_widgets.port->count(), 3);

    // Plugged in: the port's own poll lists it, and it is selected.
    QVERIFY(QFile::link(m_pty->slavePath(), later));
    connect(m_port, &ZemSerialPort::ComListChange, m_controls, &PortControls::setPortList);
    QVERIFY(waitUntil([&] { return m_widgets.port->currentText() == later; }, 3000));
    QCOMPARE(m_widgets.port->findText(later + QStringLiteral("（未连接）")), -1);
    QCOMPARE(returned.count(), 0); // nothing was lost in this run
    QVERIFY(m_controls->open());
    QVERIFY(m_port->write(hex("5A")) == 1);
    QCOMPARE(m_pty->read(1), hex("5A"));
}

void TestPortControls::oddStoredChoicesKeepTheFormsOwn_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("parity");
    const QString g = SettingKeys::McuPortGroup;
    // Any rate may be typed, and is offered again.
    QTest::newRow("a rate of its own") << SettingKeys::baudRateKey(g) << "12345"
                                       << "12345" << 3 << 0 << 0;
    QTest::newRow("baud not a number") << SettingKeys::baudRateKey(g) << "fast"
                                       << "9600" << 3 << 0 << 0;
    QTest::newRow("baud as index") << SettingKeys::baudRateKey(g) << "3"
                                   << "9600" << 3 << 0 << 0;
    QTest::newRow("baud with blanks") << SettingKeys::baudRateKey(g) << " 115200 "
                                      << "115200" << 3 << 0 << 0;
    QTest::newRow("data bits past the end") << SettingKeys::dataBitsKey(g) << "4"
                                            << "9600" << 3 << 0 << 0;
    QTest::newRow("data bits negative") << SettingKeys::dataBitsKey(g) << "-1"
                                        << "9600" << 3 << 0 << 0;
    QTest::newRow("data bits good") << SettingKeys::dataBitsKey(g) << "0"
                                    << "9600" << 0 << 0 << 0;
    QTest::newRow("stop bits as text") << SettingKeys::stopBitsKey(g) << "1.5"
                                       << "9600" << 3 << 0 << 0;
    QTest::newRow("parity huge") << SettingKeys::parityKey(g) << "99999999999"
                                 << "9600" << 3 << 0 << 0;
    QTest::newRow("parity last") << SettingKeys::parityKey(g) << "3"
                                 << "9600" << 3 << 0 << 3;
}

void TestPortControls::oddStoredChoicesKeepTheFormsOwn()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    m_settings->writeSetting(key, stored);
    buildForm(true);
    QTEST(m_widgets.baudRate->currentText(), "baud");
    QTEST(m_widgets.dataBits->currentIndex(), "dataBits");
    QTEST(m_widgets.stopBits->currentIndex(), "stopBits");
    QTEST(m_widgets.parity->currentIndex(), "parity");
    // Nothing remembered: the device listed first, no marked entry.
    QCOMPARE(m_widgets.port->currentText(), m_widgets.port->itemText(0));
    QVERIFY(!m_widgets.port->currentText().contains(QStringLiteral("未连接")));
}

QTEST_MAIN(TestPortControls)
#include "tst_portcontrols.moc"
