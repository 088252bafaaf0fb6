// The simulated MCU without a window, on a real pseudo-terminal: the test
// plays the Wi-Fi module on the master side.
#include "testsupport.h"

#include "engine/mcusimulator.h"
#include "engine/settingkeys.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QString SampleKey = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The 20 value bytes of the sample lamp's status: writable bit area
// (switch bit 0, mode bits 1-2, night light bit 3), brightness, colour
// temperature (2 bytes), timer (4), scene (4), read-only area, temperature,
// run time (4), alert area, fault area.
QByteArray lampValues(quint8 area, quint8 brightness, quint16 colourTemp = 2700)
{
    QByteArray v(20, '\0');
    v[0] = char(area);
    v[1] = char(brightness);
    v[2] = char(colourTemp >> 8);
    v[3] = char(colourTemp & 0xFF);
    return v;
}

// The answer to a status read: command 04, the read's sequence number,
// action 03, the values.
QByteArray statusAnswer(int sequence, const QByteArray &values)
{
    QByteArray f = makeFrame(0x04, sequence, QByteArray(1, '\x03') + values);
    return f;
}

} // namespace

class TestMcuSimulator : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void setValueByText_data();
    void setValueByText();
    void unlistedPathOpensHereButNotUnderTheWindowsRule();
    void answersTheModuleAndLogsInTheTabsForm();
    void controlCommandChangesTheNextStatusAnswer();
    void firmwareStartIsFollowedByTheReadyFrame();
    void reportsOnceAndOnATimer();
    void lostPortIsReported();

private:
    // Frames the module side reads back (unescaped); the raw bytes in *wire.
    QList<QByteArray> readFrames(int count, QByteArray *wire = nullptr, int timeoutMs = 5000);
    void openSimulator();

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<McuSimulator> m_sim;
    QStringList m_log;
};

void TestMcuSimulator::init()
{
    m_root = std::make_unique<TestRoot>();
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->isValid());
    // No LUMO_EXTRA_PORTS: the simulator takes the pty's path as it stands.
    qunsetenv("LUMO_EXTRA_PORTS");
    ZemTool tool;
    tool.writeSetting(SettingKeys::ProductKey, SampleKey);
    tool.writeSetting(SettingKeys::OtaType, QStringLiteral("bin"));
    tool.writeSetting(SettingKeys::OtaPiece, QStringLiteral("64"));
    QVERIFY(
        QFile::copy(QFINDTESTDATA("data/smart-lamp.json"),
                    m_root->file(QStringLiteral("json/") + SampleKey + QStringLiteral(".json"))));
    m_sim = std::make_unique<McuSimulator>();
    connect(m_sim.get(), &McuSimulator::logLine, this,
            [this](const QString &line) { m_log.append(line); });
    m_sim->loadDefinition();
    QCOMPARE(m_sim->values().count(), 14);
}

void TestMcuSimulator::cleanup()
{
    m_sim.reset();
    m_pty.reset();
    m_root.reset();
    m_log.clear();
}

void TestMcuSimulator::openSimulator()
{
    QVERIFY2(m_sim->openPort(m_pty->slavePath(), 9600, 3, 0, 0),
             qPrintable(m_sim->openFailureReason()));
}

QList<QByteArray> TestMcuSimulator::readFrames(int count, QByteArray *wire, int timeoutMs)
{
    ZemFramer framer;
    QList<QByteArray> frames;
    connect(&framer, &ZemFramer::LineDataReady,
            [&frames](const QByteArray &f) { frames.append(f); });
    QByteArray raw;
    QElapsedTimer clock;
    clock.start();
    while (frames.size() < count && clock.elapsed() < timeoutMs) {
        const QByteArray got = m_pty->read(1, 50);
        raw += got;
        framer.dataToV4(got);
    }
    if (wire)
        *wire = raw;
    return frames;
}

