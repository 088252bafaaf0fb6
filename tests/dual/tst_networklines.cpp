// SPDX-License-Identifier: GPL-3.0-or-later
// Network lines in the port fields of the real windows: added through the
// dialog, offered everywhere and remembered, opened against a TCP server of
// the test's own on 127.0.0.1, refused, dropped and taken up again.
#include "testsupport.h"

#include "bridge/linebridge.h"
#include "capture/linemonitor.h"
#include "dual/doublewindow.h"
#include "dual/modulewindow.h"
#include "mcu/mcuwindow.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "serial/networkline.h"
#include "serial/zemserialport.h"
#include "widgets/networkportdialog.h"
#include "widgets/networkportlist.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>
#include <QtTest>

namespace {
const QString AddEntry = QStringLiteral("添加网络串口…");

template <typename T> T *child(QObject *root, const char *name)
{
    return root->findChild<T *>(QString::fromLatin1(name));
}

QString address(quint16 port)
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(port);
}

// Picks the add entry of `combo`; the dialog it opened, or null.
NetworkPortDialog *openDialog(QWidget *window, QComboBox *combo)
{
    const int add = combo->count() - 1;
    const QString before = combo->currentText();
    combo->setCurrentIndex(add);
    emit combo->activated(add);
    // The add entry is never left as the selection.
    if (combo->itemText(add) != AddEntry || combo->currentText() != before)
        return nullptr;
    return window->findChild<NetworkPortDialog *>(QStringLiteral("networkPortDialog"));
}
} // namespace

class TestNetworkLines : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_pty = std::make_unique<PtyPair>();
        QVERIFY(m_pty->isValid());
        setExtraPorts({m_pty->slavePath()});
        m_settings = std::make_unique<ZemTool>();
    }
    void cleanup()
    {
        m_settings.reset();
        m_pty.reset();
        m_root.reset();
        qunsetenv("LUMO_EXTRA_PORTS");
    }
    void addedLineIsOfferedEverywhereAndRemembered();
    void refusedAddressSaysSo();
    void bytesPassAndADroppedLineIsTakenUpAgain();

private:
    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<ZemTool> m_settings;
};

void TestNetworkLines::addedLineIsOfferedEverywhereAndRemembered()
{
    auto dual = std::make_unique<DoubleWindow>(m_settings.get());
    McuWindow mcu(m_settings.get());
    ModuleWindow module(m_settings.get());
    auto *com1 = child<QComboBox>(dual.get(), "com_1");
    NetworkPortDialog *dialog = openDialog(dual.get(), com1);
    QVERIFY(dialog);
    auto *problem = child<QLabel>(dialog, "label_problem");
    QPushButton *ok = child<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok);
    QTest::keyClicks(child<QLineEdit>(dialog, "lineEdit_address"), "rfc2217://lab-rig");
    QVERIFY(!ok->isEnabled());
    QVERIFY2(problem->text().contains(QStringLiteral("端口")), qPrintable(problem->text()));
    QTest::keyClicks(child<QLineEdit>(dialog, "lineEdit_address"), ":7001");
    QVERIFY(ok->isEnabled() && problem->text().isEmpty());
    QTest::mouseClick(ok, Qt::LeftButton);

    // Chosen here, offered after the local ports in every port field.
    const QString line = QStringLiteral("rfc2217://lab-rig:7001");
    QCOMPARE(com1->currentText(), line);
    QCOMPARE(com1->toolTip(), line);
    QComboBox *const combos[]
        = {com1, child<QComboBox>(dual.get(), "com_2"), child<QComboBox>(&mcu, "com_3"),
           child<QComboBox>(&module, "comboBox_port")};
    for (QComboBox *combo : combos)
        QCOMPARE(combo->itemText(combo->count() - 2), line);

    // Remembered by a new window; odd entries written beside it are skipped.
    m_settings->writeSetting(SettingKeys::NetworkLines,
                             m_settings->readSetting(SettingKeys::NetworkLines)
                                 + QStringLiteral(" COM3 tcp://x:0 tcp://[::1 ") + line);
    dual = std::make_unique<DoubleWindow>(m_settings.get());
    QCOMPARE(child<QComboBox>(dual.get(), "com_1")->currentText(), line);
    QCOMPARE(NetworkPortList::read(m_settings.get()), QStringList{line});

    // Removed in another field's dialog: gone from all of them.
    dialog = openDialog(&mcu, combos[2]);
    QVERIFY(dialog);
    child<QListWidget>(dialog, "listWidget_lines")->setCurrentRow(0);
    QTest::mouseClick(child<QPushButton>(dialog, "pushButton_remove"), Qt::LeftButton);
    dialog->reject();
    QCOMPARE(combos[2]->findText(line), -1);
    QCOMPARE(combos[3]->findText(line), -1);
    QCOMPARE(child<QComboBox>(dual.get(), "com_1")->findText(line), -1);
}

