// SPDX-License-Identifier: GPL-3.0-or-later
// The send boxes through real pseudo-terminals: periodic sends keep their
// grid and their count, skip what a held-up event loop missed instead of
// bursting, re-fill the sequence number, and stop with the port; the command
// list and the history come back after a restart.
#include "testsupport.h"

#include "dual/doublewindow.h"
#include "mcu/mcuwindow.h"
#include "protocol/zemtool.h"
#include "send/periodicsender.h"
#include "serial/line.h"
#include "widgets/commandlistwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QThread>
#include <QtTest>

namespace {
const QString StartCaption = QStringLiteral("定时发送");
} // namespace

class TestSendControls : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void periodicSendsKeepTheirGridAndCount();
    void periodicSendStopsWithThePort();
    void commandListAndHistoryComeBack();

private:
    template <typename T> T *find(QWidget *root, const char *name) const
    {
        T *w = root->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("missing widget %s", name);
        return w;
    }
    void openDualSide1();

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<DoubleWindow> m_dual;
};

void TestSendControls::init()
{
    m_root = std::make_unique<TestRoot>();
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->isValid());
    setExtraPorts({m_pty->slavePath()});
    m_dual = std::make_unique<DoubleWindow>();
}

void TestSendControls::cleanup()
{
    m_dual.reset();
    m_pty.reset();
    m_root.reset();
    qunsetenv("LUMO_EXTRA_PORTS");
}

void TestSendControls::openDualSide1()
{
    auto *com = find<QComboBox>(m_dual.get(), "com_1");
    QVERIFY(waitUntil([&] { return com->findText(m_pty->slavePath()) >= 0; }));
    com->setCurrentText(m_pty->slavePath());
    QTest::mouseClick(find<QPushButton>(m_dual.get(), "pushButton_open1"), Qt::LeftButton);
    QVERIFY(m_dual->line1()->isLineOpen());
}

void TestSendControls::periodicSendsKeepTheirGridAndCount()
{
    openDualSide1();
    QWidget *w = m_dual.get();
    QVERIFY(find<QCheckBox>(w, "checkBox_complete1")->isChecked()); // on for a new user
    find<QCheckBox>(w, "checkBox_sequence1")->setChecked(true);
    find<QSpinBox>(w, "spinBox_interval1")->setValue(20);
    find<QSpinBox>(w, "spinBox_count1")->setValue(6);
    auto *box = find<QTextEdit>(w, "textEdit_send1");
    box->setPlainText(QStringLiteral("FF FF ?? 07 05 00 00"));
    // The tooltip spells out what will go out.
    QVERIFY2(box->toolTip().contains(ZemTool::hexText(wireFrame(0x07, 0x05)).trimmed()),
             qPrintable(box->toolTip()));
    auto *button = find<QPushButton>(w, "pushButton_periodic1");

    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button, Qt::LeftButton);
    // The loop held up for five slots: one send when it runs again, then
    // the grid; a sender that made up for the lost slots would send the
    // remaining five at once, at about 100 ms.
    QThread::msleep(100);
    QByteArray expected;
    for (int i = 0; i < 6; ++i)
        expected += wireFrame(0x07, 0x05 + i);
    const QByteArray got = m_pty->read(expected.size(), 5000);
    const qint64 lastArrival = clock.elapsed();
    QCOMPARE(got.toHex(' '), expected.toHex(' '));
    // Slot 9 of the 20 ms grid is the sixth send; no slot goes early.
    QVERIFY2(lastArrival >= 180, qPrintable(QString::number(lastArrival)));
    QVERIFY2(lastArrival < 180 + 2500, qPrintable(QString::number(lastArrival)));
    QVERIFY(m_pty->readFor(100).isEmpty()); // the count was kept
    QCOMPARE(button->text(), StartCaption);
    QVERIFY(find<QSpinBox>(w, "spinBox_interval1")->isEnabled());
}

void TestSendControls::periodicSendStopsWithThePort()
{
    // The dual tab: closed by its button.
    openDualSide1();
    QWidget *w = m_dual.get();
    find<QSpinBox>(w, "spinBox_interval1")->setValue(2);
    find<QSpinBox>(w, "spinBox_count1")->setValue(0); // endless
    find<QTextEdit>(w, "textEdit_send1")->setPlainText(QStringLiteral("07 01 00 00"));
    auto *sender = find<PeriodicSender>(w, "periodicSender1");
    QTest::mouseClick(find<QPushButton>(w, "pushButton_periodic1"), Qt::LeftButton);
    QVERIFY(sender->isRunning());
    QVERIFY(m_pty->read(9 * 5).size() >= 9 * 5);
    QTest::mouseClick(find<QPushButton>(w, "pushButton_open1"), Qt::LeftButton);
    QVERIFY(!sender->isRunning());
    QCOMPARE(find<QPushButton>(w, "pushButton_periodic1")->text(), StartCaption);

    // The simulated MCU: the far end goes away.
    m_dual.reset();
    McuWindow mcu;
    auto *com = find<QComboBox>(&mcu, "com_3");
    QVERIFY(waitUntil([&] { return com->findText(m_pty->slavePath()) >= 0; }));
    com->setCurrentText(m_pty->slavePath());
    QTest::mouseClick(find<QPushButton>(&mcu, "pushButton_open3"), Qt::LeftButton);
    find<QSpinBox>(&mcu, "spinBox_interval3")->setValue(5);
    find<QSpinBox>(&mcu, "spinBox_count3")->setValue(0);
    find<QTextEdit>(&mcu, "textEdit_send3")->setPlainText(QStringLiteral("07 01 00 00"));
    auto *mcuSender = find<PeriodicSender>(&mcu, "periodicSender3");
    QTest::mouseClick(find<QPushButton>(&mcu, "pushButton_periodic3"), Qt::LeftButton);
    QVERIFY(mcuSender->isRunning());
    QVERIFY(m_pty->read(9 * 3).size() >= 9 * 3);
    m_pty->closeMaster();
    QVERIFY(waitUntil([&] { return !mcuSender->isRunning(); }, 5000));
    QVERIFY(mcuSender->sent() >= 3);
}

