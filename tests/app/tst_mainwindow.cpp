// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: title, sizes, tabs, keys and the tab-change rules.
#include "testsupport.h"

#include "app/mainwindow.h"
#include "dual/doublewindow.h"
#include "mcu/mcusettingwindow.h"
#include "mcu/mcuwindow.h"
#include "mcu/trafficlog.h"
#include "protocol/settingsfile.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"
#include "tools/about.h"
#include "tools/toolwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

namespace {

// The simulated-MCU tab's dialogs are windows of their own.
QWidget *topLevel(const char *name)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name))
            return w;
    return nullptr;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void titleSizeAndTabs();
    void tabObjectsLiveOnTheirPages();
    void f5ClearsAllThreeViews();
    void escCloses();
    void closingEndsTheProgramAndReleasesEveryPort();
    void everyHexBoxHintsWhatWillBeSent();
    void mcuTabWidensAndShowsHintForPlaceholder();
    void noHintForOtherKeys_data();
    void noHintForOtherKeys();
    void leavingMcuTabClosesItsPort();
    void hugeSettingsFileIsSaidOnce();

private:
    std::unique_ptr<TestRoot> m_root;
};

void TestMainWindow::init()
{
    m_root = std::make_unique<TestRoot>();
}

void TestMainWindow::cleanup()
{
    m_root.reset();
    qunsetenv("LUMO_EXTRA_PORTS");
}

void TestMainWindow::titleSizeAndTabs()
{
    MainWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Lumo串口调试助手V2.0.2"));
    QCOMPARE(w.minimumSize(), QSize(600, 600));
    QCOMPARE(w.maximumSize(), QSize(600, 600));
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QVERIFY(tabs);
    QCOMPARE(tabs->size(), QSize(600, 600));
    QCOMPARE(tabs->count(), 4);
    const QStringList names{"doubleWindow", "mcuWindow", "toolWindow", "aboutWindow"};
    const QStringList captions{"双串口", "模拟V4MCU", "小工具", "关于"};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(tabs->widget(i)->objectName(), names.at(i));
        QCOMPARE(tabs->tabText(i), captions.at(i));
    }
    QVERIFY(w.findChild<QWidget *>(QStringLiteral("centralWidget")));
}

void TestMainWindow::tabObjectsLiveOnTheirPages()
{
    MainWindow w;
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QCOMPARE(w.doubleWindow()->parent(), tabs->widget(0));
    QCOMPARE(w.mcuWindow()->parent(), tabs->widget(1));
    QCOMPARE(w.toolWindow()->parent(), tabs->widget(2));
    QCOMPARE(w.about()->parent(), tabs->widget(3));
}

void TestMainWindow::f5ClearsAllThreeViews()
{
    MainWindow w;
    auto *rec1 = w.findChild<QTextEdit *>(QStringLiteral("textEdit_rec1"));
    auto *rec2 = w.findChild<QTextEdit *>(QStringLiteral("textEdit_rec2"));
    auto *log = w.findChild<TrafficLog *>(QStringLiteral("listWidget"));
    QVERIFY(rec1 && rec2 && log);
    for (int tab : {0, 2, 3}) {
        rec1->setPlainText(QStringLiteral("FF FF "));
        rec2->setPlainText(QStringLiteral("00 "));
        log->addTransfer(QStringLiteral("WIFI:"), hex("FFFF"), hex("FFFF"));
        log->flush();
        w.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(tab);
        QTest::keyClick(&w, Qt::Key_F5);
        QVERIFY(rec1->toPlainText().isEmpty());
        QVERIFY(rec2->toPlainText().isEmpty());
        QCOMPARE(log->count(), 0);
    }
}

void TestMainWindow::escCloses()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::keyClick(&w, Qt::Key_A);
    QVERIFY(w.isVisible());
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(!w.isVisible());
}

