// SPDX-License-Identifier: GPL-3.0-or-later
// Lines over the network: the Telnet layer on its own, then the program's
// line through a real ser2net serving a pty the test plays the device on,
// and through servers the test writes itself that misbehave on purpose.
#include "ser2netserver.h"
#include "testsupport.h"

#include "serial/anyline.h"
#include "serial/networkline.h"
#include "serial/telnetcodec.h"
#include "serial/zemserialport.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

// A frame with FF in every field: header, length, command, sequence, flags,
// payload and (chosen so) the checksum, escaped as on the wire.
QByteArray ffFrame()
{
    return wireFrame(0xFF, 0xFF, hex("FF FF 00 FF FF 0D FF"));
}

// Everything a line read, in order.
struct Received
{
    explicit Received(Line *line)
    {
        QObject::connect(line, &Line::DataReady, [this](const QByteArray &d) { bytes += d; });
    }
    QByteArray bytes;
};

LineSettings::Settings settings(int baud, QSerialPort::DataBits data, QSerialPort::Parity parity,
                                QSerialPort::StopBits stop)
{
    LineSettings::Settings s;
    s.baudRate = baud;
    s.dataBits = data;
    s.parity = parity;
    s.stopBits = stop;
    return s;
}

// Whether the served device runs at `s`. A pty's termios keeps the baud
// rate and stop bits set on it but always reads 8 data bits without parity,
// so those two are taken from the server's answers, when `line` has them.
bool servedWith(const QString &path, const LineSettings::Settings &s, const NetworkLine *line)
{
    termios tio{};
    if (!Ser2netServer::deviceSettings(path, &tio))
        return false;
    const speed_t speed = s.baudRate == 9600 ? B9600 : s.baudRate == 19200 ? B19200 : B57600;
    if (cfgetospeed(&tio) != speed
        || bool(tio.c_cflag & CSTOPB) != (s.stopBits == QSerialPort::TwoStop))
        return false;
    if (!line)
        return true;
    const TelnetCodec &answers = line->telnet();
    const int parity = s.parity == QSerialPort::EvenParity ? 3
        : s.parity == QSerialPort::OddParity               ? 2
                                                           : 1;
    return answers.answeredBaudRate() == quint32(s.baudRate)
        && answers.answeredCode(TelnetCodec::SetDataSize) == int(s.dataBits)
        && answers.answeredCode(TelnetCodec::SetParity) == parity;
}

// A Telnet server written to misbehave: it agrees to COM-PORT-OPTION and
// binary transmission at once (unless told to stay silent), then sends what
// the test gives it.
class HostileServer : public QTcpServer
{
public:
    explicit HostileServer(bool agree = true)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this, agree] {
            client = nextPendingConnection();
            connect(client, &QTcpSocket::readyRead, this, [this] {
                heard += client->readAll();
                // Each COM-PORT-OPTION command is answered (its code + 100).
                int at = 0;
                while ((at = heard.indexOf("\xff\xfa\x2c", answered)) >= 0
                       && at + 3 < heard.size()) {
                    client->write(hex("FF FA 2C") + char(heard.at(at + 3) + 100) + hex("FF F0"));
                    answered = at + 4;
                }
            });
            if (agree)
                client->write(hex("FF FD 2C FF FD 00 FF FB 00"));
        });
    }
    QString address() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(serverPort()); }
    // Sends `bytes` in chunks of `chunk`, each flushed on its own, so that
    // the line reads them in many pieces.
    void send(const QByteArray &bytes, int chunk)
    {
        for (int i = 0; i < bytes.size(); i += chunk) {
            client->write(bytes.mid(i, chunk));
            client->flush();
            QTest::qWait(1);
        }
    }
    QTcpSocket *client = nullptr;
    QByteArray heard;
    int answered = 0;
};

} // namespace

class TestNetworkLine : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void telnetCodec_data();
    void telnetCodec();

    void throughSer2net_data();
    void throughSer2net();
    void ser2netRestartIsRecovered_data();
    void ser2netRestartIsRecovered();

    void modemLinesTravelAsSetControl();
    void hostileServer_data();
    void hostileServer();
    void failureSaysWhatHappened_data();
    void failureSaysWhatHappened();
};

void TestNetworkLine::initTestCase()
{
    ZemSerialPort::setEnglishReasons(true);
}

