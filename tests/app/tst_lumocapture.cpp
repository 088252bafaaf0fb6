// SPDX-License-Identifier: GPL-3.0-or-later
// lumo-capture as its users run it: started as a process on the slave ends
// of real pseudo-terminals, the test playing the MCU and the module on the
// master ends, and the real tshark reading what it records, through
// Wireshark's extcap interface or through a pipe.
#include "testsupport.h"

#include "capture/capturereader.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#ifndef LUMO_CAPTURE_PATH
#error "LUMO_CAPTURE_PATH is the built lumo-capture, defined by tests/CMakeLists.txt"
#endif

namespace {

QString tsharkPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("tshark"));
}

// Whether a process other than this one has `path` open: the program has
// opened the port, or is still running with it.
bool heldByAnotherProcess(const QString &path)
{
    const QString own = QString::number(::getpid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : pids) {
        if (pid == own || pid.toInt() <= 0)
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QString &fd : fds.entryList(QDir::Files | QDir::System)) {
            if (QFileInfo(fds.filePath(fd)).symLinkTarget() == path)
                return true;
        }
    }
    return false;
}

// Each direction's packets of a capture, joined.
bool readDirections(const QString &path, QByteArray *mcuToModule, QByteArray *moduleToMcu,
                    QString *error)
{
    mcuToModule->clear();
    moduleToMcu->clear();
    bool cutShort = false;
    return CaptureReader::read(
        path,
        [&](const LineSegment &s, const QString &) {
            (s.direction == LineDirection::McuToModule ? mcuToModule : moduleToMcu)->append(s.wire);
            return true;
        },
        error, &cutShort);
}

} // namespace

class TestLumoCapture : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void extcapCaptureInTshark();
    void standardOutputIntoTshark();
    void lostPortEndsTheFile();
    void waitsForAPortToAppear();
    void badUseEndsWithTwo_data();
    void badUseEndsWithTwo();
};

void TestLumoCapture::init()
{
    // The tests named after tshark run it.
    if (QByteArray(QTest::currentTestFunction()).contains("Tshark") && tsharkPath().isEmpty())
        QSKIP("tshark is not installed (scripts/setup.sh installs it)");
}

void TestLumoCapture::extcapCaptureInTshark()
{
    PtyPair mcu;
    PtyPair module;
    QVERIFY(mcu.isValid() && module.isValid());
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
    // The ports Wireshark's selectors offer: the ptys among the system's.
    env.insert(QStringLiteral("LUMO_EXTRA_PORTS"),
               mcu.slavePath() + QLatin1Char(',') + module.slavePath());

    QProcess install;
    install.setProcessEnvironment(env);
    install.start(QStringLiteral(LUMO_CAPTURE_PATH), {QStringLiteral("--install-wireshark")});
    QVERIFY(install.waitForFinished(30000));
    QCOMPARE(install.exitCode(), 0);

    QProcess list;
    list.setProcessEnvironment(env);
    list.start(tsharkPath(), {QStringLiteral("-D")});
    QVERIFY(list.waitForFinished(60000));
    const QString interfaces = QString::fromUtf8(list.readAllStandardOutput());
    QVERIFY2(interfaces.contains(QLatin1String(". lumo (Lumo UART line)\n")),
             qPrintable(interfaces));

    const QString out = home.filePath(QStringLiteral("line.pcapng"));
    QProcess tshark;
    tshark.setProcessEnvironment(env);
    tshark.start(tsharkPath(),
                 {QStringLiteral("-i"), QStringLiteral("lumo"), QStringLiteral("-o"),
                  QStringLiteral("extcap.lumo.mcu:") + mcu.slavePath(), QStringLiteral("-o"),
                  QStringLiteral("extcap.lumo.module:") + module.slavePath(), QStringLiteral("-o"),
                  QStringLiteral("extcap.lumo.baud:921600"), QStringLiteral("-w"), out});
    QVERIFY(tshark.waitForStarted());
    QVERIFY2(waitUntil(
                 [&] {
                     return heldByAnotherProcess(mcu.slavePath())
                         && heldByAnotherProcess(module.slavePath());
                 },
                 30000),
             tshark.readAllStandardError().constData());

    // Frames with escaped FFs and bytes that are no frame, both ways at once;
    // the bridge hands each side's bytes to the other.
    const QByteArray fromMcu = frameStream(40000, 21);
    const QByteArray fromModule = frameStream(40000, 22);
    QVERIFY(mcu.write(fromMcu));
    QVERIFY(module.write(fromModule));
    QCOMPARE(module.read(fromMcu.size(), 10000), fromMcu);
    QCOMPARE(mcu.read(fromModule.size(), 10000), fromModule);

    QByteArray mcuToModule;
    QByteArray moduleToMcu;
    QString error;
    waitUntil(
        [&] {
            return readDirections(out, &mcuToModule, &moduleToMcu, &error)
                && mcuToModule.size() == fromMcu.size() && moduleToMcu.size() == fromModule.size();
        },
        10000);
    // Stopping the capture as Wireshark's stop button does.
    tshark.terminate();
    QVERIFY(tshark.waitForFinished(30000));
    QVERIFY2(waitUntil(
                 [&] {
                     return !heldByAnotherProcess(mcu.slavePath())
                         && !heldByAnotherProcess(module.slavePath());
                 },
                 3000),
             "lumo-capture still holds a port after the capture stopped");

    QVERIFY2(readDirections(out, &mcuToModule, &moduleToMcu, &error), qPrintable(error));
    QVERIFY(mcuToModule == fromMcu);
    QVERIFY(moduleToMcu == fromModule);
}

