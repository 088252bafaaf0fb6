// SPDX-License-Identifier: GPL-3.0-or-later
// The dual tab through two real pseudo-terminals: the test plays the MCU on
// side 1 and the Wi-Fi module on side 2.
#include "testsupport.h"

#include "app/mainwindow.h"
#include "base/apppaths.h"
#include "bridge/presetframes.h"
#include "dual/doublewindow.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <ctime>

namespace {

const QString OpenCaption = QStringLiteral("打开串口");
const QString CloseCaption = QStringLiteral("关闭串口");

// Counts Qt warnings that say a device was written while not open: the
// bridge must skip a closed side instead.
int g_notOpenWarnings = 0;
QtMessageHandler g_previousHandler = nullptr;
void countingHandler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    if (msg.contains(QLatin1String("not open")))
        ++g_notOpenWarnings;
    if (g_previousHandler)
        g_previousHandler(type, ctx, msg);
}

// CPU time the calling thread used so far, in milliseconds.
qint64 threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray out(size, '\0');
    QRandomGenerator rng(seed);
    for (char &c : out)
        c = char(rng.bounded(256));
    return out;
}

} // namespace

class TestDoubleWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void formWidgetsAndDefaults();
    void updateUiKeepsSelections();
    void openAndCloseEachSide();
    void openFailureSaysWhy_data();
    void openFailureSaysWhy();

    void forwardsBothWaysByteExact_data();
    void forwardsBothWaysByteExact();
    void forwardsBeforeDisplayAndHoldsLastBytes();
    void bridgeOffForwardsNothingButDisplays();
    void forwardingToClosedSideIsSkipped();
    void lostPortIsToldAndTakenBackWhenItReturns();
    void clearingDropsEverythingReceivedBefore();

    void displayOnTheWidget_data();
    void displayOnTheWidget();

    void presetLists();
    void presetButtonsSendToTheirSideOnlyWhenOpen_data();
    void presetButtonsSendToTheirSideOnlyWhenOpen();
    void typedHexIsSentAsTyped_data();
    void typedHexIsSentAsTyped();

    void switchingMainWindowToMcuTabClosesBothSides();

    void choicesComeBackAfterARestart();
    void storedSwitches_data();
    void storedSwitches();

private:
    template <typename T> T *find(const char *name) const
    {
        T *w = m_window->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("missing widget %s", name);
        return w;
    }
    QPushButton *button(const char *name) const { return find<QPushButton>(name); }
    QTextEdit *rec(int side) const
    {
        return find<QTextEdit>(side == 1 ? "textEdit_rec1" : "textEdit_rec2");
    }
    ZemSerialPort *port(int side) const
    {
        return find<ZemSerialPort>(side == 1 ? "port_1" : "port_2");
    }
    bool waitForPorts(QWidget *root) const;
    void openSide(int side, QWidget *root = nullptr);
    void waitForFlushes();

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<PtyPair> m_mcu;    // side 1's far end
    std::unique_ptr<PtyPair> m_module; // side 2's far end
    std::unique_ptr<QTemporaryDir> m_links;
    QString m_mcuPath;
    QString m_modulePath;
    std::unique_ptr<DoubleWindow> m_window;
};

void TestDoubleWindow::initTestCase()
{
    g_previousHandler = qInstallMessageHandler(countingHandler);
}

void TestDoubleWindow::init()
{
    m_root = std::make_unique<TestRoot>();
    m_mcu = std::make_unique<PtyPair>();
    m_module = std::make_unique<PtyPair>();
    QVERIFY(m_mcu->isValid() && m_module->isValid());
    // Offered under links of the test's own, so that unplugging one (removing
    // its link) cannot be undone by a pty of another test that gets the
    // freed /dev/pts number.
    m_links = std::make_unique<QTemporaryDir>();
    m_mcuPath = m_links->path() + QStringLiteral("/ttyMCU");
    m_modulePath = m_links->path() + QStringLiteral("/ttyMODULE");
    QVERIFY(QFile::link(m_mcu->slavePath(), m_mcuPath));
    QVERIFY(QFile::link(m_module->slavePath(), m_modulePath));
    setExtraPorts({m_mcuPath, m_modulePath});
    m_window = std::make_unique<DoubleWindow>();
    g_notOpenWarnings = 0;
}

void TestDoubleWindow::cleanup()
{
    m_window.reset();
    m_mcu.reset();
    m_module.reset();
    m_links.reset();
    m_root.reset();
    qunsetenv("LUMO_EXTRA_PORTS");
}

bool TestDoubleWindow::waitForPorts(QWidget *root) const
{
    // Ask for the port list now instead of waiting for the next poll.
    root->findChild<ZemSerialPort *>(QStringLiteral("port_1"))->getComList();
    auto *com1 = root->findChild<QComboBox *>(QStringLiteral("com_1"));
    auto *com2 = root->findChild<QComboBox *>(QStringLiteral("com_2"));
    const QString a = m_mcuPath;
    const QString b = m_modulePath;
    return waitUntil([&] { return com1->findText(a) >= 0 && com2->findText(b) >= 0; }, 3000);
}