void TestNetworkLine::telnetCodec_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("broken");
    // Sent back by decode() beyond the opening's own requests; -1: unchecked.
    QTest::addColumn<int>("maxReplies");
    // The data encoded again decodes to itself.
    QTest::addColumn<bool>("roundTrip");

    QByteArray doubled = ffFrame();
    doubled.replace("\xff", "\xff\xff");
    QTest::newRow("FF in every field, doubled")
        << QList<QByteArray>{doubled} << ffFrame() << false << 0 << true;
    QTest::newRow("FF FF cut between reads")
        << QList<QByteArray>{"\xff", "\xff"} << hex("FF") << false << 0 << true;
    QTest::newRow("command cut between reads")
        << QList<QByteArray>{"\x01\xff", "\xfb", "\x2a\x02"} << hex("01 02") << false << 3 << false;
    QTest::newRow("CR NUL without binary")
        << QList<QByteArray>{QByteArray("\r\0A\r\0", 5), QByteArray("\0", 1)}
        << QByteArray("\rA\r\0", 4) << false << 0 << true;
    QTest::newRow("truncated IAC at the end")
        << QList<QByteArray>{"AB\xff"} << QByteArray("AB") << false << 0 << false;
    QTest::newRow("endless subnegotiation")
        << QList<QByteArray>{"DATA\xff\xfa\x05", QByteArray(TelnetCodec::MaxSubnegotiation, 'x'),
                             "lost"}
        << QByteArray("DATA") << true << 0 << false;
    // A server that keeps asking for an option refused (or one already on)
    // gets one answer, not one per request: no negotiation loop.
    QByteArray flood;
    for (int i = 0; i < 5000; ++i)
        flood += hex("FF FD 63 FF FB 63 FF F1 FF FB 00 FF FD 2C FF FA 2A 01 FF F0");
    QTest::newRow("negotiation flood")
        << QList<QByteArray>{flood, "Z"} << QByteArray("Z") << false << 6 << false;
}

void TestNetworkLine::telnetCodec()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QByteArray, data);
    QFETCH(bool, broken);
    QFETCH(int, maxReplies);
    QFETCH(bool, roundTrip);

    TelnetCodec codec;
    codec.opening();
    QByteArray decoded;
    QByteArray replies;
    for (const QByteArray &chunk : chunks) {
        decoded += codec.decode(chunk);
        replies += codec.takeReplies();
    }
    QCOMPARE(decoded, data);
    QCOMPARE(codec.broken(), broken);
    if (maxReplies >= 0)
        QVERIFY2(replies.size() <= maxReplies, replies.toHex(' ').constData());
    if (roundTrip) {
        const QByteArray wire = codec.encode(data);
        QCOMPARE(wire.size(), data.size() + data.count('\xff') + data.count('\r'));
        QCOMPARE(TelnetCodec().decode(wire), data);
    }
}

void TestNetworkLine::throughSer2net_data()
{
    QTest::addColumn<bool>("telnet");
    QTest::newRow("raw") << false;
    QTest::newRow("rfc2217") << true;
}

void TestNetworkLine::throughSer2net()
{
    QFETCH(bool, telnet);
    PtyPair pty;
    QVERIFY(pty.isValid());
    Ser2netServer server(pty.slavePath());
    QString problem;
    QVERIFY2(server.start(&problem), qPrintable(problem));

    AnyLine line;
    Received received(&line);
    QSignalSpy opened(&line, &Line::Opened);
    const auto chosen
        = settings(19200, QSerialPort::Data7, QSerialPort::EvenParity, QSerialPort::TwoStop);
    const QString address = telnet ? server.telnetAddress() : server.rawAddress();
    QVERIFY(line.openLine(address, chosen));
    QVERIFY(opened.wait(5000));
    QCOMPARE(opened.at(0).at(0).toString(), address);

    // Both ways, with FF in every field and a long random stream behind it.
    const QByteArray stream = ffFrame() + frameStream(3000, 7) + ffFrame();
    QCOMPARE(line.send(stream), qint64(stream.size()));
    QCOMPARE(pty.read(stream.size(), 5000), stream);
    QVERIFY(pty.write(stream));
    QVERIFY(waitUntil([&] { return received.bytes.size() >= stream.size(); }, 5000));
    QCOMPARE(received.bytes, stream);

    // RFC 2217 sets the form's settings on the served port, at once and
    // when changed while open; a raw line leaves the server's own.
    const auto server9600
        = settings(9600, QSerialPort::Data8, QSerialPort::NoParity, QSerialPort::OneStop);
    const NetworkLine *answers = telnet ? line.networkLine() : nullptr;
    QVERIFY(waitUntil(
        [&] { return servedWith(pty.slavePath(), telnet ? chosen : server9600, answers); }));
    const auto changed
        = settings(57600, QSerialPort::Data8, QSerialPort::OddParity, QSerialPort::OneStop);
    QVERIFY(line.applySettings(changed));
    QVERIFY(waitUntil(
        [&] { return servedWith(pty.slavePath(), telnet ? changed : server9600, answers); }));

    // The break: RFC 2217 sends it as SET-CONTROL BREAK ON, then OFF, and
    // ser2net answers (its device, a pty, takes the break state); a raw line
    // carries data only and says so.
    QSignalSpy modem(&line, &Line::ModemLineChanged);
    QSignalSpy breaks(&line, &Line::BreakSent);
    if (!telnet) {
        QVERIFY(!line.setModemLine(Line::Dtr, false));
        QVERIFY2(line.controlFailureReason().contains(QLatin1String("rfc2217://")),
                 qPrintable(line.controlFailureReason()));
        QVERIFY(!line.sendBreak());
        QCOMPARE(modem.size() + breaks.size(), 0);
        return;
    }
    const TelnetCodec &codec = line.networkLine()->telnet();
    const int before = codec.comPortAnswers();
    QVERIFY(line.sendBreak());
    QCOMPARE(breaks.size(), 1);
    QVERIFY(waitUntil([&] { return codec.comPortAnswers() == before + 1; }));
    QCOMPARE(codec.answeredCode(TelnetCodec::SetControl), int(TelnetCodec::ControlBreakOn));
    // BREAK OFF follows by itself and is answered too.
    QVERIFY(waitUntil([&] { return codec.comPortAnswers() == before + 2; }));
    QCOMPARE(line.send(ffFrame()), qint64(ffFrame().size()));
    QCOMPARE(pty.read(ffFrame().size(), 5000), ffFrame());
}

