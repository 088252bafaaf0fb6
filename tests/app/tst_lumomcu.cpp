// SPDX-License-Identifier: GPL-3.0-or-later
// lumo-mcu as a user runs it: the built program started as a process on the
// slave end of a real pseudo-terminal, the test playing the Wi-Fi module on
// the master end.
#include "ser2netserver.h"
#include "testsupport.h"

#include "protocol/settingkeys.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>

#ifndef LUMO_MCU_PATH
#error "LUMO_MCU_PATH is the built lumo-mcu, defined by tests/CMakeLists.txt"
#endif

namespace {

const QString SampleKey = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The project's version, read from the build description.
QString projectVersion()
{
    const QString text = QString::fromUtf8(
        readFile(QStringLiteral(LUMO_RUNTIME_SOURCE) + QStringLiteral("/../CMakeLists.txt")));
    return QRegularExpression(QStringLiteral("project\\(Lumo VERSION ([0-9.]+)"))
        .match(text)
        .captured(1);
}

// The sample lamp's 20 status bytes: writable bit area (switch bit 0, mode
// bits 1-2), brightness, colour temperature 2700 (0A 8C), the rest zero.
QByteArray lampValues(quint8 area, quint8 brightness)
{
    return QByteArray(1, char(area)) + QByteArray(1, char(brightness)) + hex("0A8C")
        + QByteArray(16, '\0');
}

QByteArray statusAnswer(int sequence, const QByteArray &values)
{
    return makeFrame(0x04, sequence, QByteArray(1, '\x03') + values);
}

// Answers GET /v2/datapoint?product_key=KEY&format=json with `body` for
// `key` and a refusal for any other key.
class DefinitionServer : public QTcpServer
{
public:
    DefinitionServer(const QString &key, const QByteArray &body)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this, key, body] {
            while (QTcpSocket *s = nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [s, key, body] {
                    const bool known = s->readAll().contains("product_key=" + key.toLatin1());
                    const QByteArray answer
                        = known ? body : QByteArray("{\"errors\": {\"product_key\": \"unknown\"}}");
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                             + QByteArray::number(answer.size()) + "\r\nConnection: close\r\n\r\n"
                             + answer);
                    s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(serverPort()); }
};

} // namespace

class TestLumoMcu : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void versionAndHelp();
    void badUseIsRefused_data();
    void badUseIsRefused();
    void answersTheModuleAndLogsToStdout();
    void firmwareLandsInBin();
    void signalEndsItCleanly_data();
    void signalEndsItCleanly();
    void lostPortEndsIt();
    void waitsForThePortToReturn();
    void fetchesADefinitionNotCached();
    void answersOverANetworkLine();

private:
    // Starts lumo-mcu on `port` (the pty by default) with the test's folder.
    void start(const QStringList &extra, const QString &port = QString());
    // Runs lumo-mcu to its end; false when it did not end on its own.
    bool runToEnd(const QStringList &args, int *exitCode);
    QList<QByteArray> readFrames(PtyPair &pty, int count, int timeoutMs = 5000);
    QStringList stdoutLines() const;
    bool stop(int signal = SIGTERM);

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<QProcess> m_mcu;
    QByteArray m_out;
    QByteArray m_err;
};

void TestLumoMcu::init()
{
    m_root = std::make_unique<TestRoot>();
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->isValid());
    // The program must not inherit the master end: closing it here would
    // then close nothing.
    ::fcntl(m_pty->masterFd(), F_SETFD, FD_CLOEXEC);
    ZemTool tool;
    tool.writeSetting(SettingKeys::ProductKey, SampleKey);
    tool.writeSetting(SettingKeys::OtaType, QStringLiteral("bin"));
    tool.writeSetting(SettingKeys::OtaPiece, QStringLiteral("32"));
    QVERIFY(
        QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                    m_root->file(QStringLiteral("json/") + SampleKey + QStringLiteral(".json"))));
    m_out.clear();
    m_err.clear();
}

void TestLumoMcu::cleanup()
{
    if (m_mcu && m_mcu->state() != QProcess::NotRunning) {
        m_mcu->kill();
        m_mcu->waitForFinished(5000);
    }
    m_mcu.reset();
    m_pty.reset();
    m_root.reset();
}