// Selects side n's pty in its combo and clicks its open button.
void TestDoubleWindow::openSide(int side, QWidget *root)
{
    if (!root)
        root = m_window.get();
    QVERIFY(waitForPorts(root));
    auto *combo = root->findChild<QComboBox *>(side == 1 ? QStringLiteral("com_1")
                                                         : QStringLiteral("com_2"));
    combo->setCurrentText(side == 1 ? m_mcuPath : m_modulePath);
    auto *open = root->findChild<QPushButton *>(side == 1 ? QStringLiteral("pushButton_open1")
                                                          : QStringLiteral("pushButton_open2"));
    QTest::mouseClick(open, Qt::LeftButton);
    QCOMPARE(open->text(), CloseCaption);
}

// Waits for the next periodic flush of both sides.
void TestDoubleWindow::waitForFlushes()
{
    QSignalSpy tick1(find<QTimer>("flushTimer_1"), &QTimer::timeout);
    QSignalSpy tick2(find<QTimer>("flushTimer_2"), &QTimer::timeout);
    QVERIFY(waitUntil([&] { return tick1.count() > 0 && tick2.count() > 0; }, 2000));
}

void TestDoubleWindow::formWidgetsAndDefaults()
{
    const QStringList bauds{"110",  "300",   "600",   "1200",  "2400",  "4800",
                            "9600", "19200", "38400", "57600", "115200"};
    const struct
    {
        const char *suffix;
        QStringList items;
        int current;
    } combos[] = {{"rate_", bauds, 6},
                  {"data_", {"5", "6", "7", "8"}, 3},
                  {"stop_", {"1", "1.5", "2"}, 0},
                  {"check_", {"None", "Odd", "Even", "Space"}, 0}};
    for (int side : {1, 2}) {
        for (const auto &c : combos) {
            const QByteArray name = c.suffix + QByteArray::number(side);
            auto *box = find<QComboBox>(name.constData());
            QStringList items;
            for (int i = 0; i < box->count(); ++i)
                items << box->itemText(i);
            QCOMPARE(items, c.items);
            QCOMPARE(box->currentIndex(), c.current);
        }
        find<QComboBox>(side == 1 ? "com_1" : "com_2");
        QCOMPARE(button(side == 1 ? "pushButton_open1" : "pushButton_open2")->text(), OpenCaption);
        QVERIFY(rec(side)->isReadOnly());
        QCOMPARE(button(side == 1 ? "pushButton_send1" : "pushButton_send2")->text(),
                 QStringLiteral("发送"));
        find<QTextEdit>(side == 1 ? "textEdit_send1" : "textEdit_send2");
    }
    QCOMPARE(button("pushButton_double")->text(), QStringLiteral("关闭双串口"));
    QCOMPARE(find<QCheckBox>("checkBox")->text(), QStringLiteral("三版换行"));
    QVERIFY(!find<QCheckBox>("checkBox")->isChecked());
    QCOMPARE(button("pushButton_v3")->text(), QStringLiteral("3版常用协议"));
    QCOMPARE(button("pushButton_v4")->text(), QStringLiteral("4版常用协议"));
    for (int n = 1; n <= 4; ++n) {
        QCOMPARE(button(qPrintable(QStringLiteral("pushButton_left%1").arg(n)))->text(),
                 QStringLiteral("发送左"));
        QCOMPARE(button(qPrintable(QStringLiteral("pushButton_right%1").arg(n)))->text(),
                 QStringLiteral("发送右"));
        find<QLineEdit>(qPrintable(QStringLiteral("lineEdit_default%1").arg(n)));
    }
    QCOMPARE(find<QLabel>("label_easylink")->text(), QStringLiteral("AirLink"));
    QCOMPARE(find<QLabel>("label_ask")->text(), QStringLiteral("询问产品信息"));
    QCOMPARE(find<QLabel>("label_5")->text(), QStringLiteral("product_key"));

    // Every caption the form shows, labels included.
    QStringList labels;
    for (QLabel *l : m_window->findChildren<QLabel *>())
        labels << l->text();
    for (const char *caption : {"串口号：", "波特率：", "数据位：", "停止位：", "校验位："})
        QCOMPARE(labels.count(QString::fromUtf8(caption)), 2);
    QCOMPARE(labels.count(QStringLiteral("接收（F5刷新）：")), 1);
    QCOMPARE(labels.count(QStringLiteral("接收：")), 1);
    QCOMPARE(labels.count(QStringLiteral("初始化")), 1);

    QCOMPARE(find<QLabel>("label_background")->styleSheet(),
             QStringLiteral("border-image:url(") + m_root->path()
                 + QStringLiteral("/image/background.png)"));
}