// RTS and DTR travel as SET-CONTROL. (ser2net cannot set them on its pty,
// which has no modem lines, and does not answer; a server of the test's own
// hears them.)
void TestNetworkLine::modemLinesTravelAsSetControl()
{
    HostileServer server;
    AnyLine line;
    QSignalSpy opened(&line, &Line::Opened);
    QSignalSpy modem(&line, &Line::ModemLineChanged);
    QVERIFY(!line.setModemLine(Line::Rts, true)); // not open yet
    QVERIFY(line.openLine(server.address(), {}));
    QVERIFY(opened.wait(5000));
    const int settingsHeard = server.heard.size();
    QVERIFY(line.setModemLine(Line::Dtr, false));
    QVERIFY(line.setModemLine(Line::Rts, true));
    QVERIFY(waitUntil([&] { return server.heard.size() >= settingsHeard + 14; }));
    QCOMPARE(server.heard.mid(settingsHeard), hex("FF FA 2C 05 09 FF F0 FF FA 2C 05 0B FF F0"));
    QCOMPARE(line.modemLineState(Line::Rts), 1);
    QCOMPARE(line.modemLineState(Line::Dtr), 0);
    QCOMPARE(modem.size(), 2);
    QCOMPARE(modem.at(0).at(0).toInt(), int(Line::Dtr));
    QCOMPARE(modem.at(0).at(1).toBool(), false);
}

void TestNetworkLine::ser2netRestartIsRecovered_data()
{
    throughSer2net_data();
}

void TestNetworkLine::ser2netRestartIsRecovered()
{
    QFETCH(bool, telnet);
    PtyPair pty;
    QVERIFY(pty.isValid());
    Ser2netServer server(pty.slavePath());
    QString problem;
    QVERIFY2(server.start(&problem), qPrintable(problem));

    AnyLine line;
    Received received(&line);
    QSignalSpy opened(&line, &Line::Opened);
    QSignalSpy lost(&line, &Line::Lost);
    QSignalSpy failed(&line, &Line::OpenFailed);
    QVERIFY(line.openLine(telnet ? server.telnetAddress() : server.rawAddress(), {}));
    QVERIFY(opened.wait(5000));
    // A connection that ends right after it was made is a refusal, not a
    // drop: let it settle first, as a line in use has.
    QTest::qWait(NetworkLine::SettleMs + 200);

    server.stop();
    QVERIFY(lost.wait(5000));
    QVERIFY(line.networkLine()->isReconnecting());
    QVERIFY2(server.start(&problem), qPrintable(problem));
    QVERIFY(waitUntil([&] { return opened.size() == 2; }, 10000));
    QCOMPARE(lost.size(), 1);
    QCOMPARE(failed.size(), 0);

    QVERIFY(line.send(ffFrame()) > 0);
    QCOMPARE(pty.read(ffFrame().size()), ffFrame());
    QVERIFY(pty.write(ffFrame()));
    QVERIFY(waitUntil([&] { return received.bytes == ffFrame(); }));
}