void TestLumoMcu::start(const QStringList &extra, const QString &port)
{
    m_mcu = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The program needs no list of extra ports: it takes the path it is given.
    env.remove(QStringLiteral("LUMO_EXTRA_PORTS"));
    m_mcu->setProcessEnvironment(env);
    connect(m_mcu.get(), &QProcess::readyReadStandardOutput, this,
            [this] { m_out += m_mcu->readAllStandardOutput(); });
    connect(m_mcu.get(), &QProcess::readyReadStandardError, this,
            [this] { m_err += m_mcu->readAllStandardError(); });
    m_mcu->start(QStringLiteral(LUMO_MCU_PATH),
                 QStringList{QStringLiteral("--port"), port.isEmpty() ? m_pty->slavePath() : port,
                             QStringLiteral("--root"), m_root->path()}
                     + extra);
    QVERIFY2(m_mcu->waitForStarted(10000), qPrintable(m_mcu->errorString()));
}

bool TestLumoMcu::runToEnd(const QStringList &args, int *exitCode)
{
    QProcess p;
    p.start(QStringLiteral(LUMO_MCU_PATH), args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit) {
        p.kill();
        p.waitForFinished(5000);
        return false;
    }
    m_out = p.readAllStandardOutput();
    m_err = p.readAllStandardError();
    *exitCode = p.exitCode();
    return true;
}

QList<QByteArray> TestLumoMcu::readFrames(PtyPair &pty, int count, int timeoutMs)
{
    ZemFramer framer;
    QList<QByteArray> frames;
    connect(&framer, &ZemFramer::LineDataReady,
            [&frames](const QByteArray &f) { frames.append(f); });
    QElapsedTimer clock;
    clock.start();
    while (frames.size() < count && clock.elapsed() < timeoutMs)
        framer.dataToV4(pty.read(1, 50));
    return frames;
}