void TestDoubleWindow::updateUiKeepsSelections()
{
    auto *com1 = find<QComboBox>("com_1");
    auto *com2 = find<QComboBox>("com_2");
    // Keep the real port list from interfering.
    port(1)->blockSignals(true);
    m_window->UpdateUi({"COM3", "COM4"});
    for (QComboBox *com : {com1, com2}) { // as the user picks them
        com->setCurrentIndex(com == com1 ? 0 : 1);
        emit com->activated(com->currentIndex());
    }
    m_window->UpdateUi({"COM3", "COM4", "COM5"});
    // The ports, then the entry that adds a network line.
    QCOMPARE(com1->count(), 4);
    QCOMPARE(com1->currentText(), QStringLiteral("COM3"));
    QCOMPARE(com2->currentText(), QStringLiteral("COM4"));
    QCOMPARE(com2->itemText(2), QStringLiteral("COM5"));

    m_window->UpdateUi({"COM5", "COM3"}); // COM4 vanished: still side 2's choice
    QCOMPARE(com1->currentText(), QStringLiteral("COM3"));
    QCOMPARE(com1->currentIndex(), 1);
    QCOMPARE(com2->currentIndex(), 2);
    QCOMPARE(com2->currentText(), QStringLiteral("COM4（未连接）"));

    m_window->UpdateUi({});
    QCOMPARE(com1->count(), 2);
    QCOMPARE(com1->currentText(), QStringLiteral("COM3（未连接）"));
    QCOMPARE(com2->count(), 2);
}

void TestDoubleWindow::openAndCloseEachSide()
{
    openSide(1);
    QVERIFY(port(1)->isOpen());
    QVERIFY(!port(2)->isOpen());
    openSide(2);
    QVERIFY(port(2)->isOpen());
    // The form's settings reach the port: 9600 baud, 8 data bits.
    QCOMPARE(port(2)->baudRate(), 9600);
    QCOMPARE(port(2)->dataBits(), QSerialPort::Data8);

    QTest::mouseClick(button("pushButton_open1"), Qt::LeftButton);
    QCOMPARE(button("pushButton_open1")->text(), OpenCaption);
    QVERIFY(!port(1)->isOpen());
    QVERIFY(port(2)->isOpen());
    QTest::mouseClick(button("pushButton_open2"), Qt::LeftButton);
    QVERIFY(!port(2)->isOpen());
    QCOMPARE(button("pushButton_open2")->text(), OpenCaption);
}

void TestDoubleWindow::openFailureSaysWhy_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("reason"); // part of the informative text
    QTest::newRow("unplugged before the click") << "unplugged"
                                                << "不存在";
    QTest::newRow("vanished while closed, still the choice") << "vanished"
                                                             << "不存在";
    QTest::newRow("held by the other side") << "busy"
                                            << "被占用";
}

void TestDoubleWindow::openFailureSaysWhy()
{
    QFETCH(QString, cause);
    QFETCH(QString, reason);
    QVERIFY(waitForPorts(m_window.get()));
    auto *com2 = find<QComboBox>("com_2");
    if (cause == QLatin1String("unplugged")) {
        com2->setCurrentText(m_modulePath);
        m_module.reset();
        QVERIFY(QFile::remove(m_modulePath));
    } else if (cause == QLatin1String("vanished")) {
        com2->setCurrentIndex(com2->findText(m_modulePath));
        emit com2->activated(com2->currentIndex());
        m_module.reset();
        QVERIFY(QFile::remove(m_modulePath));
        port(1)->blockSignals(true);
        m_window->UpdateUi({m_mcuPath});
        QCOMPARE(com2->currentText(), m_modulePath + QStringLiteral("（未连接）"));
    } else {
        openSide(1);
        com2->setCurrentText(m_mcuPath);
    }
    MessageBoxCatcher box;
    QTest::mouseClick(button("pushButton_open2"), Qt::LeftButton);
    QVERIFY(box.wait());
    QCOMPARE(box.title(), QStringLiteral("错误"));
    QCOMPARE(box.text(), QStringLiteral("打开失败！"));
    QVERIFY2(box.informativeText().contains(reason), qPrintable(box.informativeText()));
    QCOMPARE(button("pushButton_open2")->text(), OpenCaption);
    QVERIFY(!port(2)->isOpen());
}

void TestDoubleWindow::forwardsBothWaysByteExact_data()
{
    QTest::addColumn<QByteArray>("fromMcu");
    QTest::addColumn<QByteArray>("fromModule");
    QTest::newRow("frames") << hex("FFFF0006090000000211 FFFF000508070000 14")
                            << hex("FFFF000501000000 06 FFFF000A0201000031 FF55 32 33 0F");
    QTest::newRow("incomplete frames") << hex("FFFF00") << hex("000000030002");
    QTest::newRow("garbage") << randomBytes(3000, 1) << randomBytes(5000, 2);
    QTest::newRow("long streams") << randomBytes(200 * 1024, 3) << randomBytes(150 * 1024, 4);
}

