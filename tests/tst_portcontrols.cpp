// The port controls of a form on their own: a bare form with the five combo
// boxes and the open button, a real port and a real pseudo-terminal.
#include "testsupport.h"

#include "app/portcontrols.h"
#include "serial/zemserialport.h"

#include <QComboBox>
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

private:
    QComboBox *combo(const QStringList &items, int current);

    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<QTemporaryDir> m_links;
    QString m_device;
    std::unique_ptr<QWidget> m_form;
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
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->isValid());
    // Offered under a link of the test's own, as a udev name is: unplugging
    // removes it, plugging in again brings the same name back.
    m_links = std::make_unique<QTemporaryDir>();
    m_device = m_links->filePath(QStringLiteral("ttyDEVICE"));
    QVERIFY(QFile::link(m_pty->slavePath(), m_device));
    setExtraPorts({m_device});

    m_form = std::make_unique<QWidget>();
    m_port = new ZemSerialPort(m_form.get());
    m_widgets.port = combo({}, -1);
    m_widgets.baudRate = combo(
        {"110", "300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"},
        6);
    m_widgets.dataBits = combo({"5", "6", "7", "8"}, 3);
    m_widgets.stopBits = combo({"1", "1.5", "2"}, 0);
    m_widgets.parity = combo({"None", "Odd", "Even", "Space"}, 0);
    m_widgets.open = new QPushButton(QStringLiteral("打开串口"), m_form.get());
    m_controls = new PortControls(m_port, m_widgets, m_form.get());
}

void TestPortControls::cleanup()
{
    m_form.reset();
    m_pty.reset();
    m_links.reset();
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

    // Gone from the list: the combo falls back; back: selected again, and
    // said once.
    m_controls->setPortList({other});
    QCOMPARE(m_widgets.port->currentText(), other);
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

QTEST_MAIN(TestPortControls)
#include "tst_portcontrols.moc"
