// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated-MCU tab's traffic log on its own: the lines it shows and
// keeps, batching, the cap on old transfers, scrolling and keys.
#include "testsupport.h"

#include "mcu/trafficlog.h"
#include "protocol/zemtool.h"

#include <QRegularExpression>
#include <QScrollBar>
#include <QtTest>

class TestTrafficLog : public QObject
{
    Q_OBJECT
private slots:
    void linesAndWhatTheyKeep();
    void batchesAndClearing();
    void keepsTheMostRecentTransfers();
    void followsTheNewestLineAndTakesKeys();
};

void TestTrafficLog::linesAndWhatTheyKeep()
{
    TrafficLog log;
    log.addTransfer(QStringLiteral("WIFI:"), hex("FF FF 00 05 07 01 00 00 0D"),
                    hex("FF FF 00 05 07 01 00 00 0D"));
    log.addTransfer(QStringLiteral("MCU:"), hex("FF FF 00 05 08 FF 55 00 00 0D"),
                    hex("FF FF 00 05 08 FF 00 00 0D"));
    log.addTransfer(QStringLiteral("SEND:"), QByteArray(), QByteArray());
    log.addNotice(QStringLiteral("串口 X 已断开"));
    QCOMPARE(log.count(), 0); // not before the batch
    log.flush();
    QCOMPARE(log.count(), 7);

    const QRegularExpression header(
        QStringLiteral("^(WIFI|MCU|SEND):\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"));
    for (int row : {0, 2, 4}) {
        QVERIFY2(header.match(log.lineText(row)).hasMatch(), qPrintable(log.lineText(row)));
        QVERIFY(!log.model()->index(row, 0).data(TrafficLog::FrameRole).isValid());
    }
    QCOMPARE(log.lineText(3), QStringLiteral("FF FF 00 05 08 FF 55 00 00 0D "));
    // The byte line keeps the frame as the receiver reads it, not the text.
    QCOMPARE(log.model()->index(3, 0).data(TrafficLog::FrameRole).toByteArray(),
             hex("FF FF 00 05 08 FF 00 00 0D"));
    // An empty transfer still decodes (to nothing); a notice never does.
    QCOMPARE(log.model()->index(5, 0).data(TrafficLog::FrameRole), QVariant(QByteArray("")));
    const QModelIndex notice = log.model()->index(6, 0);
    QVERIFY(QRegularExpression(QStringLiteral("^注意:\\d\\d:\\d\\d:\\d\\d\\.\\d{3} 串口 X 已断开$"))
                .match(notice.data().toString())
                .hasMatch());
    QVERIFY(!notice.data(TrafficLog::FrameRole).isValid());
    QVERIFY(notice.data(Qt::ForegroundRole).value<QColor>().isValid());
    QVERIFY(!log.model()->index(1, 0).data(Qt::ForegroundRole).isValid());
}

void TestTrafficLog::batchesAndClearing()
{
    TrafficLog log;
    log.addTransfer(QStringLiteral("WIFI:"), hex("01"), hex("01"));
    // The batch goes in by itself a moment later.
    QTRY_COMPARE_WITH_TIMEOUT(log.count(), 2, 2000);
    log.addTransfer(QStringLiteral("WIFI:"), hex("02"), hex("02"));
    log.clearLog(); // also drops what is still waiting
    QTest::qWait(3 * TrafficLog::FlushIntervalMs);
    QCOMPARE(log.count(), 0);
}

void TestTrafficLog::keepsTheMostRecentTransfers()
{
    TrafficLog log;
    for (int i = 0; i < TrafficLog::MaxTransfers; ++i)
        log.addTransfer(QStringLiteral("WIFI:"), ZemTool::numberToBytes(quint32(i), 3),
                        QByteArray());
    log.flush();
    QCOMPARE(log.count(), TrafficLog::MaxLines);
    QCOMPARE(log.lineText(1), QStringLiteral("00 00 00 "));

    // One more transfer drops a whole block of the oldest lines at once.
    log.addTransfer(QStringLiteral("WIFI:"), hex("AA BB CC"), QByteArray());
    log.flush();
    QCOMPARE(log.count(), TrafficLog::MaxLines + 2 - TrafficLog::TrimBlock);
    QVERIFY(log.lineText(0).startsWith(QStringLiteral("WIFI:")));
    QCOMPARE(log.lineText(1),
             ZemTool::hexText(ZemTool::numberToBytes(TrafficLog::TrimBlock / 2, 3)));
    QCOMPARE(log.lineText(log.count() - 1), QStringLiteral("AA BB CC "));
    QCOMPARE(log.model()->index(log.count() - 1, 0).data(TrafficLog::FrameRole).toByteArray(),
             QByteArray(""));

    // A single batch larger than the log keeps its newest lines only.
    for (int i = 0; i < TrafficLog::MaxTransfers + 10; ++i)
        log.addTransfer(QStringLiteral("MCU:"), ZemTool::numberToBytes(quint32(i), 3),
                        QByteArray());
    log.flush();
    QCOMPARE(log.count(), TrafficLog::MaxLines);
    QCOMPARE(log.lineText(1), QStringLiteral("00 00 0A "));
}

void TestTrafficLog::followsTheNewestLineAndTakesKeys()
{
    TrafficLog log;
    log.resize(300, 200);
    log.show();
    QVERIFY(QTest::qWaitForWindowExposed(&log));
    for (int i = 0; i < 500; ++i)
        log.addTransfer(QStringLiteral("WIFI:"), ZemTool::numberToBytes(quint32(i), 2),
                        QByteArray());
    log.flush();
    QScrollBar *bar = log.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    const QModelIndex last = log.model()->index(999, 0);
    QVERIFY(log.viewport()->rect().contains(log.visualRect(last)));
    QCOMPARE(log.indexAt(log.visualRect(last).topLeft() + QPoint(2, 2)), last);

    log.setFocus();
    QTest::keyClick(&log, Qt::Key_Home);
    QCOMPARE(log.currentIndex().row(), 0);
    QCOMPARE(bar->value(), 0);
    QTest::keyClick(&log, Qt::Key_Down);
    QCOMPARE(log.currentIndex().row(), 1);
    QTest::keyClick(&log, Qt::Key_End);
    QCOMPARE(log.currentIndex().row(), 999);
    QCOMPARE(bar->value(), bar->maximum());
}

QTEST_MAIN(TestTrafficLog)
#include "tst_trafficlog.moc"