QStringList TestLumoMcu::stdoutLines() const
{
    return QString::fromUtf8(m_out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool TestLumoMcu::stop(int signal)
{
    ::kill(pid_t(m_mcu->processId()), signal);
    return m_mcu->waitForFinished(10000) && m_mcu->exitStatus() == QProcess::NormalExit;
}

void TestLumoMcu::versionAndHelp()
{
    int code = -1;
    QVERIFY(runToEnd({QStringLiteral("--version")}, &code));
    QCOMPARE(code, 0);
    QCOMPARE(QString::fromUtf8(m_out), QStringLiteral("lumo-mcu %1\n").arg(projectVersion()));

    QVERIFY(runToEnd({QStringLiteral("--help")}, &code));
    QCOMPARE(code, 0);
    for (const char *option : {"-p, --port", "-b, --baud", "--data-bits", "--stop-bits", "--parity",
                               "--root", "--product-key", "--set", "--values", "--report-every",
                               "--report-once", "--wait-for-port"})
        QVERIFY2(m_out.contains(option), option);
}

void TestLumoMcu::badUseIsRefused_data()
{
    // {pty} and {root} stand for the test's pseudo-terminal and folder.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("says");

    const QStringList base = {"--port", "{pty}", "--root", "{root}"};
    QTest::newRow("no port") << QStringList{"--root", "{root}"} << "--port";
    QTest::newRow("unknown option") << base + QStringList{"--frobnicate"} << "frobnicate";
    QTest::newRow("stray argument") << base + QStringList{"extra"} << "unexpected argument";
    QTest::newRow("baud") << base + QStringList{"--baud", "fast"} << "baud";
    QTest::newRow("data bits") << base + QStringList{"--data-bits", "9"} << "data bits";
    QTest::newRow("stop bits") << base + QStringList{"--stop-bits", "3"} << "stop bits";
    QTest::newRow("parity") << base + QStringList{"--parity", "mark"} << "parity";
    QTest::newRow("report interval")
        << base + QStringList{"--report-every", "-2"} << "--report-every";
    QTest::newRow("set without value") << base + QStringList{"--set", "亮度"} << "NAME=VALUE";
    QTest::newRow("set out of range") << base + QStringList{"--set", "亮度=101"} << "0..100";
    QTest::newRow("set unknown name") << base + QStringList{"--set", "音量=3"} << "音量";
    QTest::newRow("values file missing")
        << base + QStringList{"--values", "{root}/none.txt"} << "cannot read";
    QTest::newRow("values file bad line")
        << base + QStringList{"--values", "{root}/bad.txt"} << "bad.txt:2:";
    QTest::newRow("values file bad value")
        << base + QStringList{"--values", "{root}/bad.json"} << "no data point named '音量'";
    QTest::newRow("values file fraction")
        << base + QStringList{"--values", "{root}/fraction.json"} << "'80.5' is no number";
    QTest::newRow("product key") << base + QStringList{"--product-key", "abc"} << "product key";
    QTest::newRow("port not there")
        << QStringList{"--port", "{root}/no-such-tty", "--root", "{root}"} << "cannot open";
}

void TestLumoMcu::badUseIsRefused()
{
    QFETCH(QStringList, args);
    QFETCH(QString, says);
    QVERIFY(writeFile(m_root->file(QStringLiteral("bad.txt")), "# lamp\n亮度 80\n"));
    QVERIFY(writeFile(m_root->file(QStringLiteral("fraction.json")), "{\"亮度\": 80.5}"));
    QVERIFY(writeFile(m_root->file(QStringLiteral("bad.json")), "{\"亮度\": 3, \"音量\": 1}"));
    args.replaceInStrings(QStringLiteral("{pty}"), m_pty->slavePath());
    args.replaceInStrings(QStringLiteral("{root}"), m_root->path());
    const QString settingsBefore = m_root->settingsText();

    int code = 0;
    QVERIFY(runToEnd(args, &code));
    // The same status as every program's for a run that cannot be made.
    QCOMPARE(code, 2);
    QVERIFY2(QString::fromUtf8(m_err).contains(says), m_err.constData());
    QVERIFY(m_out.isEmpty());
    // Nothing reached the line, and a refused key was not stored.
    QVERIFY(m_pty->readFor(200).isEmpty());
    QCOMPARE(m_root->settingsText(), settingsBefore);
}

void TestLumoMcu::answersTheModuleAndLogsToStdout()
{
    QVERIFY(writeFile(m_root->file(QStringLiteral("values.json")), "{\"模式\": \"护眼\"}"));
    start({QStringLiteral("--product-key"), SampleKey, QStringLiteral("--set"),
           QStringLiteral("亮度=80"), QStringLiteral("--values"),
           m_root->file(QStringLiteral("values.json")), QStringLiteral("--report-once")});

    // The report sent once the port is open carries the values set.
    QList<QByteArray> frames = readFrames(*m_pty, 1, 10000);
    QCOMPARE(frames.size(), 1);
    QByteArray report = makeFrame(0x05, 0x00, QByteArray(1, '\x04') + lampValues(0x02, 80));
    QCOMPARE(frames.at(0), report);

    // Product information: the reply with the request's number and the key.
    QVERIFY(m_pty->write(makeFrame(0x01, 0x42)));
    frames = readFrames(*m_pty, 1);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(ZemTool::byteValue(frames.at(0), 4), 0x02);
    QCOMPARE(ZemTool::byteValue(frames.at(0), 5), 0x42);
    QCOMPARE(frames.at(0).mid(40, 32), SampleKey.toLatin1());

    // Status read, then a control command (switch on, brightness 0x10),
    // then a status read that reports what the control set.
    QVERIFY(m_pty->write(makeFrame(0x03, 0x43, hex("02"))));
    frames = readFrames(*m_pty, 1);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.at(0), statusAnswer(0x43, lampValues(0x02, 80)));
    const QByteArray control = makeFrame(0x03, 0x44, hex("01 09 01 10") + QByteArray(10, '\0'));
    QVERIFY(m_pty->write(control));
    frames = readFrames(*m_pty, 1);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.at(0), makeFrame(0x04, 0x44));
    // The same switched off with its checksum damaged: dropped.
    QByteArray damaged = makeFrame(0x03, 0x46, hex("01 01 00") + QByteArray(11, '\0'));
    damaged[damaged.size() - 1] = char(damaged.at(damaged.size() - 1) ^ 0x01);
    QVERIFY(m_pty->write(damaged));
    QVERIFY(readFrames(*m_pty, 1, 500).isEmpty());
    QVERIFY(m_pty->write(makeFrame(0x03, 0x45, hex("02"))));
    frames = readFrames(*m_pty, 1);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.at(0), statusAnswer(0x45, lampValues(0x03, 0x10)));

    // The log: ten transfers, each a header (tag and time) and its bytes;
    // the damaged frame's header says it was dropped.
    QVERIFY(waitUntil([&] { return stdoutLines().size() >= 20; }, 5000));
    const QStringList lines = stdoutLines();
    QCOMPARE(lines.size(), 20);
    const QRegularExpression header(QStringLiteral(
        "^(WIFI|MCU|SEND):\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d( \\(dropped: wrong checksum\\))?$"));
    const QStringList tags
        = {"SEND:", "WIFI:", "MCU:", "WIFI:", "MCU:", "WIFI:", "MCU:", "WIFI:", "WIFI:", "MCU:"};
    for (int i = 0; i < tags.size(); ++i) {
        QVERIFY2(header.match(lines.at(2 * i)).hasMatch(), qPrintable(lines.at(2 * i)));
        QVERIFY2(lines.at(2 * i).startsWith(tags.at(i)), qPrintable(lines.at(2 * i)));
    }
    QCOMPARE(lines.at(1), ZemTool::hexText(report));
    QCOMPARE(lines.at(3), QStringLiteral("FF FF 00 05 01 42 00 00 48 "));
    QCOMPARE(lines.at(11), ZemTool::hexText(control));
    QVERIFY(lines.at(14).endsWith(QStringLiteral(" (dropped: wrong checksum)")));
    QVERIFY(!lines.at(16).contains(QStringLiteral("dropped")));
    QCOMPARE(lines.at(15), ZemTool::hexText(damaged));
    QCOMPARE(lines.at(19), ZemTool::hexText(statusAnswer(0x45, lampValues(0x03, 0x10))));

    QVERIFY(stop());
    QCOMPARE(m_mcu->exitCode(), 0);
    QVERIFY2(m_err.isEmpty(), m_err.constData());
}

