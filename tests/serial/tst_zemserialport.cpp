// SPDX-License-Identifier: GPL-3.0-or-later
// The serial port through real pseudo-terminals.
#include "testsupport.h"

#include "serial/portwatcher.h"
#include "serial/zemserialport.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

class TestZemSerialPort : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void extraPortAppearsAndDisappears();
    void openStreamsBothWays();
    void openAppliesSettings();
    void openMissingNameFails();
    void farEndClosingClosesPortOnce();
    void reopenAfterFailureWorks();
};

void TestZemSerialPort::cleanup()
{
    qunsetenv("LUMO_EXTRA_PORTS");
}

void TestZemSerialPort::extraPortAppearsAndDisappears()
{
    QStringList last;
    QStringList other;
    ZemSerialPort port;
    ZemSerialPort second; // the list is watched once, for every port
    connect(&port, &ZemSerialPort::ComListChange, [&last](const QStringList &l) { last = l; });
    connect(&second, &ZemSerialPort::ComListChange, [&other](const QStringList &l) { other = l; });
    PortWatcher *watcher = PortWatcher::instance();

    // A link to the pty stands for the device node, as a socat link does: its
    // removal cannot be undone by another test's pty reusing the number.
    PtyPair pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lumo-port"));
    setExtraPorts({path, QStringLiteral("/dev/lumo-does-not-exist")});
    QVERIFY(QFile::link(pty.slavePath(), path));

    QVERIFY(waitUntil([&] { return last.contains(path); }, 2500));
    QVERIFY(!last.contains(QStringLiteral("/dev/lumo-does-not-exist")));
    QCOMPARE(other, last);
    QCOMPARE(ZemSerialPort::currentPortNames(), last);
    QVERIFY(port.Open(path, QStringLiteral("9600"), 3, 0, 0)); // listed names open
    port.Close();

    // The device goes away; asked for, the new list comes before the next tick.
    QVERIFY(QFile::remove(path));
    const int scans = watcher->scanCount();
    port.getComList();
    QVERIFY(waitUntil([&] { return !last.contains(path); }, 900));
    QCOMPARE(other, last);
    QVERIFY(watcher->scanCount() > scans);
    // Every scan ran on the watcher's thread, none on this (the GUI) thread.
    QVERIFY(watcher->lastScanThread() && watcher->lastScanThread() != QThread::currentThread());
    QCOMPARE(watcher->mainThreadScans(), 0);
}

void TestZemSerialPort::openStreamsBothWays()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    setExtraPorts({pty.slavePath()});
    ZemSerialPort port;
    QVERIFY(port.Open(pty.slavePath(), QStringLiteral("115200"), 3, 0, 0));
    QVERIFY(port.isOpen());

    QByteArray burst(64 * 1024, '\0');
    QRandomGenerator rng(5);
    for (char &c : burst)
        c = char(rng.bounded(256));

    // Device -> program.
    QByteArray received;
    connect(&port, &ZemSerialPort::DataReady, [&received](const QByteArray &d) { received += d; });
    QVERIFY(pty.write(burst));
    QVERIFY(waitUntil([&] { return received.size() >= burst.size(); }, 5000));
    QCOMPARE(received, burst);

    // Program -> device.
    QCOMPARE(port.write(burst), qint64(burst.size()));
    const QByteArray echoed = pty.read(burst.size(), 5000);
    QCOMPARE(echoed, burst);

    port.Close();
    QVERIFY(!port.isOpen());
}

void TestZemSerialPort::openAppliesSettings()
{
    PtyPair pty;
    setExtraPorts({pty.slavePath()});
    ZemSerialPort port;
    // 8 data bits, two stop bits. (A pty refuses 6 or 7 data bits, ignores
    // 5 and keeps no parity, so those are not checked here.)
    QVERIFY(port.Open(pty.slavePath(), QStringLiteral("19200"), 3, 2, 2));
    QCOMPARE(port.baudRate(), 19200);
    QCOMPARE(port.dataBits(), QSerialPort::Data8);
    QCOMPARE(port.stopBits(), QSerialPort::TwoStop);
    port.Close();
    QVERIFY(port.Open(pty.slavePath(), QStringLiteral("9600"), 3, 0, 1));
    QCOMPARE(port.baudRate(), 9600);
    QCOMPARE(port.stopBits(), QSerialPort::OneStop);
}

