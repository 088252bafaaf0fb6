// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated module's window, opened from the dual tab, running a
// conformance run against a real MCU program over joined pseudo-terminals.
#include "ptybridge.h"
#include "testsupport.h"

#include "dpservice/datapointserver.h"
#include "dual/doublewindow.h"
#include "dual/modulewindow.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Key = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");

template <typename T> T *child(QWidget *window, const char *name)
{
    T *w = window->findChild<T *>(QLatin1String(name));
    if (!w)
        qWarning("no widget %s", name);
    return w;
}

} // namespace

class TestModuleWindow : public QObject
{
    Q_OBJECT

private slots:
    void runsAConformanceRunFromTheDualTab()
    {
        TestRoot root;
        QDir().mkpath(root.file(QStringLiteral("json")));
        QVERIFY(QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                            root.file(QStringLiteral("json/%1.json").arg(Key))));
        PtyBridge bridge;
        QVERIFY(bridge.isValid());
        setExtraPorts({bridge.endA()});

        // An MCU that answers the heartbeat with a wrong sequence number.
        QProcess mcu;
        mcu.start(QStringLiteral(BROKENMCU_PATH),
                  {QStringLiteral("--port"), bridge.endB(), QStringLiteral("--definition"),
                   QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                   QStringLiteral("--product-key"), Key, QStringLiteral("--wrong-sequence"),
                   QStringLiteral("07")});
        QVERIFY(mcu.waitForStarted(10000));
        QVERIFY(waitUntil([&] { return mcu.canReadLine(); }, 20000));

        DoubleWindow dual;
        dual.show();
        QPushButton *open = child<QPushButton>(&dual, "pushButton_module");
        QVERIFY(open);
        QCOMPARE(open->text(), QStringLiteral("模拟模组"));
        QTest::mouseClick(open, Qt::LeftButton);
        auto *window = dual.findChild<ModuleWindow *>();
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QVERIFY(window->isWindow());

        auto *port = child<QComboBox>(window, "comboBox_port");
        QVERIFY(waitUntil([&] { return port->findText(bridge.endA()) >= 0; }, 5000));
        port->setCurrentIndex(port->findText(bridge.endA()));
        child<QLineEdit>(window, "lineEdit_productkey")->setText(Key);
        child<QSpinBox>(window, "spinBox_replylimit")->setValue(1500);
        QVERIFY(!child<QCheckBox>(window, "checkBox_robust")->isChecked());
        auto *run = child<QPushButton>(window, "pushButton_run");
        auto *save = child<QPushButton>(window, "pushButton_savejunit");
        QVERIFY(!save->isEnabled());
        QTest::mouseClick(run, Qt::LeftButton);
        QCOMPARE(child<QPushButton>(window, "pushButton_open")->text(), QStringLiteral("关闭串口"));

        auto *summary = child<QLabel>(window, "label_summary");
        QVERIFY(waitUntil([&] { return summary->text().startsWith(QStringLiteral("共")); }, 60000));
        mcu.kill();
        mcu.waitForFinished(5000);
        // 40 steps without the robustness ones; only the heartbeat fails,
        // and the firmware transfer is skipped: no image was named.
        QCOMPARE(summary->text(), QStringLiteral("共40步：通过38，失败1，跳过1"));
        QCOMPARE(run->text(), QStringLiteral("开始测试"));
        QVERIFY(save->isEnabled());