void TestLumoMcu::firmwareLandsInBin()
{
    start({});
    // Without --report-once nothing shows that the port is open: the start
    // waits on the line until the program reads it.
    QVERIFY(m_pty->write(ZemTool::escape(makeFrame(0x19, 0x07, hex("00000000 0002 12FF")))));
    QList<QByteArray> frames = readFrames(*m_pty, 2, 10000);
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames.at(0), makeFrame(0x1A, 0x07));
    QCOMPARE(ZemTool::byteValue(frames.at(1), 4), 0x1B);
    QCOMPARE(frames.at(1).mid(8, 6), hex("0002 12FF 0020")); // piece size 32

    QByteArray image;
    for (int piece = 0; piece < 4; ++piece) {
        QByteArray data(32, char(0x21 * (piece + 1)));
        data[0] = char(0xFF);
        image += data;
        QVERIFY(m_pty->write(ZemTool::escape(makeFrame(
            0x1D, 0x30 + piece, ZemTool::numberToBytes(quint32(piece), 2) + hex("0000") + data))));
        frames = readFrames(*m_pty, 1);
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames.at(0), makeFrame(0x1E, 0x30 + piece));
    }
    QCOMPARE(readFile(m_root->file(QStringLiteral("bin/mcu.bin"))), image);
    // No transfer end yet: the marker says the image is incomplete, and so
    // does the message when the program is stopped.
    const QString marker = m_root->file(QStringLiteral("bin/mcu.incomplete"));
    QVERIFY(QFile::exists(marker));
    QVERIFY(stop());
    QCOMPARE(m_mcu->exitCode(), 0);
    QVERIFY2(m_err.contains("firmware transfer cut short: 4 pieces, 128 bytes"), m_err.constData());
    QVERIFY(QFile::exists(marker));
}

void TestLumoMcu::signalEndsItCleanly_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QStringList>("reports");
    QTest::addColumn<int>("reportCount"); // reports to see before the signal
    QTest::newRow("SIGTERM, one report") << int(SIGTERM) << QStringList{"--report-once"} << 1;
    QTest::newRow("SIGINT, a report a second")
        << int(SIGINT) << QStringList{"--report-every", "1"} << 2;
}

void TestLumoMcu::signalEndsItCleanly()
{
    QFETCH(int, signal);
    QFETCH(QStringList, reports);
    QFETCH(int, reportCount);
    start(reports);
    QElapsedTimer clock;
    clock.start();
    const QList<QByteArray> frames = readFrames(*m_pty, reportCount, 10000);
    QCOMPARE(frames.size(), reportCount);
    for (const QByteArray &f : frames)
        QCOMPARE(ZemTool::byteValue(f, 4), 0x05);
    if (reportCount > 1) // the first after a second, not at once
        QVERIFY(clock.elapsed() >= 1500);
    QVERIFY(stop(signal));
    QCOMPARE(m_mcu->exitCode(), 0);
    // The port was closed: the line stays silent.
    QVERIFY(m_pty->write(makeFrame(0x07, 0x01)));
    QVERIFY(m_pty->readFor(300).isEmpty());
}

void TestLumoMcu::lostPortEndsIt()
{
    start({QStringLiteral("--report-once")});
    QCOMPARE(readFrames(*m_pty, 1, 10000).size(), 1);
    const QString path = m_pty->slavePath();
    m_pty->closeMaster();
    QVERIFY(m_mcu->waitForFinished(10000));
    QCOMPARE(m_mcu->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_mcu->exitCode(), 1);
    const QString err = QString::fromUtf8(m_err);
    QVERIFY2(err.contains(QStringLiteral("lumo-mcu: lost ") + path + QStringLiteral(": ")),
             qPrintable(err));
    // Why, in English and from the system at the moment of loss.
    QVERIFY2(err.contains(QStringLiteral("device removed"))
                 || err.contains(QStringLiteral("line hung up")),
             qPrintable(err));
}