void TestMcuSimulator::setValueByText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("values"); // the report's values when accepted

    const QByteArray none;
    QTest::newRow("uint8 by display name") << "亮度"
                                           << "80" << true << lampValues(0, 80);
    QTest::newRow("uint8 by identifier") << "brightness"
                                         << " 7 " << true << lampValues(0, 7);
    QTest::newRow("uint8 at its maximum") << "亮度"
                                          << "100" << true << lampValues(0, 100);
    QTest::newRow("uint8 above its range") << "亮度"
                                           << "101" << false << none;
    QTest::newRow("uint16 below its range") << "色温"
                                            << "2699" << false << none;
    QTest::newRow("uint16 at its maximum") << "色温"
                                           << "6500" << true << lampValues(0, 0, 6500);
    QTest::newRow("no number") << "亮度"
                               << "eighty" << false << none;
    QTest::newRow("bool true") << "开关"
                               << "true" << true << lampValues(0x01, 0);
    QTest::newRow("bool as 1") << "夜灯"
                               << "1" << true << lampValues(0x08, 0);
    QTest::newRow("bool 2") << "开关"
                            << "2" << false << none;
    QTest::newRow("enum by label") << "模式"
                                   << "睡眠" << true << lampValues(0x04, 0);
    QTest::newRow("enum by index") << "模式"
                                   << "3" << true << lampValues(0x06, 0);
    QTest::newRow("enum index past the labels") << "模式"
                                                << "4" << false << none;
    QTest::newRow("enum unknown label") << "模式"
                                        << "派对" << false << none;
    QByteArray scene = lampValues(0, 0);
    scene.replace(8, 4, hex("0A0B0C0D"));
    QTest::newRow("binary") << "场景数据"
                            << "0a 0b 0c 0d" << true << scene;
    QTest::newRow("binary not hex") << "场景数据"
                                    << "0x0A" << false << none;
    QTest::newRow("binary too long") << "场景数据"
                                     << "0102030405" << false << none;
    QTest::newRow("unknown name") << "音量"
                                  << "1" << false << none;
}

void TestMcuSimulator::setValueByText()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, values);

    const QByteArray before = m_sim->statusReport();
    QCOMPARE(before.mid(9, 20), lampValues(0, 0));
    QString error;
    QCOMPARE(m_sim->setValue(name, text, &error), accepted);
    if (accepted) {
        QVERIFY(error.isEmpty());
        const QByteArray report = m_sim->statusReport();
        QCOMPARE(report.mid(9, 20), values);
        QCOMPARE(ZemTool::byteValue(report, report.size() - 1),
                 int(ZemTool::frameChecksum(report)));
    } else {
        // Refused: said why, with the name, and nothing changed.
        QVERIFY(error.contains(name));
        QCOMPARE(m_sim->statusReport(), before);
    }
}

void TestMcuSimulator::unlistedPathOpensHereButNotUnderTheWindowsRule()
{
    // The windows' port keeps its rule: a path neither listed nor in
    // LUMO_EXTRA_PORTS does not open.
    ZemSerialPort windowsPort;
    QVERIFY(!windowsPort.Open(m_pty->slavePath(), QStringLiteral("9600"), 3, 0, 0));
    QVERIFY(!windowsPort.isOpen());
    QVERIFY(windowsPort.openFailureReason().contains(m_pty->slavePath()));

    openSimulator();
    QVERIFY(m_sim->isOpen());
    m_sim->closePort();
    QVERIFY(!m_sim->isOpen());

    // A path that is not there fails with the system's reason.
    const QString missing = m_root->file(QStringLiteral("no-such-tty"));
    QVERIFY(!m_sim->openPort(missing, 9600, 3, 0, 0));
    QVERIFY(!m_sim->openFailureReason().isEmpty());
}

void TestMcuSimulator::answersTheModuleAndLogsInTheTabsForm()
{
    QString error;
    QVERIFY(m_sim->setValue(QStringLiteral("亮度"), QStringLiteral("80"), &error));
    QVERIFY(m_sim->setValue(QStringLiteral("模式"), QStringLiteral("护眼"), &error));
    openSimulator();

    // Product information: the stored template with the request's number.
    const QByteArray request = makeFrame(0x01, 0x42);
    QVERIFY(m_pty->write(request));
    QList<QByteArray> replies = readFrames(1);
    QCOMPARE(replies.size(), 1);
    const QByteArray info = replies.at(0);
    QCOMPARE(ZemTool::byteValue(info, 4), 0x02);
    QCOMPARE(ZemTool::byteValue(info, 5), 0x42);
    QCOMPARE(ZemTool::word16(info, 2), info.size() - 4);
    QCOMPARE(ZemTool::byteValue(info, info.size() - 1), int(ZemTool::frameChecksum(info)));

    // Status read: the full status with the read's number.
    QVERIFY(m_pty->write(makeFrame(0x03, 0x43, hex("02"))));
    QByteArray wire;
    replies = readFrames(1, &wire);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.at(0), statusAnswer(0x43, lampValues(0x02, 80)));

    // Four transfers, each a header and the bytes: received frames as the
    // receiver reads them, sent ones as they went out on the wire.
    QVERIFY(waitUntil([&] { return m_log.size() >= 8; }));
    QCOMPARE(m_log.size(), 8);
    const QRegularExpression header(
        QStringLiteral("^(WIFI|MCU):\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$"));
    for (int i = 0; i < 8; i += 2)
        QVERIFY2(header.match(m_log.at(i)).hasMatch(), qPrintable(m_log.at(i)));
    QVERIFY(m_log.at(0).startsWith(QStringLiteral("WIFI:")));
    QCOMPARE(m_log.at(1), ZemTool::hexText(request));
    QVERIFY(m_log.at(2).startsWith(QStringLiteral("MCU:")));
    QCOMPARE(m_log.at(3), ZemTool::hexText(ZemTool::escape(info)));
    QCOMPARE(m_log.at(7), ZemTool::hexText(wire));
}

