// SPDX-License-Identifier: GPL-3.0-or-later
// The shipped Wireshark dissector, run by the real tshark on a capture the
// program wrote.
#include "testsupport.h"

#include "analyzer/frameanalyzer.h"
#include "capture/capturewriter.h"
#include "protocol/lineevent.h"
#include "protocol/zemtool.h"

#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

namespace {

const QStringList Fields = {
    QStringLiteral("lumo.direction"),
    QStringLiteral("lumo.kind"),
    QStringLiteral("lumo.port"),
    QStringLiteral("lumo.command"),
    QStringLiteral("lumo.sequence"),
    QStringLiteral("lumo.length"),
    QStringLiteral("lumo.flags"),
    QStringLiteral("lumo.checksum.good"),
    QStringLiteral("lumo.escapes"),
    QStringLiteral("lumo.payload"),
    QStringLiteral("lumo.action"),
    QStringLiteral("lumo.status"),
    QStringLiteral("lumo.wifi.signal"),
    QStringLiteral("lumo.wifi.app"),
    QStringLiteral("lumo.wifi.connection"),
    QStringLiteral("lumo.wifi.mode"),
    QStringLiteral("lumo.time.year"),
    QStringLiteral("lumo.time.second"),
    QStringLiteral("lumo.info.hardware"),
    QStringLiteral("lumo.info.software"),
    QStringLiteral("lumo.info.product_key"),
    QStringLiteral("lumo.info.binding_time"),
    QStringLiteral("lumo.firmware.count"),
    QStringLiteral("lumo.firmware.field"),
    QStringLiteral("lumo.firmware.type"),
    QStringLiteral("lumo.firmware.piece_size"),
    QStringLiteral("lumo.firmware.piece"),
    QStringLiteral("lumo.firmware.data"),
    QStringLiteral("lumo.v3.length"),
    QStringLiteral("lumo.text"),
    QStringLiteral("lumo.config_mode"),
    QStringLiteral("lumo.firmware.reserved"),
    QStringLiteral("lumo.response_in"),
    QStringLiteral("lumo.response_to"),
    QStringLiteral("lumo.response_time"),
    QStringLiteral("lumo.expert.no_response"),
    QStringLiteral("lumo.expert.late_response"),
    QStringLiteral("lumo.expert.unexpected_response"),
    QStringLiteral("lumo.event"),
    QStringLiteral("lumo.event.on"),
    QStringLiteral("lumo.event.duration"),
};

struct Case
{
    LineDirection direction;
    SegmentKind kind;
    QByteArray wire;
    QMap<QString, QString> expected; // field -> tshark's text of it
    qint64 gapUs = 0;                // extra time since the packet before
};

LineSegment segmentOf(const Case &c, qint64 timeUs)
{
    LineSegment s;
    s.timeUs = timeUs;
    s.direction = c.direction;
    s.kind = c.kind;
    s.wire = c.wire;
    return s;
}

QString tsharkPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("tshark"));
}

QString dissectorPath()
{
    return QStringLiteral(LUMO_RUNTIME_SOURCE "/wireshark/lumo.lua");
}

// Runs tshark with the dissector on `capture`; stdout, or a failure text.
bool runTshark(const QStringList &extra, const QString &capture, QString *out)
{
    QProcess tshark;
    // Preferences and recent files go to a throwaway home.
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    tshark.setProcessEnvironment(env);
    tshark.start(tsharkPath(),
                 QStringList{QStringLiteral("-n"), QStringLiteral("-X"),
                             QStringLiteral("lua_script:") + dissectorPath(), QStringLiteral("-r"),
                             capture}
                     + extra);
    if (!tshark.waitForFinished(120000)) {
        *out = QStringLiteral("tshark did not finish");
        return false;
    }
    const QString err = QString::fromUtf8(tshark.readAllStandardError());
    *out = QString::fromUtf8(tshark.readAllStandardOutput());
    if (tshark.exitCode() != 0 || err.contains(QLatin1String("Lua"), Qt::CaseInsensitive)) {
        *out = QStringLiteral("tshark failed: ") + err;
        return false;
    }
    return true;
}

QByteArray productInfoReply()
{
    QByteArray payload(16, '\x01');
    payload += "HW000001";
    payload += "SW000002";
    payload += "0123456789abcdef0123456789abcdef";
    payload += hex("01 2C");
    return makeFrame(0x02, 1, payload);
}