void TestLumoMcu::waitsForThePortToReturn()
{
    // The program opens a link, as socat makes them: it waits for the link
    // to appear, then the device behind it goes away and a new one takes
    // its place.
    QTemporaryDir links;
    const QString link = links.filePath(QStringLiteral("lumo-b"));
    start({QStringLiteral("--report-once"), QStringLiteral("--wait-for-port")}, link);
    QVERIFY(waitUntil([&] { return m_err.contains("does not exist yet"); }, 10000));
    QVERIFY(QFile::link(m_pty->slavePath(), link));
    QCOMPARE(readFrames(*m_pty, 1, 10000).size(), 1);

    m_pty.reset(); // both ends gone: the link dangles
    QVERIFY(waitUntil([&] { return m_err.contains("waiting for it to return"); }, 10000));
    QCOMPARE(m_mcu->state(), QProcess::Running);

    PtyPair second;
    QVERIFY(second.isValid());
    QFile::remove(link);
    QVERIFY(QFile::link(second.slavePath(), link));
    QVERIFY(waitUntil([&] { return m_err.contains("is open"); }, 10000));
    // The report went out once: the first frame here is the answer.
    QVERIFY(second.write(makeFrame(0x07, 0x51)));
    const QList<QByteArray> frames = readFrames(second, 1);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.at(0), makeFrame(0x08, 0x51));
    QVERIFY(stop());
    QCOMPARE(m_mcu->exitCode(), 0);
}

void TestLumoMcu::fetchesADefinitionNotCached()
{
    DefinitionServer server(SampleKey, readFile(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json")));
    QVERIFY(server.isListening());
    const QString cache
        = m_root->file(QStringLiteral("json/") + SampleKey + QStringLiteral(".json"));
    QVERIFY(QFile::remove(cache));
    {
        ZemTool tool;
        tool.writeSetting(SettingKeys::Environment, server.hostPort());
    }

    // The key the service does not know: the program says so and ends.
    const QString unknown = QStringLiteral("0123456789abcdef0123456789abcdef");
    start({QStringLiteral("--product-key"), unknown});
    QVERIFY(waitUntil([&] { return m_mcu->state() == QProcess::NotRunning; }, 20000));
    QVERIFY(m_mcu->exitCode() != 0);
    QVERIFY2(m_err.contains("cannot fetch"), m_err.constData());

    // The sample key is fetched, cached, and its values can be set.
    m_err.clear();
    m_out.clear();
    start({QStringLiteral("--product-key"), SampleKey, QStringLiteral("--set"),
           QStringLiteral("亮度=5"), QStringLiteral("--report-once")});
    const QList<QByteArray> frames = readFrames(*m_pty, 1, 20000);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.at(0), makeFrame(0x05, 0x00, QByteArray(1, '\x04') + lampValues(0x00, 5)));
    QCOMPARE(readFile(cache), readFile(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json")));
    QVERIFY(stop());
    QCOMPARE(m_mcu->exitCode(), 0);
}

// The same program on a port served over the network: ser2net serves the
// pty, lumo-mcu reaches it by an RFC 2217 address.
void TestLumoMcu::answersOverANetworkLine()
{
    Ser2netServer server(m_pty->slavePath());
    QString problem;
    QVERIFY2(server.start(&problem), qPrintable(problem));
    start({QStringLiteral("--product-key"), SampleKey}, server.telnetAddress());

    // Asked until it is connected: a request written before that is lost
    // with nobody reading the pty.
    QList<QByteArray> frames;
    for (int i = 0; i < 20 && frames.isEmpty(); ++i) {
        QVERIFY(m_pty->write(hex("FF FF 00 05 01 01 00 00 07")));
        frames = readFrames(*m_pty, 1, 500);
    }
    QCOMPARE(frames.size(), 1);
    QCOMPARE(ZemTool::byteValue(frames.at(0), 4), 0x02);
    QCOMPARE(ZemTool::byteValue(frames.at(0), 5), 0x01);
    QCOMPARE(frames.at(0).mid(40, 32), SampleKey.toLatin1());
    QVERIFY(stop());
}

QTEST_GUILESS_MAIN(TestLumoMcu)
#include "tst_lumomcu.moc"