void TestLumoCapture::standardOutputIntoTshark()
{
    PtyPair tap;
    QVERIFY(tap.isValid());
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());

    QProcess capture;
    QProcess tshark;
    capture.setStandardOutputProcess(&tshark);
    tshark.setProcessEnvironment(env);
    tshark.start(tsharkPath(),
                 {QStringLiteral("-r"), QStringLiteral("-"), QStringLiteral("-X"),
                  QStringLiteral("lua_script:" LUMO_RUNTIME_SOURCE "/wireshark/lumo.lua"),
                  QStringLiteral("-T"), QStringLiteral("fields"), QStringLiteral("-e"),
                  QStringLiteral("lumo.direction"), QStringLiteral("-e"),
                  QStringLiteral("lumo.sequence")});
    capture.start(QStringLiteral(LUMO_CAPTURE_PATH),
                  {QStringLiteral("--sniff"), tap.slavePath(), QStringLiteral("-b"),
                   QStringLiteral("921600"), QStringLiteral("-w"), QStringLiteral("-"),
                   QStringLiteral("--count"), QStringLiteral("3")});
    QVERIFY(waitUntil([&] { return heldByAnotherProcess(tap.slavePath()); }, 10000));
    // Four frames heard; the count ends the file after three.
    QVERIFY(tap.write(wireFrame(0x01, 7) + wireFrame(0x02, 8) + wireFrame(0x03, 9)
                      + wireFrame(0x04, 10)));
    QVERIFY(capture.waitForFinished(10000));
    QCOMPARE(capture.exitCode(), 0);
    QVERIFY(tshark.waitForFinished(60000));
    QCOMPARE(tshark.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(tshark.readAllStandardOutput()),
             QStringLiteral("0\t7\n0\t8\n0\t9\n"));
}

void TestLumoCapture::lostPortEndsTheFile()
{
    PtyPair tap;
    QVERIFY(tap.isValid());
    // The program must not inherit the device's end, or closing it here
    // would not make the port vanish.
    ::fcntl(tap.masterFd(), F_SETFD, FD_CLOEXEC);
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("tap.pcap"));
    QProcess capture;
    capture.start(QStringLiteral(LUMO_CAPTURE_PATH),
                  {QStringLiteral("--mcu"), tap.slavePath(), QStringLiteral("--sides"),
                   QStringLiteral("mcu"), QStringLiteral("-w"), out});
    QVERIFY(waitUntil([&] { return heldByAnotherProcess(tap.slavePath()); }, 10000));
    // Half a frame, then the adapter is pulled: what was heard is in the file.
    const QByteArray frame = wireFrame(0x05, 3, hex("01 02"));
    QVERIFY(tap.write(frame.left(6)));
    tap.readFor(200);
    tap.closeMaster();
    QVERIFY(capture.waitForFinished(10000));
    QCOMPARE(capture.exitCode(), 1);
    const QString err = QString::fromUtf8(capture.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("lumo-capture: lost ") + tap.slavePath()),
             qPrintable(err));
    QByteArray mcuToModule;
    QByteArray moduleToMcu;
    QString error;
    QVERIFY2(readDirections(out, &mcuToModule, &moduleToMcu, &error), qPrintable(error));
    QCOMPARE(mcuToModule, frame.left(6));
    QVERIFY(moduleToMcu.isEmpty());
}