        auto *table = child<QTableWidget>(window, "tableWidget_results");
        QCOMPARE(table->rowCount(), 40);
        // The window names steps and reasons in Chinese; the report keeps the English.
        QCOMPARE(table->item(1, 0)->text(), QStringLiteral("心跳 (0x07)"));
        QCOMPARE(table->item(1, 1)->text(), QStringLiteral("失败"));
        QCOMPARE(table->item(1, 2)->text(), QStringLiteral("序列号0x03，应为0x02"));
        const QRegularExpression chinese(QStringLiteral("[\\x{4e00}-\\x{9fff}]"));
        for (int row = 0; row < table->rowCount(); ++row)
            QVERIFY2(table->item(row, 0)->text().contains(chinese),
                     qPrintable(table->item(row, 0)->text()));
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("通过"));
        QCOMPARE(table->item(39, 1)->text(), QStringLiteral("跳过"));

        // Selecting a step shows its frames.
        table->setCurrentCell(1, 0);
        const QString frames = child<QPlainTextEdit>(window, "plainTextEdit_frames")->toPlainText();
        QVERIFY2(
            frames.startsWith(QStringLiteral("> FF FF 00 05 07 02 00 00 0E\n< FF FF 00 05 08 03")),
            qPrintable(frames));

        const QString path = root.file(QStringLiteral("junit.xml"));
        MessageBoxCatcher box;
        window->saveJUnit(path);
        QVERIFY(box.wait());
        QCOMPARE(box.title(), QStringLiteral("成功"));
        QFile junit(path);
        QVERIFY(junit.open(QIODevice::ReadOnly));
        const QByteArray xml = junit.readAll();
        QVERIFY(xml.contains("failures=\"1\""));
        QVERIFY(xml.contains("<failure message=\"sequence number 0x03, expected 0x02\""));
    }

    void fetchesAMissingDefinitionAsLumoModuleDoes()
    {
        // Not cached: the run's definition is fetched from the service (a
        // real one on 127.0.0.1), cached, and then the run starts.
        TestRoot root;
        QTemporaryDir folder;
        QVERIFY(QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                            folder.filePath(Key + QStringLiteral(".json"))));
        DataPointServer server(folder.path());
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        ZemTool settings;
        settings.writeSetting(SettingKeys::Environment,
                              QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
        const QString cache = root.file(QStringLiteral("json/%1.json").arg(Key));
        QFile::remove(cache);
        PtyPair pty;
        QVERIFY(pty.isValid());
        setExtraPorts({pty.slavePath()});
        ModuleWindow window(&settings);
        window.show();
        auto *port = child<QComboBox>(&window, "comboBox_port");
        QVERIFY(waitUntil([&] { return port->findText(pty.slavePath()) >= 0; }, 5000));
        port->setCurrentIndex(port->findText(pty.slavePath()));
        child<QLineEdit>(&window, "lineEdit_productkey")->setText(Key);
        QTest::mouseClick(child<QPushButton>(&window, "pushButton_run"), Qt::LeftButton);
        QVERIFY(waitUntil([&] { return window.isRunning(); }, 15000));
        QVERIFY(QFile::exists(cache));
        window.close();
    }

    void answersTheMcuBetweenRuns()
    {
        // With the port open and no run going on, the window still plays a
        // module: the MCU's status report and time request are answered.
        TestRoot root;
        PtyPair pty;
        QVERIFY(pty.isValid());
        setExtraPorts({pty.slavePath()});
        ZemTool settings;
        ModuleWindow window(&settings);
        window.show();
        auto *port = child<QComboBox>(&window, "comboBox_port");
        QVERIFY(waitUntil([&] { return port->findText(pty.slavePath()) >= 0; }, 5000));
        port->setCurrentIndex(port->findText(pty.slavePath()));
        auto *open = child<QPushButton>(&window, "pushButton_open");
        QTest::mouseClick(open, Qt::LeftButton);
        QCOMPARE(open->text(), QStringLiteral("关闭串口"));

        QVERIFY(pty.write(ZemTool::escape(makeFrame(0x05, 0xFF, hex("04 01 02")))));
        QCOMPARE(pty.read(10), hex("FF FF 00 05 06 FF 55 00 00 0A"));
        QVERIFY(pty.write(makeFrame(0x17, 0x21)));
        const QByteArray time = pty.read(16);
        QCOMPARE(time.left(6), hex("FF FF 00 0C 18 21"));
        QCOMPARE(ZemTool::word16(time, 8), QDate::currentDate().year());
        QVERIFY(!window.isRunning());

        // Closing the window frees the port.
        window.close();
        QCOMPARE(open->text(), QStringLiteral("打开串口"));
        QVERIFY(pty.write(makeFrame(0x05, 0x01, hex("04 01 02"))));
        QVERIFY(pty.readFor(300).isEmpty());
    }
};

QTEST_MAIN(TestModuleWindow)
#include "tst_modulewindow.moc"