void TestDoubleWindow::forwardsBothWaysByteExact()
{
    QFETCH(QByteArray, fromMcu);
    QFETCH(QByteArray, fromModule);
    openSide(1);
    openSide(2);
    // Both devices talk at once, in pieces, as real ones do.
    QByteArray atModule, atMcu;
    const int piece = 4096;
    for (int at = 0; at < qMax(fromMcu.size(), fromModule.size()); at += piece) {
        QVERIFY(m_mcu->write(fromMcu.mid(at, piece)));
        QVERIFY(m_module->write(fromModule.mid(at, piece)));
        atModule += m_module->readFor(1);
        atMcu += m_mcu->readFor(1);
    }
    atModule += m_module->read(fromMcu.size() - atModule.size(), 10000);
    atMcu += m_mcu->read(fromModule.size() - atMcu.size(), 10000);
    QCOMPARE(atModule.size(), fromMcu.size());
    QCOMPARE(atModule, fromMcu);
    QCOMPARE(atMcu, fromModule);
    // Nothing more, nothing echoed back.
    QVERIFY(m_mcu->readFor(100).isEmpty());
    QVERIFY(m_module->readFor(100).isEmpty());

    // Every byte is on screen once the flush ran (short data only: long
    // streams are cut to the box's history).
    if (fromMcu.size() < 10000) {
        waitForFlushes();
        QString shown1 = rec(1)->toPlainText();
        QString shown2 = rec(2)->toPlainText();
        static const QRegularExpression stamps(QStringLiteral("\\n\\d\\d:\\d\\d:\\d\\d\\.\\d{3}:"));
        shown1.remove(stamps);
        shown2.remove(stamps);
        QCOMPARE(shown1, QString::fromLatin1(fromMcu.toHex(' ').toUpper()) + QLatin1Char(' '));
        QCOMPARE(shown2, QString::fromLatin1(fromModule.toHex(' ').toUpper()) + QLatin1Char(' '));
    }
}

void TestDoubleWindow::forwardsBeforeDisplayAndHoldsLastBytes()
{
    openSide(1);
    openSide(2);
    for (const char *bytes : {"010203", "FFFF00"}) {
        rec(1)->clear();
        find<QTimer>("flushTimer_1")->start(); // a whole period from now on
        QElapsedTimer sinceRestart;
        sinceRestart.start();
        QVERIFY(m_mcu->write(hex(bytes)));
        // Forwarded at once, although not shown yet.
        QCOMPARE(m_module->read(3), hex(bytes));
        if (sinceRestart.elapsed() < 400)
            QVERIFY(rec(1)->toPlainText().isEmpty());
        else
            qWarning("machine too slow to check the held bytes before the flush");
        waitForFlushes();
        QCOMPARE(rec(1)->toPlainText(),
                 QString::fromLatin1(hex(bytes).toHex(' ').toUpper()) + QLatin1Char(' '));
    }
}

void TestDoubleWindow::bridgeOffForwardsNothingButDisplays()
{
    openSide(1);
    openSide(2);
    QTest::mouseClick(button("pushButton_double"), Qt::LeftButton);
    QCOMPARE(button("pushButton_double")->text(), QStringLiteral("打开双串口"));

    QVERIFY(m_mcu->write(hex("FFFF000508070000 14")));
    QVERIFY(m_module->write(hex("FFFF000501000000 06")));
    QVERIFY(waitUntil([&] {
        return rec(1)->toPlainText().contains(QLatin1String("FF FF 00 05 08 07"))
            && rec(2)->toPlainText().contains(QLatin1String("FF FF 00 05 01 00"));
    }));
    QVERIFY(m_module->readFor(200).isEmpty());
    QVERIFY(m_mcu->readFor(50).isEmpty());

    QTest::mouseClick(button("pushButton_double"), Qt::LeftButton);
    QCOMPARE(button("pushButton_double")->text(), QStringLiteral("关闭双串口"));
    QVERIFY(m_mcu->write(hex("0102030405")));
    QCOMPARE(m_module->read(5), hex("0102030405"));
}

void TestDoubleWindow::forwardingToClosedSideIsSkipped()
{
    openSide(1);
    QVERIFY(m_mcu->write(hex("FFFF000508070000 14")));
    QVERIFY(waitUntil(
        [&] { return rec(1)->toPlainText().contains(QLatin1String("FF FF 00 05 08 07")); }));
    QCOMPARE(g_notOpenWarnings, 0);
    // Opened later, side 2 gets nothing of what came before.
    openSide(2);
    QVERIFY(m_module->readFor(200).isEmpty());
    QVERIFY(m_mcu->write(hex("AABB")));
    QCOMPARE(m_module->read(2), hex("AABB"));
}