void TestNetworkLines::refusedAddressSaysSo()
{
    quint16 port = 0;
    {
        QTcpServer probe; // a port nobody listens on any longer
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    NetworkPortList::instance()->add(m_settings.get(), address(port));
    DoubleWindow dual(m_settings.get());
    auto *com1 = child<QComboBox>(&dual, "com_1");
    com1->setCurrentIndex(com1->findText(address(port)));
    auto *open = child<QPushButton>(&dual, "pushButton_open1");
    MessageBoxCatcher box;
    QTest::mouseClick(open, Qt::LeftButton);
    QVERIFY(box.wait());
    QCOMPARE(box.text(), QStringLiteral("打开失败！"));
    QVERIFY2(box.informativeText().contains(QStringLiteral("拒绝")),
             qPrintable(box.informativeText()));
    QCOMPARE(open->text(), QStringLiteral("打开串口"));
}

// Side 1 of the dual tab on the test's server, side 2 on the pty.
void TestNetworkLines::bytesPassAndADroppedLineIsTakenUpAgain()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 port = server.serverPort();
    const QString line = address(port);
    NetworkPortList::instance()->add(m_settings.get(), line);
    DoubleWindow dual(m_settings.get());
    LineMonitor monitor;
    monitor.attach(dual.line1(), LineDirection::McuToModule, true);
    auto *com1 = child<QComboBox>(&dual, "com_1");
    auto *com2 = child<QComboBox>(&dual, "com_2");
    com1->setCurrentIndex(com1->findText(line));
    com2->setCurrentIndex(com2->findText(m_pty->slavePath()));
    auto *open = child<QPushButton>(&dual, "pushButton_open1");
    QTest::mouseClick(open, Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(&dual, "pushButton_open2"), Qt::LeftButton);
    QVERIFY(dual.line2()->isLineOpen());
    QVERIFY(waitUntil([&] { return server.hasPendingConnections(); }));
    QTcpSocket *far = server.nextPendingConnection();
    QVERIFY(waitUntil([&] { return !dual.line1()->isLineConnecting(); }));

    const QByteArray toPty = wireFrame(0x07, 1, hex("FF 00 FF"));
    far->write(toPty);
    QCOMPARE(m_pty->read(toPty.size()), toPty);
    const QByteArray toServer = wireFrame(0x02, 2, hex("01 FF"));
    QVERIFY(m_pty->write(toServer));
    QVERIFY(waitUntil([&] { return far->bytesAvailable() >= toServer.size(); }));
    QCOMPARE(far->readAll(), toServer);
    // The recorder and the analyzer name the line by its address.
    QCOMPARE(monitor.portNameOf(dual.line1()), line);

    // Up long enough not to count as closed at once, then the server goes.
    auto *box = child<QTextEdit>(&dual, "textEdit_rec1");
    QTest::qWait(NetworkLine::SettleMs + 200);
    server.close();
    far->disconnectFromHost();
    QVERIFY(waitUntil([&] { return box->toPlainText().contains(QStringLiteral("已断开")); }));
    QVERIFY(box->toPlainText().contains(QStringLiteral("双串口转发已关闭")));
    QCOMPARE(open->text(), QStringLiteral("打开串口"));

    // Back on the same port: connected again without a click.
    QVERIFY(server.listen(QHostAddress::LocalHost, port));
    QVERIFY(waitUntil([&] { return server.hasPendingConnections(); }, 5000));
    far = server.nextPendingConnection();
    const QString back = QStringLiteral("网络串口 %1 已重新连接；双串口转发已恢复").arg(line);
    QVERIFY(waitUntil([&] { return box->toPlainText().contains(back); }));
    QCOMPARE(open->text(), QStringLiteral("关闭串口"));
    QVERIFY(dual.bridge()->isOn());
    far->write(hex("FF FF 00"));
    QCOMPARE(m_pty->read(3), hex("FF FF 00"));
}

QTEST_MAIN(TestNetworkLines)
#include "tst_networklines.moc"