void TestMainWindow::closingEndsTheProgramAndReleasesEveryPort()
{
    PtyPair mcu, module, wifi; // dual side 1, dual side 2, simulated MCU
    const QStringList paths{mcu.slavePath(), module.slavePath(), wifi.slavePath()};
    setExtraPorts(paths);
    {
        ZemTool tool; // no product-key hint on the way
        tool.writeSetting(QStringLiteral("product_key/key"),
                          QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24"));
    }
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);

    // The simulated MCU's port, opened as the user does.
    auto *com3 = w.findChild<QComboBox *>(QStringLiteral("com_3"));
    w.mcuWindow()->findChild<ZemSerialPort *>(QStringLiteral("mcuPort"))->getComList();
    QVERIFY(waitUntil([&] { return com3->findText(wifi.slavePath()) >= 0; }));
    com3->setCurrentText(wifi.slavePath());
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("pushButton_open3")),
                      Qt::LeftButton);
    QVERIFY(w.mcuWindow()->findChild<ZemSerialPort *>(QStringLiteral("mcuPort"))->isOpen());
    // The dual tab's ports are opened behind the tab switch's back, so that
    // all three ports of the program are open at once.
    for (const auto &side : {std::make_pair("port_1", mcu.slavePath()),
                             std::make_pair("port_2", module.slavePath())}) {
        auto *port = w.findChild<ZemSerialPort *>(QLatin1String(side.first));
        QVERIFY(port && port->Open(side.second, QStringLiteral("9600"), 3, 0, 0));
    }
    // While they are open, nobody else gets them.
    for (const QString &path : paths) {
        ZemSerialPort other;
        QVERIFY2(!other.Open(path, QStringLiteral("9600"), 3, 0, 0), qPrintable(path));
    }

    // Both dialogs of the simulated-MCU tab are open.
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("pushButton_showcmd")),
                      Qt::LeftButton);
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("pushButton_setting")),
                      Qt::LeftButton);
    QVERIFY(topLevel("McuCmdWindow")->isVisible() && topLevel("McuSettingWindow")->isVisible());

    // The program's own event loop, as main() runs it; a watchdog ends it
    // if closing the window does not.
    bool watchdogFired = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, [&watchdogFired] {
        watchdogFired = true;
        QCoreApplication::exit(1);
    });
    watchdog.start(5000);
    QTimer::singleShot(50, &w, [&w] { QTest::keyClick(&w, Qt::Key_Escape); });
    const int exitCode = QApplication::exec();
    watchdog.stop();
    QVERIFY2(!watchdogFired, "the event loop went on after the main window closed");
    QCOMPARE(exitCode, 0);
    QVERIFY(!topLevel("McuCmdWindow")->isVisible() && !topLevel("McuSettingWindow")->isVisible());

    // Every port is released: another program opens each of them.
    for (const QString &path : paths) {
        ZemSerialPort other;
        QVERIFY2(other.Open(path, QStringLiteral("9600"), 3, 0, 0), qPrintable(path));
    }
}

void TestMainWindow::everyHexBoxHintsWhatWillBeSent()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const char *boxes[]
        = {"textEdit_send1",    "textEdit_send2",    "lineEdit_default1", "lineEdit_default2",
           "lineEdit_default3", "lineEdit_default4", "textEdit_send3",    "textEdit_checksum"};
    // The send boxes' tooltips preview the completed frame while
    // "自动补全帧" is on; off, they hint as every hex box does.
    for (const char *name : {"checkBox_complete1", "checkBox_complete2", "checkBox_complete3"})
        w.findChild<QCheckBox *>(QLatin1String(name))->setChecked(false);
    for (const char *name : boxes) {
        auto *box = w.findChild<QWidget *>(QLatin1String(name));
        QVERIFY2(box, name);
        const QColor plainBase = box->palette().color(QPalette::Base);
        QCOMPARE(box->toolTip(), QString());
        auto retype = [box](const char *text) {
            QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(box, Qt::Key_Delete);
            QTest::keyClicks(box, QLatin1String(text));
        };
        retype("0x01 0x02");
        QVERIFY2(box->toolTip().contains(QLatin1String("00 10 02")), name);
        QVERIFY2(box->palette().color(QPalette::Base) != plainBase, name);
        retype("01 02");
        QVERIFY2(box->toolTip().isEmpty(), name);
        QCOMPARE(box->palette().color(QPalette::Base), plainBase);
    }
}

void TestMainWindow::mcuTabWidensAndShowsHintForPlaceholder()
{
    MainWindow w; // the shipped settings hold the placeholder key
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    for (int round = 0; round < 2; ++round) {
        MessageBoxCatcher box;
        tabs->setCurrentIndex(1);
        QVERIFY(box.wait());
        QCOMPARE(box.title(), QStringLiteral("提示"));
        QCOMPARE(box.text(), QStringLiteral("第一次使用请输入product_key！"));
        QCOMPARE(w.size(), QSize(950, 600));
        QCOMPARE(w.minimumSize(), QSize(950, 600));
        QCOMPARE(tabs->size(), QSize(950, 600));

        tabs->setCurrentIndex(0);
        QCOMPARE(w.size(), QSize(600, 600));
        QCOMPARE(tabs->size(), QSize(600, 600));
    }
}