void TestSendControls::commandListAndHistoryComeBack()
{
    openDualSide1();
    QWidget *w = m_dual.get();
    auto *box = find<QTextEdit>(w, "textEdit_send1");
    for (const char *text : {"08 07 00 00", "0B 01 00 00"}) {
        box->setPlainText(QLatin1String(text));
        QTest::mouseClick(find<QPushButton>(w, "pushButton_send1"), Qt::LeftButton);
    }
    QCOMPARE(m_pty->read(18), wireFrame(0x08, 0x07) + wireFrame(0x0B, 0x01));

    QTest::mouseClick(find<QPushButton>(w, "pushButton_commands1"), Qt::LeftButton);
    auto *list = w->findChild<CommandListWindow *>();
    QVERIFY(list && list->isVisible());
    auto add = [&](const QString &name, const QString &hex) {
        find<QLineEdit>(list, "lineEdit_commandName")->setText(name);
        find<QLineEdit>(list, "lineEdit_commandHex")->setText(hex);
        QTest::mouseClick(find<QPushButton>(list, "pushButton_commandAdd"), Qt::LeftButton);
    };
    add(QStringLiteral("心跳"), QStringLiteral("?? 07 01 00 00"));
    add(QStringLiteral("重置"), QStringLiteral("FF FF 0B 02 00 00"));
    QCOMPARE(find<QListWidget>(list, "listWidget_commands")->currentRow(), 1);
    QTest::mouseClick(find<QPushButton>(list, "pushButton_commandUp"), Qt::LeftButton);
    // Ctrl+1 on the tab: the first command, through the box, completed.
    w->show();
    QApplication::setActiveWindow(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
    box->setFocus();
    QTest::keyClick(box, Qt::Key_1, Qt::ControlModifier);
    QCOMPARE(m_pty->read(9), wireFrame(0x0B, 0x02));
    const QString exported = m_root->file(QStringLiteral("commands.json"));
    QVERIFY(list->exportFile(exported));

    // A restart: the list and the history are read back from the settings.
    m_dual.reset();
    m_dual = std::make_unique<DoubleWindow>();
    w = m_dual.get();
    list = w->findChild<CommandListWindow *>();
    const QVector<CommandList::Command> stored{
        {QStringLiteral("重置"), QStringLiteral("FF FF 0B 02 00 00")},
        {QStringLiteral("心跳"), QStringLiteral("?? 07 01 00 00")}};
    QCOMPARE(list->commands().commands(), stored);
    box = find<QTextEdit>(w, "textEdit_send1");
    box->setFocus();
    box->setPlainText(QStringLiteral("typed"));
    QTest::keyClick(box, Qt::Key_Up);
    QCOMPARE(box->toPlainText(), QStringLiteral("0B 01 00 00"));
    QTest::keyClick(box, Qt::Key_Up);
    QCOMPARE(box->toPlainText(), QStringLiteral("08 07 00 00"));
    QTest::keyClick(box, Qt::Key_Up); // the oldest stays
    QCOMPARE(box->toPlainText(), QStringLiteral("08 07 00 00"));
    QTest::keyClick(box, Qt::Key_Down);
    QTest::keyClick(box, Qt::Key_Down);
    QCOMPARE(box->toPlainText(), QStringLiteral("typed"));

    // A malformed file is refused with its reason and changes nothing.
    const QString broken = m_root->file(QStringLiteral("broken.json"));
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{\"format\": \"lumo-commands\", \"version\": 1, \"commands\": [{\"name\": 3}]}");
    file.close();
    {
        MessageBoxCatcher catcher;
        QVERIFY(!list->importFile(broken));
        QVERIFY(catcher.wait());
        QCOMPARE(catcher.title(), QStringLiteral("错误"));
        QVERIFY2(catcher.text().contains(QStringLiteral("第 1 条指令")),
                 qPrintable(catcher.text()));
    }
    QCOMPARE(list->commands().commands(), stored);
    // The exported file is read back whole.
    QVERIFY(list->importFile(exported));
    QCOMPARE(list->commands().commands(), stored);
}

QTEST_MAIN(TestSendControls)
#include "tst_sendcontrols.moc"