QVector<Case> conversation()
{
    const auto m = LineDirection::McuToModule;
    const auto w = LineDirection::ModuleToMcu;
    QVector<Case> cases;
    cases.append({w,
                  SegmentKind::Frame4,
                  ZemTool::escape(makeFrame(0x01, 1)),
                  {{QStringLiteral("lumo.direction"), QStringLiteral("1")},
                   {QStringLiteral("lumo.kind"), QStringLiteral("0")},
                   {QStringLiteral("lumo.command"), QStringLiteral("0x01")},
                   {QStringLiteral("lumo.sequence"), QStringLiteral("1")},
                   {QStringLiteral("lumo.length"), QStringLiteral("5")},
                   {QStringLiteral("lumo.checksum.good"), QStringLiteral("1")}}});
    cases.append({m,
                  SegmentKind::Frame4,
                  ZemTool::escape(productInfoReply()),
                  {{QStringLiteral("lumo.direction"), QStringLiteral("0")},
                   {QStringLiteral("lumo.command"), QStringLiteral("0x02")},
                   {QStringLiteral("lumo.info.hardware"), QStringLiteral("HW000001")},
                   {QStringLiteral("lumo.info.software"), QStringLiteral("SW000002")},
                   {QStringLiteral("lumo.info.product_key"),
                    QStringLiteral("0123456789abcdef0123456789abcdef")},
                   {QStringLiteral("lumo.info.binding_time"), QStringLiteral("300")},
                   {QStringLiteral("lumo.response_time"), QStringLiteral("0.001234000")},
                   {QStringLiteral("lumo.checksum.good"), QStringLiteral("1")}}});
    // A control frame whose payload and checksum hold FFs: on the wire each
    // is followed by 55, which the dissector takes out again.
    QByteArray control = makeFrame(0x03, 0xFF, hex("01 FF 00 FF"));
    cases.append({w,
                  SegmentKind::Frame4,
                  ZemTool::escape(control),
                  {{QStringLiteral("lumo.command"), QStringLiteral("0x03")},
                   {QStringLiteral("lumo.sequence"), QStringLiteral("255")},
                   {QStringLiteral("lumo.action"), QStringLiteral("0x01")},
                   {QStringLiteral("lumo.payload"), QStringLiteral("01ff00ff")},
                   {QStringLiteral("lumo.escapes"), QStringLiteral("3")},
                   {QStringLiteral("lumo.checksum.good"), QStringLiteral("1")}}});
    cases.append({m,
                  SegmentKind::Frame4,
                  ZemTool::escape(makeFrame(0x04, 0xFF)),
                  {{QStringLiteral("lumo.command"), QStringLiteral("0x04")},
                   {QStringLiteral("lumo.sequence"), QStringLiteral("255")},
                   {QStringLiteral("lumo.checksum.good"), QStringLiteral("1")}}});
    // A status report with a wrong checksum.
    QByteArray report = makeFrame(0x05, 7, hex("04 01 37"));
    report[report.size() - 1] = char(report.at(report.size() - 1) + 1);
    cases.append({m,
                  SegmentKind::Frame4,
                  ZemTool::escape(report),
                  {{QStringLiteral("lumo.command"), QStringLiteral("0x05")},
                   {QStringLiteral("lumo.action"), QStringLiteral("0x04")},
                   {QStringLiteral("lumo.status"), QStringLiteral("0137")},
                   {QStringLiteral("lumo.checksum.good"), QStringLiteral("0")}}});
    cases.append({w,
                  SegmentKind::Frame4,
                  ZemTool::escape(makeFrame(0x0D, 8, hex("0B 21"))),
                  {{QStringLiteral("lumo.command"), QStringLiteral("0x0d")},
                   {QStringLiteral("lumo.wifi.signal"), QStringLiteral("3")},
                   {QStringLiteral("lumo.wifi.app"), QStringLiteral("1")},
                   {QStringLiteral("lumo.wifi.connection"), QStringLiteral("0x02")},
                   {QStringLiteral("lumo.wifi.mode"), QStringLiteral("0x01")}}});
    cases.append({m,
                  SegmentKind::Frame4,
                  ZemTool::escape(makeFrame(0x09, 9, hex("02"))),
                  {{QStringLiteral("lumo.config_mode"), QStringLiteral("0x02")}}});
    cases.append({w,
                  SegmentKind::Frame4,
                  ZemTool::escape(makeFrame(0x18, 10, hex("07 EA 0C 09 01 02 03"))),
                  {{QStringLiteral("lumo.time.year"), QStringLiteral("2026")},
                   {QStringLiteral("lumo.time.second"), QStringLiteral("3")}}});
    cases.append({w,
                  SegmentKind::Frame4,
                  ZemTool::escape(makeFrame(0x19, 11, hex("00 00 00 00 00 03 AA BB CC"))),
                  {{QStringLiteral("lumo.firmware.count"), QStringLiteral("3")},
                   {QStringLiteral("lumo.firmware.field"), QStringLiteral("aabbcc")}}});
    QByteArray ready = makeFrame(0x1B, 12, hex("00 03 AA BB CC 01 00"));
    ready[7] = char(0x01);
    ZemTool::setFrameChecksum(ready);
    cases.append({m,
                  SegmentKind::Frame4,
                  ZemTool::escape(ready),
                  {{QStringLiteral("lumo.flags"), QStringLiteral("0x0001")},
                   {QStringLiteral("lumo.firmware.type"), QStringLiteral("0x01")},
                   {QStringLiteral("lumo.firmware.piece_size"), QStringLiteral("256")},
                   {QStringLiteral("lumo.checksum.good"), QStringLiteral("1")}}});
    cases.append({w,
                  SegmentKind::Frame4,
                  ZemTool::escape(makeFrame(0x1D, 13, hex("00 2A 00 07 DE AD BE EF"))),
                  {{QStringLiteral("lumo.firmware.piece"), QStringLiteral("42")},
                   {QStringLiteral("lumo.firmware.reserved"), QStringLiteral("0x0007")},
                   {QStringLiteral("lumo.firmware.data"), QStringLiteral("deadbeef")}}});
    // Replies that answer nothing: the Wi-Fi status's reply from the side that
    // sent it, and a configuration reply ten reply limits after its request;
    // between them the status's reply, late.
    cases.append({w, SegmentKind::Frame4, ZemTool::escape(makeFrame(0x0E, 8)), {}});
    cases.append({m, SegmentKind::Frame4, ZemTool::escape(makeFrame(0x0E, 8)), {}, 300000});
    cases.append({w, SegmentKind::Frame4, ZemTool::escape(makeFrame(0x0A, 9)), {}, 2100000});
    // A frame cut short by the next header: what there is, without a checksum verdict.
    cases.append({m,
                  SegmentKind::Frame4,
                  hex("FF FF 00 0A 17 0E"),
                  {{QStringLiteral("lumo.command"), QStringLiteral("0x17")},
                   {QStringLiteral("lumo.length"), QStringLiteral("10")},
                   {QStringLiteral("lumo.checksum.good"), QString()}}});
    // Line events: shown for what they are, never decoded as a frame.
    cases.append({m,
                  SegmentKind::Event,
                  LineEvent::modemLine(LineEvent::Rts, true),
                  {{QStringLiteral("lumo.kind"), QStringLiteral("3")},
                   {QStringLiteral("lumo.event"), QStringLiteral("1")},
                   {QStringLiteral("lumo.event.on"), QStringLiteral("1")},
                   {QStringLiteral("lumo.command"), QString()}}});
    cases.append({w,
                  SegmentKind::Event,
                  LineEvent::breakSent(250),
                  {{QStringLiteral("lumo.event"), QStringLiteral("3")},
                   {QStringLiteral("lumo.event.duration"), QStringLiteral("250")},
                   {QStringLiteral("lumo.command"), QString()}}});
    cases.append({w,
                  SegmentKind::Frame3,
                  hex("00 00 00 03 00 02 10 20"),
                  {{QStringLiteral("lumo.kind"), QStringLiteral("1")},
                   {QStringLiteral("lumo.v3.length"), QStringLiteral("2")},
                   {QStringLiteral("lumo.command"), QString()}}});
    cases.append({w,
                  SegmentKind::Other,
                  QByteArray("WiFi module ready\r\n"),
                  {{QStringLiteral("lumo.kind"), QStringLiteral("2")},
                   {QStringLiteral("lumo.text"), QStringLiteral("WiFi module ready")}}});
    return cases;
}

} // namespace