void TestDoubleWindow::lostPortIsToldAndTakenBackWhenItReturns()
{
    openSide(1);
    openSide(2);
    QVERIFY(m_module->write(hex("FFFF000501000000 06")));
    QCOMPARE(m_mcu->read(9), hex("FFFF000501000000 06"));
    MessageBoxCatcher noBox(500);
    m_module->closeMaster(); // the module's adapter is pulled
    QVERIFY(waitUntil([&] { return button("pushButton_open2")->text() == OpenCaption; }));
    QVERIFY(!port(2)->isOpen());
    QCOMPARE(button("pushButton_open1")->text(), CloseCaption);
    QVERIFY(port(1)->isOpen());

    // Told in side 2's box, after everything it received, with the time and
    // the system's reason; no modal box.
    const QString told = rec(2)->toPlainText();
    static const QRegularExpression notice(
        QStringLiteral("FF FF 00 05 01 00 00 00 06 \\n\\d\\d:\\d\\d:\\d\\d\\.\\d{3} 串口 (.+) "
                       "已断开：(.+)；双串口转发已关闭$"));
    const QRegularExpressionMatch match = notice.match(told);
    QVERIFY2(match.hasMatch(), qPrintable(told));
    QCOMPARE(match.captured(1), m_modulePath);
    // Waited past the watcher's own time, so it cannot catch a later box.
    QVERIFY(!noBox.wait(700));
    // The bridge says what it does: nothing.
    QCOMPARE(button("pushButton_double")->text(), QStringLiteral("打开双串口"));

    // Side 1 keeps working and nothing is written to the lost side.
    g_notOpenWarnings = 0;
    QVERIFY(m_mcu->write(hex("FFFF0005010000 0006")));
    QVERIFY(waitUntil(
        [&] { return rec(1)->toPlainText().contains(QLatin1String("FF FF 00 05 01 00")); }));
    QCOMPARE(g_notOpenWarnings, 0);
    // And nothing spins on the lost port: idle, the GUI thread uses only a
    // small part of its time.
    const qint64 cpuBefore = threadCpuMs();
    QTest::qWait(500);
    const qint64 cpuUsed = threadCpuMs() - cpuBefore;
    QVERIFY2(cpuUsed < 250, qPrintable(QString::number(cpuUsed)));

    // The device node goes away: side 2's list falls back to another port.
    auto *com2 = find<QComboBox>("com_2");
    QVERIFY(waitUntil([&] {
        port(1)->getComList();
        return com2->findText(m_modulePath) < 0;
    }));
    QVERIFY(com2->currentText() != m_modulePath);
    // The adapter is plugged in again: side 2 selects it, one click reopens it.
    m_module = std::make_unique<PtyPair>();
    QVERIFY(QFile::remove(m_modulePath));
    QVERIFY(QFile::link(m_module->slavePath(), m_modulePath));
    port(1)->getComList();
    QVERIFY(waitUntil([&] { return com2->currentText() == m_modulePath; }));
    QTest::mouseClick(button("pushButton_open2"), Qt::LeftButton);
    QCOMPARE(button("pushButton_open2")->text(), CloseCaption);

    // Bytes after the notice start a line of their own, header or not.
    QVERIFY(m_module->write(hex("AABBCCDD")));
    waitForFlushes();
    QVERIFY2(rec(2)->toPlainText().endsWith(QStringLiteral("双串口转发已关闭\nAA BB CC DD ")),
             qPrintable(rec(2)->toPlainText()));
    // Not bridged until the user says so.
    QVERIFY(m_mcu->readFor(100).isEmpty());
}

void TestDoubleWindow::clearingDropsEverythingReceivedBefore()
{
    openSide(1);
    openSide(2);
    QVERIFY(m_mcu->write(hex("FFFF000508070000 14")));
    QCOMPARE(m_module->read(9), hex("FFFF000508070000 14"));
    // F5 right after the bytes arrived, whether or not they are drawn yet.
    m_window->clearReceiveBoxes();
    waitForFlushes();
    // Only the three bytes held back for the flush are printed afterwards.
    QCOMPARE(rec(1)->toPlainText(), QStringLiteral("00 00 14 "));
}

