// SPDX-License-Identifier: GPL-3.0-or-later
// "回放" of the analyzer window on the dual tab: a capture played onto the
// tab's two ports, and "按录制应答" against an MCU the test plays on a pty.
#include "testsupport.h"

#include "analyzerwindow/analyzerwindow.h"
#include "analyzerwindow/replaydialog.h"
#include "app/mainwindow.h"
#include "capture/capturewriter.h"
#include "dual/doublewindow.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace {

template <typename T> T *find(QObject *parent, const char *name)
{
    T *w = parent ? parent->findChild<T *>(QLatin1String(name)) : nullptr;
    if (!w)
        qWarning("no %s", name);
    return w;
}

// module -> MCU: two heartbeats and a line of boot text; MCU -> module: the replies.
const QByteArray Heartbeat1 = wireFrame(0x07, 0x01);
const QByteArray Reply1 = wireFrame(0x08, 0x01);
const QByteArray Boot = QByteArray("boot 1.2\n");
const QByteArray Heartbeat2 = wireFrame(0x07, 0x02);
const QByteArray Reply2 = wireFrame(0x08, 0x02);

} // namespace

class TestReplayDialog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_mcu = std::make_unique<PtyPair>();
        m_module = std::make_unique<PtyPair>();
        QVERIFY(m_mcu->isValid() && m_module->isValid());
        setExtraPorts({m_mcu->slavePath(), m_module->slavePath()});
        m_file = m_root->file(QStringLiteral("session.pcap"));
        CaptureWriter writer;
        QString error;
        QVERIFY2(writer.open(m_file, &error), qPrintable(error));
        const qint64 t = 1700000000000000;
        const QString port = QStringLiteral("/dev/ttyUSB0");
        writer.write(segment(LineDirection::ModuleToMcu, t, Heartbeat1), port);
        writer.write(segment(LineDirection::McuToModule, t + 3000, Reply1), port);
        writer.write(segment(LineDirection::ModuleToMcu, t + 9000, Boot, SegmentKind::Other), port);
        writer.write(segment(LineDirection::ModuleToMcu, t + 20000, Heartbeat2), port);
        writer.write(segment(LineDirection::McuToModule, t + 24000, Reply2), port);
        writer.close();

        m_main = std::make_unique<MainWindow>();
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        QTest::mouseClick(find<QPushButton>(m_main.get(), "pushButton_analyzer"), Qt::LeftButton);
        m_analyzer = m_main->analyzerWindow(0);
        QVERIFY(m_analyzer);
        auto *replay = find<QPushButton>(m_analyzer, "pushButton_replay");
        QVERIFY(!replay->isEnabled());
        QVERIFY(m_analyzer->openCapture(m_file));
        QVERIFY(replay->isEnabled());
        QTest::mouseClick(replay, Qt::LeftButton);
        m_dialog = m_analyzer->replayDialog();
        QVERIFY(m_dialog && m_dialog->isLoaded());
    }
    void cleanup()
    {
        m_main.reset();
        m_mcu.reset();
        m_module.reset();
        m_root.reset();
        qunsetenv("LUMO_EXTRA_PORTS");
    }

    void plainReplayOntoBothSides()
    {
        auto *status = find<QLabel>(m_dialog, "label_status");
        find<QCheckBox>(m_dialog, "checkBox_mcuToModule")->setChecked(true);
        find<QCheckBox>(m_dialog, "checkBox_fastest")->setChecked(true);
        auto *start = find<QPushButton>(m_dialog, "pushButton_start");
        // Closed ports: said, nothing sent.
        QTest::mouseClick(start, Qt::LeftButton);
        QVERIFY2(status->text().contains(QStringLiteral("未打开")), qPrintable(status->text()));

        QVERIFY(openDualSides());
        QTest::mouseClick(start, Qt::LeftButton);
        // Side 1 is wired to the MCU: it gets the module's bytes, side 2 the MCU's.
        QCOMPARE(m_mcu->read(Heartbeat1.size() + Boot.size() + Heartbeat2.size()),
                 Heartbeat1 + Boot + Heartbeat2);
        QCOMPARE(m_module->read(Reply1.size() + Reply2.size()), Reply1 + Reply2);
        QVERIFY(waitUntil([&] { return status->text().startsWith(QStringLiteral("回放完成")); }));
    }

    void regressionShowsTheStepThatDiffers()
    {
        QVERIFY(openDualSides());
        find<QRadioButton>(m_dialog, "radioButton_regression")->setChecked(true);
        find<QCheckBox>(m_dialog, "checkBox_fastest")->setChecked(true);
        QTest::mouseClick(find<QPushButton>(m_dialog, "pushButton_start"), Qt::LeftButton);
        // The test is the MCU: the first reply as recorded, the second with
        // a wrong sequence number. Only the module's requests go out.
        QCOMPARE(m_mcu->read(Heartbeat1.size()), Heartbeat1);
        QVERIFY(m_mcu->write(Reply1));
        QCOMPARE(m_mcu->read(Heartbeat2.size()), Heartbeat2);
        QVERIFY(m_mcu->write(wireFrame(0x08, 0x03)));
        auto *steps = find<QTableWidget>(m_dialog, "tableWidget_steps");
        QVERIFY(waitUntil([&] { return steps->rowCount() == 2; }));
        QCOMPARE(steps->item(0, 3)->text(), QStringLiteral("逐字节一致"));
        QCOMPARE(steps->item(1, 1)->text(), QStringLiteral("#3"));
        QCOMPARE(steps->item(1, 3)->text(), QStringLiteral("不一致"));
        QVERIFY2(steps->item(1, 4)->text().contains(QStringLiteral("第 5 字节（序号）")),
                 qPrintable(steps->item(1, 4)->text()));
        auto *status = find<QLabel>(m_dialog, "label_status");
        QVERIFY(waitUntil([&] { return status->text().startsWith(QStringLiteral("有差异")); }));
    }

private:
    bool openDualSides()
    {
        return ::openDualSides(m_main->doubleWindow(), m_mcu->slavePath(), m_module->slavePath());
    }

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<PtyPair> m_mcu;    // the device on dual side 1
    std::unique_ptr<PtyPair> m_module; // the device on dual side 2
    std::unique_ptr<MainWindow> m_main;
    AnalyzerWindow *m_analyzer = nullptr;
    ReplayDialog *m_dialog = nullptr;
    QString m_file;
};

QTEST_MAIN(TestReplayDialog)
#include "tst_replaydialog.moc"