void TestZemSerialPort::openMissingNameFails()
{
    ZemSerialPort port;
    QVERIFY(!port.Open(QStringLiteral("ttyLUMO_NONE"), QStringLiteral("9600"), 3, 0, 0));
    QVERIFY(!port.isOpen());
    QVERIFY(port.openFailureReason().contains(QLatin1String("ttyLUMO_NONE")));
    // A listed path that is no terminal: the system's reason is passed on.
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("not-a-tty"));
    QFile file(plain);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    setExtraPorts({plain});
    QVERIFY(!port.Open(plain, QStringLiteral("9600"), 3, 0, 0));
    QVERIFY2(port.openFailureReason().contains(QStringLiteral("（")),
             qPrintable(port.openFailureReason()));
    // A path that was offered once but is gone now fails the same way.
    setExtraPorts({QStringLiteral("/dev/pts/lumo-gone")});
    QVERIFY(!port.Open(QStringLiteral("/dev/pts/lumo-gone"), QStringLiteral("9600"), 3, 0, 0));
    QVERIFY(!port.isOpen());
}

void TestZemSerialPort::farEndClosingClosesPortOnce()
{
    auto pty = std::make_unique<PtyPair>();
    setExtraPorts({pty->slavePath()});
    ZemSerialPort port;
    QVERIFY(port.Open(pty->slavePath(), QStringLiteral("9600"), 3, 0, 0));
    QSignalSpy lost(&port, &ZemSerialPort::PortLost);
    int errors = 0;
    connect(&port, &QSerialPort::errorOccurred, [&errors](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError)
            ++errors;
    });

    pty.reset(); // master and our slave fd closed: the device is gone
    QVERIFY(waitUntil([&] { return lost.count() > 0; }, 3000));
    QVERIFY(!port.isOpen());
    // Let the event loop run: a port left open would report errors in a busy
    // loop (hundreds of thousands a second).
    QTest::qWait(200);
    QCOMPARE(lost.count(), 1);
    QVERIFY2(errors < 10, qPrintable(QString::number(errors)));
    // The reason is asked of the system when the port fails, not Qt's
    // leftover errno text ("File exists", "Unknown error").
    const QString reason = lost.at(0).at(0).toString();
    QVERIFY2(reason.startsWith(QStringLiteral("线路已挂断"))
                 || reason.startsWith(QStringLiteral("设备已移除")),
             qPrintable(reason));
}

void TestZemSerialPort::reopenAfterFailureWorks()
{
    ZemSerialPort port;
    {
        PtyPair first;
        setExtraPorts({first.slavePath()});
        QVERIFY(port.Open(first.slavePath(), QStringLiteral("9600"), 3, 0, 0));
        QSignalSpy lost(&port, &ZemSerialPort::PortLost);
        first.closeMaster();
        QVERIFY(waitUntil([&] { return lost.count() > 0; }, 3000));
    }
    PtyPair second;
    setExtraPorts({second.slavePath()});
    QVERIFY(port.Open(second.slavePath(), QStringLiteral("9600"), 3, 0, 0));
    QByteArray got;
    connect(&port, &ZemSerialPort::DataReady, [&got](const QByteArray &d) { got += d; });
    QVERIFY(second.write(hex("FFFF000508070000 14")));
    QVERIFY(waitUntil([&] { return got.size() == 9; }));
    QCOMPARE(got, hex("FFFF00050807000014"));
}

QTEST_GUILESS_MAIN(TestZemSerialPort)
#include "tst_zemserialport.moc"