void TestDoubleWindow::displayOnTheWidget_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second"); // written after a flush; may be empty
    QTest::addColumn<bool>("v3");
    QTest::addColumn<QString>("pattern"); // regular expression for the whole text

    const QString stamp = QStringLiteral("\\n\\d\\d:\\d\\d:\\d\\d\\.\\d{3}:");
    QTest::newRow("three bytes after the flush")
        << hex("010203") << QByteArray() << false << QStringLiteral("^01 02 03 $");
    QTest::newRow("frame starts a timestamped line")
        << hex("FFFF000508070000 14") << QByteArray() << false
        << QStringLiteral("^") + stamp + QStringLiteral("FF FF 00 05 08 07 00 00 14 $");
    QTest::newRow("v3 unticked on the running line")
        << hex("AA 0000000300020 30b") << QByteArray() << false
        << QStringLiteral("^AA 00 00 00 03 00 02 03 0B $");
    QTest::newRow("v3 ticked starts a line")
        << hex("AA 0000000300020 30b") << QByteArray() << true
        << QStringLiteral("^AA ") + stamp + QStringLiteral("00 00 00 03 00 02 03 0B $");
    QTest::newRow("header split across the flush")
        << hex("12FF") << hex("FF000508070000 14") << false
        << QStringLiteral("^12 FF FF 00 05 08 07 00 00 14 $");
}

void TestDoubleWindow::displayOnTheWidget()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(bool, v3);
    QFETCH(QString, pattern);

    openSide(1);
    openSide(2);
    if (v3)
        QTest::mouseClick(find<QCheckBox>("checkBox"), Qt::LeftButton);
    QCOMPARE(find<QCheckBox>("checkBox")->isChecked(), v3);

    // The same bytes go both ways: side 1 shows what the MCU sent, side 2
    // what the module sent.
    QVERIFY(m_mcu->write(first));
    QVERIFY(m_module->write(first));
    QCOMPARE(m_module->read(first.size()), first);
    QCOMPARE(m_mcu->read(first.size()), first);
    waitForFlushes();
    if (!second.isEmpty()) {
        QVERIFY(m_mcu->write(second));
        QVERIFY(m_module->write(second));
        QCOMPARE(m_module->read(second.size()), second);
        QCOMPARE(m_mcu->read(second.size()), second);
        waitForFlushes();
    }
    const QRegularExpression re(pattern);
    for (int side : {1, 2}) {
        const QString text = rec(side)->toPlainText();
        QVERIFY2(re.match(text).hasMatch(),
                 qPrintable(QStringLiteral("side %1: ").arg(side) + text));
    }
    // Sent bytes are not echoed into the boxes of the sender's side: each
    // box shows only what its own port received.
    QCOMPARE(rec(1)->toPlainText().count(QLatin1Char(' ')), first.size() + second.size());
}

void TestDoubleWindow::presetLists()
{
    const QStringList v3{
        "00 00 00 03 00 02 03 0b", "00 00 00 03 00 02 03 08", "00 00 00 03 00 02 03 06",
        "00 00 00 03 00 28 03 07 00 20 35 64 31 63 37 61 39 30 65 34 62 33 66 32 30 36 38 61 39 63 "
        "31 65 37 64 33 62 35 66 30 61 32 34 00 02 00 01"};
    const QStringList v4{
        "FF FF 00 05 0B 00 00 00 10", "FF FF 00 06 09 00 00 00 02 11", "FF FF 00 05 01 00 00 00 06",
        "FF FF 00 47 02 01 00 00 30 30 30 30 30 30 30 34 30 30 30 30 30 30 30 34 30 30 30 30 30 30 "
        "30 31 30 30 30 30 30 30 30 31 35 64 31 63 37 61 39 30 65 34 62 33 66 32 30 36 38 61 39 63 "
        "31 65 37 64 33 62 35 66 30 61 32 34 00 00 3B"};
    auto lines = [this] {
        QStringList out;
        for (int n = 1; n <= 4; ++n)
            out << find<QLineEdit>(qPrintable(QStringLiteral("lineEdit_default%1").arg(n)))->text();
        return out;
    };
    QCOMPARE(lines(), v3); // filled at start
    QTest::mouseClick(button("pushButton_v4"), Qt::LeftButton);
    QCOMPARE(lines(), v4);
    // The long line shows its start, not its tail.
    QCOMPARE(find<QLineEdit>("lineEdit_default4")->cursorPosition(), 0);
    QTest::mouseClick(button("pushButton_v3"), Qt::LeftButton);
    QCOMPARE(lines(), v3);

    // The v4 product reply is a well-formed frame: length 0x47, valid sum.
    const QByteArray reply = QByteArray::fromHex(v4.at(3).toLatin1());
    QCOMPARE(reply.size(), 0x47 + 4);
    quint8 sum = 0;
    for (int i = 2; i < reply.size() - 1; ++i)
        sum += quint8(reply.at(i));
    QCOMPARE(quint8(reply.back()), sum);
}

void TestDoubleWindow::presetButtonsSendToTheirSideOnlyWhenOpen_data()
{
    QTest::addColumn<bool>("version4");
    QTest::newRow("version 3") << false;
    QTest::newRow("version 4") << true;
}