void TestMcuSimulator::controlCommandChangesTheNextStatusAnswer()
{
    QString error;
    QVERIFY(m_sim->setValue(QStringLiteral("模式"), QStringLiteral("护眼"), &error));
    openSimulator();
    QSignalSpy changed(m_sim.get(), &McuSimulator::valuesChanged);

    // Switch (attribute 0) on and brightness (attribute 3) to 0x10; the mode
    // is not named and keeps its value.
    QVERIFY(m_pty->write(makeFrame(0x03, 0x21, hex("01 09 01 10") + QByteArray(10, '\0'))));
    QList<QByteArray> replies = readFrames(1);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.at(0), hex("FFFF0005042100002A"));
    QCOMPARE(changed.count(), 1);

    QVERIFY(m_pty->write(makeFrame(0x03, 0x22, hex("02"))));
    replies = readFrames(1);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.at(0), statusAnswer(0x22, lampValues(0x03, 0x10)));
}

void TestMcuSimulator::firmwareStartIsFollowedByTheReadyFrame()
{
    openSimulator();
    // The start carries a field with an FF in it: escaped both ways.
    QVERIFY(m_pty->write(ZemTool::escape(makeFrame(0x19, 0x01, hex("00000000 0003 AAFFBB")))));
    QList<QByteArray> frames = readFrames(2);
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames.at(0), makeFrame(0x1A, 0x01));
    // Ready: the count and field returned, then the piece size 64.
    QCOMPARE(ZemTool::byteValue(frames.at(1), 4), 0x1B);
    QCOMPARE(frames.at(1).mid(8, 7), hex("0003 AAFFBB 0040"));
    QCOMPARE(ZemTool::word16(frames.at(1), 2), frames.at(1).size() - 4);
    QCOMPARE(ZemTool::byteValue(frames.at(1), frames.at(1).size() - 1),
             int(ZemTool::frameChecksum(frames.at(1))));

    QByteArray image;
    for (int piece = 0; piece < 3; ++piece) {
        QByteArray data(64, char(0x11 * (piece + 1)));
        data[5] = char(0xFF);
        image += data;
        QVERIFY(m_pty->write(ZemTool::escape(makeFrame(
            0x1D, 0x10 + piece, ZemTool::numberToBytes(quint32(piece), 2) + hex("0000") + data))));
        frames = readFrames(1);
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames.at(0), makeFrame(0x1E, 0x10 + piece));
    }
    QCOMPARE(readFile(m_root->file(QStringLiteral("bin/mcu.bin"))), image);

    // Switched off, the start is only acknowledged.
    m_sim->setAnswerFirmwareStart(false);
    QVERIFY(m_pty->write(makeFrame(0x19, 0x02, hex("00000000 0001 AA"))));
    QCOMPARE(readFrames(2, nullptr, 1000).size(), 1);
}

void TestMcuSimulator::reportsOnceAndOnATimer()
{
    // Closed: nothing goes out and nothing is logged.
    m_sim->sendStatusReport();
    QVERIFY(m_log.isEmpty());

    openSimulator();
    m_sim->sendStatusReport();
    QByteArray wire;
    QList<QByteArray> frames = readFrames(1, &wire);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.at(0), m_sim->statusReport());
    QCOMPARE(ZemTool::byteValue(frames.at(0), 4), 0x05);
    QVERIFY(m_log.value(0).startsWith(QStringLiteral("SEND:")));
    QCOMPARE(m_log.value(1), ZemTool::hexText(wire));

    m_sim->startReports(1);
    QVERIFY(m_sim->reporting());
    QCOMPARE(readFrames(2, nullptr, 6000).size(), 2);
    m_sim->startReports(0);
    QVERIFY(!m_sim->reporting());
    m_pty->readFor(100); // a report that was on its way
    QVERIFY(readFrames(1, nullptr, 1500).isEmpty());

    // Closing the port ends them too.
    m_sim->startReports(1);
    m_sim->closePort();
    QVERIFY(!m_sim->reporting());
}

void TestMcuSimulator::lostPortIsReported()
{
    openSimulator();
    m_sim->startReports(60);
    QSignalSpy lost(m_sim.get(), &McuSimulator::portLost);
    m_pty->closeMaster();
    QVERIFY(waitUntil([&] { return lost.count() == 1; }, 5000));
    QVERIFY(!m_sim->isOpen());
    QVERIFY(!m_sim->reporting());
    QVERIFY(!m_log.isEmpty());
    QVERIFY(m_log.last().startsWith(QStringLiteral("注意:")));
    QVERIFY(m_log.last().contains(m_pty->slavePath()));
}

QTEST_GUILESS_MAIN(TestMcuSimulator)
#include "tst_mcusimulator.moc"