void TestLumoCapture::waitsForAPortToAppear()
{
    PtyPair tap;
    QVERIFY(tap.isValid());
    QTemporaryDir dir;
    // The link a rig's cable script makes, some time after the capture began.
    const QString link = dir.filePath(QStringLiteral("tap"));
    const QString out = dir.filePath(QStringLiteral("tap.pcap"));
    QProcess capture;
    capture.start(QStringLiteral(LUMO_CAPTURE_PATH),
                  {QStringLiteral("--sniff"), link, QStringLiteral("--wait-for-port"),
                   QStringLiteral("--count"), QStringLiteral("1"), QStringLiteral("-w"), out});
    QVERIFY(capture.waitForStarted());
    QVERIFY(!capture.waitForFinished(1000));
    QVERIFY(QFile::link(tap.slavePath(), link));
    QVERIFY(waitUntil([&] { return heldByAnotherProcess(tap.slavePath()); }, 10000));
    const QByteArray frame = wireFrame(0x06, 1);
    QVERIFY(tap.write(frame));
    QVERIFY(capture.waitForFinished(10000));
    QCOMPARE(capture.exitCode(), 0);
    const QString err = QString::fromUtf8(capture.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("port %1 does not exist yet; waiting for it").arg(link))
                 && err.contains(QStringLiteral("port %1 is open").arg(link)),
             qPrintable(err));
    QByteArray mcuToModule;
    QByteArray moduleToMcu;
    QString error;
    QVERIFY2(readDirections(out, &mcuToModule, &moduleToMcu, &error), qPrintable(error));
    QCOMPARE(mcuToModule, frame);
}

void TestLumoCapture::badUseEndsWithTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const QString missing = QStringLiteral("/nonexistent/ttyUSB9");
    QTest::newRow("one side of a bridge")
        << QStringList{QStringLiteral("--mcu"), missing} << QStringLiteral("--module PATH");
    QTest::newRow("unknown sides") << QStringList{QStringLiteral("--mcu"), missing,
                                                  QStringLiteral("--sides"), QStringLiteral("left")}
                                   << QStringLiteral("--sides takes both, mcu or module");
    QTest::newRow("bad count") << QStringList{QStringLiteral("--sniff"), missing,
                                              QStringLiteral("--count"), QStringLiteral("many")}
                               << QStringLiteral("--count takes");
    QTest::newRow("port that does not open")
        << QStringList{QStringLiteral("--sniff"), missing, QStringLiteral("-w"),
                       QStringLiteral("/dev/null")}
        << QStringLiteral("cannot open ") + missing;
    QTest::newRow("file that cannot be written")
        << QStringList{QStringLiteral("--sniff"), missing, QStringLiteral("--wait-for-port"),
                       QStringLiteral("-w"), QStringLiteral("/nonexistent/out.pcap")}
        << QStringLiteral("cannot create /nonexistent/out.pcap");
    QTest::newRow("another interface")
        << QStringList{QStringLiteral("--extcap-dlts"), QStringLiteral("--extcap-interface"),
                       QStringLiteral("eth0")}
        << QStringLiteral("no such interface: eth0");
}

void TestLumoCapture::badUseEndsWithTwo()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QProcess capture;
    capture.start(QStringLiteral(LUMO_CAPTURE_PATH), arguments);
    QVERIFY(capture.waitForFinished(10000));
    QCOMPARE(capture.exitCode(), 2);
    const QString err = QString::fromUtf8(capture.readAllStandardError());
    QVERIFY2(err.startsWith(QStringLiteral("lumo-capture: ")) && err.contains(message),
             qPrintable(err));
}

QTEST_GUILESS_MAIN(TestLumoCapture)
#include "tst_lumocapture.moc"