class TestDissector : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fieldsOfEveryPacket();
    void detailNamesCommandsAndProblems();

private:
    QTemporaryDir m_dir;
    QString m_capture;
    QVector<Case> m_cases;
};

void TestDissector::initTestCase()
{
    if (tsharkPath().isEmpty())
        QSKIP("tshark is not installed (scripts/setup.sh installs it): the Wireshark dissector "
              "cannot be checked here");
    QVERIFY(QFile::exists(dissectorPath()));
    m_cases = conversation();
    m_capture = m_dir.filePath(QStringLiteral("session.pcap"));
    CaptureWriter writer;
    QString error;
    QVERIFY2(writer.open(m_capture, &error), qPrintable(error));
    qint64 t = 1765240000000000LL;
    for (const Case &c : m_cases) {
        t += 1234 + c.gapUs;
        writer.write(segmentOf(c, t),
                     c.direction == LineDirection::McuToModule ? QStringLiteral("/dev/ttyUSB0")
                                                               : QStringLiteral("串口2"));
    }
    writer.close();
    QVERIFY(writer.errorString().isEmpty());
}

void TestDissector::fieldsOfEveryPacket()
{
    // Two passes, as Wireshark itself makes: a request learns its response in the first.
    QStringList args = {QStringLiteral("-2"), QStringLiteral("-T"), QStringLiteral("fields"),
                        QStringLiteral("-E"), QStringLiteral("occurrence=f")};
    for (const QString &field : Fields)
        args << QStringLiteral("-e") << field;
    QString out;
    QVERIFY2(runTshark(args, m_capture, &out), qPrintable(out));
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), m_cases.size());
    // Requests and replies are linked as the program's analyzer pairs them.
    FrameAnalyzer analyzer;
    qint64 t = 0;
    for (const Case &c : m_cases)
        analyzer.add(segmentOf(c, t += 1234 + c.gapUs));
    analyzer.expire(t + 3600000000LL, nullptr);
    for (int i = 0; i < lines.size(); ++i) {
        const QStringList values = lines.at(i).split(QLatin1Char('\t'));
        QCOMPARE(values.size(), Fields.size());
        const auto value
            = [&](const char *field) { return values.at(Fields.indexOf(QLatin1String(field))); };
        const FrameRecord &r = analyzer.record(analyzer.firstId() + i);
        const QString paired = r.pairId < 0 ? QString() : QString::number(r.pairId + 1);
        const bool request = r.command > 0 && (r.command & 1);
        QCOMPARE(value("lumo.response_in"), request ? paired : QString());
        QCOMPARE(value("lumo.response_to"), request ? QString() : paired);
        QCOMPARE(!value("lumo.expert.no_response").isEmpty()
                     || !value("lumo.expert.late_response").isEmpty(),
                 bool(r.problems & FrameProblem::NoReply));
        QCOMPARE(!value("lumo.expert.unexpected_response").isEmpty(),
                 bool(r.problems & FrameProblem::UnexpectedReply));
        const Case &c = m_cases.at(i);
        const QString port = c.direction == LineDirection::McuToModule
            ? QStringLiteral("/dev/ttyUSB0")
            : QStringLiteral("串口2");
        QCOMPARE(values.at(Fields.indexOf(QStringLiteral("lumo.port"))), port);
        QCOMPARE(values.at(Fields.indexOf(QStringLiteral("lumo.direction"))),
                 QString::number(int(c.direction)));
        QCOMPARE(values.at(Fields.indexOf(QStringLiteral("lumo.kind"))),
                 QString::number(int(c.kind)));
        for (auto it = c.expected.begin(); it != c.expected.end(); ++it) {
            const int column = Fields.indexOf(it.key());
            QVERIFY2(column >= 0, qPrintable(it.key()));
            QVERIFY2(values.at(column) == it.value(),
                     qPrintable(QStringLiteral("packet %1, %2: got '%3', expected '%4'")
                                    .arg(i + 1)
                                    .arg(it.key(), values.at(column), it.value())));
        }
    }
}