void TestDoubleWindow::presetButtonsSendToTheirSideOnlyWhenOpen()
{
    QFETCH(bool, version4);
    QTest::mouseClick(button(version4 ? "pushButton_v4" : "pushButton_v3"), Qt::LeftButton);
    const QStringList lines = version4 ? PresetFrames::version4() : PresetFrames::version3();

    auto click = [this](const QString &name) {
        QTest::mouseClick(button(qPrintable(name)), Qt::LeftButton);
    };
    // Only side 2 open: left buttons do nothing at all.
    openSide(2);
    for (int n = 1; n <= 4; ++n)
        click(QStringLiteral("pushButton_left%1").arg(n));
    QVERIFY(m_module->readFor(200).isEmpty());
    QVERIFY(m_mcu->readFor(10).isEmpty());

    // Right buttons reach side 2's device, byte for byte.
    for (int n = 1; n <= 4; ++n) {
        click(QStringLiteral("pushButton_right%1").arg(n));
        const QByteArray want = QByteArray::fromHex(lines.at(n - 1).toLatin1());
        QCOMPARE(m_module->read(want.size()), want);
    }

    // Side 1 open as well: left buttons reach side 1 only.
    openSide(1);
    for (int n = 1; n <= 4; ++n) {
        click(QStringLiteral("pushButton_left%1").arg(n));
        const QByteArray want = QByteArray::fromHex(lines.at(n - 1).toLatin1());
        QCOMPARE(m_mcu->read(want.size()), want);
    }
    QVERIFY(m_module->readFor(200).isEmpty());

    // An edited line is sent as edited.
    find<QLineEdit>("lineEdit_default2")->setText(QStringLiteral("01 02 0a"));
    click(QStringLiteral("pushButton_right2"));
    QCOMPARE(m_module->read(3), hex("01020A"));
    QVERIFY(m_mcu->readFor(100).isEmpty());

    // Side 2 closed again: right buttons are silent.
    QTest::mouseClick(button("pushButton_open2"), Qt::LeftButton);
    click(QStringLiteral("pushButton_right1"));
    QVERIFY(m_module->readFor(200).isEmpty());
    QVERIFY(m_mcu->readFor(10).isEmpty());
    QCOMPARE(g_notOpenWarnings, 0);
}

void TestDoubleWindow::typedHexIsSentAsTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray request = hex("FFFF0005010000 0006");
    QTest::newRow("lower case, blanks") << QStringLiteral("ff ff 00 05 01 00 00 00 06") << request;
    QTest::newRow("run together") << QStringLiteral("FFFF0005010000 0006") << request;
    QTest::newRow("stray characters and lines")
        << QStringLiteral("ff,ff;00-05\n01 00 zz 00\t00 06 !") << request;
    QTest::newRow("odd digit count: leading nibble alone") << QStringLiteral("123") << hex("0123");
    QTest::newRow("no checksum added") << QStringLiteral("FF FF 00 05 01") << hex("FFFF000501");
    QTest::newRow("FF not escaped") << QStringLiteral("FF FF 00 06 FF") << hex("FFFF0006FF");
}

void TestDoubleWindow::typedHexIsSentAsTyped()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    openSide(1);
    openSide(2);
    // "自动补全帧" off: the bytes go out as typed.
    find<QCheckBox>("checkBox_complete1")->setChecked(false);
    find<QCheckBox>("checkBox_complete2")->setChecked(false);
    find<QTextEdit>("textEdit_send1")->setPlainText(typed);
    find<QTextEdit>("textEdit_send2")->setPlainText(typed);
    QTest::mouseClick(button("pushButton_send1"), Qt::LeftButton);
    QCOMPARE(m_mcu->read(bytes.size()), bytes);
    QVERIFY(m_module->readFor(100).isEmpty());
    QTest::mouseClick(button("pushButton_send2"), Qt::LeftButton);
    QCOMPARE(m_module->read(bytes.size()), bytes);
    QVERIFY(m_mcu->readFor(100).isEmpty());
    // Nothing echoed in the receive boxes.
    waitForFlushes();
    QVERIFY(rec(1)->toPlainText().isEmpty());
    QVERIFY(rec(2)->toPlainText().isEmpty());
}

void TestDoubleWindow::switchingMainWindowToMcuTabClosesBothSides()
{
    m_window.reset();
    MainWindow main;
    auto *open1 = main.findChild<QPushButton *>(QStringLiteral("pushButton_open1"));
    auto *open2 = main.findChild<QPushButton *>(QStringLiteral("pushButton_open2"));
    auto *dual = main.findChild<DoubleWindow *>();
    QVERIFY(dual);
    openSide(1, dual);
    openSide(2, dual);
    auto *port1 = dual->findChild<ZemSerialPort *>(QStringLiteral("port_1"));
    auto *port2 = dual->findChild<ZemSerialPort *>(QStringLiteral("port_2"));
    QVERIFY(port1->isOpen() && port2->isOpen());

    MessageBoxCatcher hint; // the shipped settings hold the placeholder key
    main.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
    QVERIFY(hint.wait());
    QCOMPARE(hint.title(), QStringLiteral("提示"));
    QVERIFY(!port1->isOpen());
    QVERIFY(!port2->isOpen());
    QCOMPARE(open1->text(), OpenCaption);
    QCOMPARE(open2->text(), OpenCaption);
    // Each side says which port closed and why.
    for (const auto &[box, path] :
         {std::pair{"textEdit_rec1", m_mcuPath}, {"textEdit_rec2", m_modulePath}}) {
        const QString text = dual->findChild<QTextEdit *>(QLatin1String(box))->toPlainText();
        QVERIFY2(text.contains(QStringLiteral("串口 %1 已关闭：切换到“模拟V4MCU”页").arg(path)),
                 qPrintable(text));
    }
    // The far ends see nothing more from a closed bridge.
    QVERIFY(m_mcu->write(hex("0102")));
    QVERIFY(m_module->readFor(200).isEmpty());
}