void TestMainWindow::noHintForOtherKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("real key") << QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");
    QTest::newRow("empty") << QString();
    QTest::newRow("placeholder upper-cased differs")
        << QStringLiteral("1029384756102938475610293847561O");
}

void TestMainWindow::noHintForOtherKeys()
{
    QFETCH(QString, key);
    {
        ZemTool tool;
        tool.writeSetting(QStringLiteral("product_key/key"), key);
    }
    MainWindow w;
    MessageBoxCatcher box(300);
    w.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
    QTest::qWait(400);
    QVERIFY(!box.found());
}

void TestMainWindow::leavingMcuTabClosesItsPort()
{
    PtyPair pty;
    setExtraPorts({pty.slavePath()});
    {
        ZemTool tool;
        tool.writeSetting(QStringLiteral("product_key/key"),
                          QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24"));
    }
    MainWindow w;
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    auto *open3 = w.findChild<QPushButton *>(QStringLiteral("pushButton_open3"));
    tabs->setCurrentIndex(1);
    QVERIFY(w.mcuWindow()
                ->findChild<ZemSerialPort *>(QStringLiteral("mcuPort"))
                ->Open(pty.slavePath(), QStringLiteral("9600"), 3, 0, 0));
    open3->setText(QStringLiteral("关闭串口"));
    w.mcuWindow()->findChild<ZemFramer *>(QStringLiteral("mcuFramer"))->dataToV4(hex("FFFF0005"));

    tabs->setCurrentIndex(0);
    QVERIFY(!w.mcuWindow()->findChild<ZemSerialPort *>(QStringLiteral("mcuPort"))->isOpen());
    QVERIFY(w.mcuWindow()->findChild<ZemFramer *>(QStringLiteral("mcuFramer"))->buffer().isEmpty());
    QCOMPARE(open3->text(), QStringLiteral("打开串口"));
    // The log says which port closed and why.
    auto *log = w.mcuWindow()->findChild<TrafficLog *>(QStringLiteral("listWidget"));
    log->flush();
    QStringList lines;
    for (int i = 0; i < log->count(); ++i)
        lines << log->lineText(i);
    const QString closed = QStringLiteral("串口 %1 已关闭：离开“模拟V4MCU”页").arg(pty.slavePath());
    QVERIFY2(lines.join(QLatin1Char('\n')).contains(closed),
             qPrintable(lines.join(QLatin1Char('|'))));

    // Already closed: only the caption is set.
    open3->setText(QStringLiteral("关闭串口"));
    tabs->setCurrentIndex(1);
    tabs->setCurrentIndex(2);
    QCOMPARE(open3->text(), QStringLiteral("打开串口"));
    QVERIFY(!w.mcuWindow()->findChild<ZemSerialPort *>(QStringLiteral("mcuPort"))->isOpen());
}

void TestMainWindow::hugeSettingsFileIsSaidOnce()
{
    QFile file(m_root->file(QStringLiteral("auto_analyze.ini")));
    QVERIFY(file.open(QIODevice::Append));
    file.write("\n[junk]\n");
    const QByteArray line(200, 'x');
    for (int i = 0; file.size() <= SettingsFile::SaneSizeBytes; ++i)
        file.write("k" + QByteArray::number(i) + '=' + line + '\n');
    file.close();

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("far beyond any sane size")));
    MessageBoxCatcher box;
    MainWindow w;
    QVERIFY(box.wait());
    QCOMPARE(box.title(), QStringLiteral("设置文件过大"));
    // The program's own settings are still read, and writes still land.
    QCOMPARE(w.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->count(), 4);
    MessageBoxCatcher again(500);
    ZemTool second; // the same file, already open: no second warning
    second.writeSetting(QStringLiteral("setting/softver"), QStringLiteral("SW000077"));
    QVERIFY(m_root->settingsText().contains(QStringLiteral("softver=SW000077")));
    QTest::qWait(600);
    QVERIFY(!again.found());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