void TestDissector::detailNamesCommandsAndProblems()
{
    QString out;
    QVERIFY2(runTshark({QStringLiteral("-V")}, m_capture, &out), qPrintable(out));
    // The command's name beside its code, and the directions in words.
    QVERIFY(out.contains(QStringLiteral("Command: 推送Wi-Fi状态 (0x0d)")));
    QVERIFY(out.contains(QStringLiteral("Command: 回复设备信息 (0x02)")));
    QVERIFY(out.contains(QStringLiteral("Direction: MCU -> module (0)")));
    QVERIFY(out.contains(QStringLiteral("Direction: module -> MCU (1)")));
    // The problems: one wrong checksum, one truncated frame.
    QCOMPARE(out.count(QStringLiteral("[Wrong checksum]")), 1);
    QCOMPARE(out.count(QStringLiteral("[Length field disagrees with the bytes (truncated frame)]")),
             1);
    // The Wi-Fi states by the names the program gives them.
    QVERIFY(out.contains(QStringLiteral("Connection state: 已连接路由器和云端，设备在线 (0x2)")));
    QVERIFY(out.contains(
        QStringLiteral("Wi-Fi mode state: Station模式：模组作为终端连接路由器 (0x1)")));

    // The one-line summary says which way each packet went.
    QVERIFY2(runTshark({}, m_capture, &out), qPrintable(out));
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), m_cases.size());
    QVERIFY(lines.at(0).contains(QStringLiteral("module -> MCU (串口2) 01 请求设备信息 seq=1")));
    QVERIFY(lines.at(4).contains(QStringLiteral("[bad checksum]")));
    QVERIFY(lines.last().contains(QStringLiteral("WiFi module ready")));
    QVERIFY(out.contains(QStringLiteral("MCU -> module (/dev/ttyUSB0) RTS on")));
    QVERIFY(out.contains(QStringLiteral("module -> MCU (串口2) break 250 ms")));
}

QTEST_GUILESS_MAIN(TestDissector)
#include "tst_dissector.moc"