void TestNetworkLine::hostileServer_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("keepsLine");

    const QByteArray frame = ffFrame();
    QByteArray doubled = frame;
    doubled.replace("\xff", "\xff\xff");
    QTest::newRow("truncated IAC then its second half") << QByteArray("AB\xff\xff"
                                                                      "C")
                                                        << 3
                                                        << QByteArray("AB\xff"
                                                                      "C")
                                                        << true;
    QTest::newRow("endless subnegotiation")
        << doubled + hex("FF FA 05") + QByteArray(3 * TelnetCodec::MaxSubnegotiation, 'x') << 100
        << frame << false;
    QByteArray flood;
    for (int i = 0; i < 20000; ++i) {
        flood += hex("FF F1 FF FD 63 FF FB 63 FF FA 20 00 FF F0");
        if (i % 1000 == 0)
            flood += doubled;
    }
    QByteArray expected;
    for (int i = 0; i < 20; ++i)
        expected += frame;
    QTest::newRow("flood of negotiation and NOPs") << flood << 1000 << expected << true;
}

void TestNetworkLine::hostileServer()
{
    QFETCH(QByteArray, sent);
    QFETCH(int, chunk);
    QFETCH(QByteArray, data);
    QFETCH(bool, keepsLine);

    HostileServer server;
    AnyLine line;
    Received received(&line);
    QSignalSpy opened(&line, &Line::Opened);
    QSignalSpy lost(&line, &Line::Lost);
    QVERIFY(line.openLine(server.address(), {}));
    QVERIFY(opened.wait(5000));

    // Sent in pieces cut anywhere (inside commands too) by the test's own
    // event loop, which therefore only gets to the end while the line
    // keeps up with each piece.
    server.send(sent, chunk);
    QVERIFY(
        waitUntil([&] { return received.bytes.size() >= data.size() || !lost.isEmpty(); }, 10000));
    QCOMPARE(received.bytes, data);

    if (!keepsLine) {
        QVERIFY(!lost.isEmpty() || lost.wait(3000));
        QVERIFY2(lost.at(0).at(0).toString().contains(QLatin1String("subnegotiation")),
                 qPrintable(lost.at(0).at(0).toString()));
        return;
    }
    // Still a working line, and the flood got no more than a few answers
    // beside the opening negotiation and the settings.
    QVERIFY2(server.heard.size() < 128, server.heard.toHex(' ').constData());
    QCOMPARE(line.send(ffFrame()), qint64(ffFrame().size()));
    QByteArray doubled = ffFrame();
    doubled.replace("\xff", "\xff\xff");
    QVERIFY(waitUntil([&] { return server.heard.endsWith(doubled); }));
    QVERIFY(lost.isEmpty());
}

void TestNetworkLine::failureSaysWhatHappened_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("reason");

    QTest::newRow("name does not resolve") << "nosuch.invalid"
                                           << "does not resolve";
    QTest::newRow("refused") << "nobody"
                             << "refused";
    QTest::newRow("closed at once") << "ser2net without its device"
                                    << "closed the connection at once";
    QTest::newRow("never negotiates") << "silent"
                                      << "never answered the RFC 2217 negotiation";
}

void TestNetworkLine::failureSaysWhatHappened()
{
    QFETCH(QString, server);
    QFETCH(QString, reason);

    QString address = QStringLiteral("rfc2217://nosuch.invalid:7001");
    std::unique_ptr<HostileServer> silent;
    std::unique_ptr<Ser2netServer> ser2net;
    if (server == QLatin1String("nobody")) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        address = QStringLiteral("tcp://127.0.0.1:%1").arg(probe.serverPort());
    } else if (server == QLatin1String("silent")) {
        silent = std::make_unique<HostileServer>(false);
        address = silent->address();
    } else if (server.startsWith(QLatin1String("ser2net"))) {
        ser2net = std::make_unique<Ser2netServer>(QStringLiteral("/dev/lumo-no-such-device"));
        QString problem;
        QVERIFY2(ser2net->start(&problem), qPrintable(problem));
        address = ser2net->telnetAddress();
    }

    // A server that closes at once may have said yes first: it is then
    // reported as Lost, as a line opened; the rest never open.
    AnyLine line;
    QString said;
    connect(&line, &Line::OpenFailed, [&said](const QString &r) { said = r; });
    connect(&line, &Line::Lost, [&said](const QString &r) { said = r; });
    QVERIFY(line.openLine(address, {}));
    QVERIFY(line.isLineConnecting());
    QVERIFY(waitUntil([&] { return !said.isEmpty(); }, NetworkLine::NegotiationTimeoutMs + 3000));
    QVERIFY2(said.contains(reason), qPrintable(said));
    QCOMPARE(line.openFailureReason(), said);
    // Given up: neither open nor trying again.
    QVERIFY(!line.isLineOpen());
    QVERIFY(!line.networkLine()->isReconnecting());
}

QTEST_GUILESS_MAIN(TestNetworkLine)
#include "tst_networkline.moc"