void TestDoubleWindow::choicesComeBackAfterARestart()
{
    openSide(1);
    openSide(2);
    find<QComboBox>("rate_1")->setCurrentIndex(10);
    find<QComboBox>("stop_2")->setCurrentIndex(1);
    find<QComboBox>("check_2")->setCurrentIndex(2);
    QTest::mouseClick(button("pushButton_double"), Qt::LeftButton);
    QTest::mouseClick(find<QCheckBox>("checkBox"), Qt::LeftButton);

    m_window.reset();
    m_window = std::make_unique<DoubleWindow>();
    QCOMPARE(find<QComboBox>("com_1")->currentText(), m_mcuPath);
    QCOMPARE(find<QComboBox>("com_2")->currentText(), m_modulePath);
    QCOMPARE(find<QComboBox>("rate_1")->currentText(), QStringLiteral("115200"));
    QCOMPARE(find<QComboBox>("rate_2")->currentText(), QStringLiteral("9600"));
    QCOMPARE(find<QComboBox>("stop_1")->currentIndex(), 0);
    QCOMPARE(find<QComboBox>("stop_2")->currentIndex(), 1);
    QCOMPARE(find<QComboBox>("check_2")->currentIndex(), 2);
    QCOMPARE(button("pushButton_double")->text(), QStringLiteral("打开双串口"));
    QVERIFY(find<QCheckBox>("checkBox")->isChecked());
    // Remembered, not opened: the user opens each side.
    QVERIFY(!port(1)->isOpen() && !port(2)->isOpen());
    QCOMPARE(button("pushButton_open1")->text(), OpenCaption);

    // The bridge is really off, not only its caption.
    QTest::mouseClick(button("pushButton_open1"), Qt::LeftButton);
    QTest::mouseClick(button("pushButton_open2"), Qt::LeftButton);
    QVERIFY(port(1)->isOpen() && port(2)->isOpen());
    QVERIFY(m_mcu->write(hex("FF FF 00 03 04 01 02")));
    QVERIFY(m_module->readFor(300).isEmpty());

    // Switched on by the user: remembered. Switched off by a lost port: not
    // a choice, so it comes back on.
    QTest::mouseClick(button("pushButton_double"), Qt::LeftButton);
    m_mcu->closeMaster();
    QVERIFY(waitUntil([&] { return button("pushButton_double")->text() == "打开双串口"; }));
    m_window.reset();
    m_window = std::make_unique<DoubleWindow>();
    QCOMPARE(button("pushButton_double")->text(), QStringLiteral("关闭双串口"));
    QVERIFY(find<QCheckBox>("checkBox")->isChecked());
}

// Hand-edited switches: only the program's own "false" and "true" count.
void TestDoubleWindow::storedSwitches_data()
{
    QTest::addColumn<QString>("bridge");
    QTest::addColumn<QString>("v3");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("checked");
    QTest::newRow("as written") << "false"
                                << "true"
                                << "打开双串口" << true;
    QTest::newRow("blanks around") << " false "
                                   << " true"
                                   << "打开双串口" << true;
    QTest::newRow("numbers") << "0"
                             << "1"
                             << "关闭双串口" << false;
    QTest::newRow("other words") << "off"
                                 << "yes"
                                 << "关闭双串口" << false;
    QTest::newRow("empty") << ""
                           << ""
                           << "关闭双串口" << false;
}

void TestDoubleWindow::storedSwitches()
{
    QFETCH(QString, bridge);
    QFETCH(QString, v3);
    m_window.reset();
    {
        ZemTool settings;
        settings.writeSetting(SettingKeys::DualBridge, bridge);
        settings.writeSetting(SettingKeys::DualV3NewLine, v3);
    }
    m_window = std::make_unique<DoubleWindow>();
    QTEST(button("pushButton_double")->text(), "caption");
    QTEST(find<QCheckBox>("checkBox")->isChecked(), "checked");
}

QTEST_MAIN(TestDoubleWindow)
#include "tst_doublewindow.moc"
