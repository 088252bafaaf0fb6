// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated-MCU tab and lumo-mcu are one device: the same conversation of
// the Wi-Fi module, sent to the tab (built offscreen, its port opened through
// its widgets) over one pseudo-terminal and to lumo-mcu (started as a
// process) over another, gets the same bytes back for every request. Both
// run on one program folder with the sample lamp's cached definition.
#include "testsupport.h"

#include "engine/settingkeys.h"
#include "mcu/mcuwindow.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <fcntl.h>

#ifndef LUMO_MCU_PATH
#error "LUMO_MCU_PATH is the built lumo-mcu, defined by tests/CMakeLists.txt"
#endif

namespace {

const QString SampleKey = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");
constexpr int HeartbeatReply = 0x08;
constexpr int FirmwareReady = 0x1B;

// What came back for one request: the frames (unescaped) and the bytes on
// the wire they came in.
struct Answer
{
    QByteArray wire;
    QList<QByteArray> frames;
};

// One end of a conversation: the module's side of a pseudo-terminal, framed
// as it arrives, so that each frame keeps its own wire bytes.
class ModuleEnd
{
public:
    explicit ModuleEnd(PtyPair *pty)
        : m_pty(pty)
    {
        QObject::connect(&m_framer, &ZemFramer::LineDataReady, [this](const QByteArray &frame) {
            m_frames.append({m_raw, {frame}});
            m_raw.clear();
        });
    }

    // Sends `request`, then a heartbeat numbered `fence`, and gives what came
    // back before the heartbeat's reply: whatever a request is answered with
    // (or not), the fence says when it is over, without waiting for nothing.
    Answer ask(const QByteArray &request, int fence, bool *fenced)
    {
        *fenced = m_pty->write(ZemTool::escape(request)) && m_pty->write(makeFrame(0x07, fence))
            && readUntilFence(fence);
        Answer answer;
        for (const Answer &f : qAsConst(m_frames)) {
            answer.wire += f.wire;
            answer.frames += f.frames;
        }
        m_frames.clear();
        return answer;
    }

    // The frames that came in within the time (read before the script).
    QList<QByteArray> frames(int count, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (m_frames.size() < count && clock.elapsed() < timeoutMs)
            feed(m_pty->read(1, 50));
        QList<QByteArray> out;
        for (const Answer &f : qAsConst(m_frames))
            out += f.frames;
        m_frames.clear();
        return out;
    }

private:
    void feed(const QByteArray &bytes)
    {
        for (char c : bytes) {
            m_raw.append(c);
            m_framer.dataToV4(QByteArray(1, c));
        }
    }

    bool readUntilFence(int fence)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            for (int i = 0; i < m_frames.size(); ++i) {
                const QByteArray &f = m_frames.at(i).frames.first();
                if (ZemTool::byteValue(f, 4) == HeartbeatReply && ZemTool::byteValue(f, 5) == fence
                    && f.size() == 9) {
                    m_frames.removeAt(i);
                    return i == m_frames.size(); // nothing may follow the fence
                }
            }
            feed(m_pty->read(1, 50));
        }
        return false;
    }

    PtyPair *m_pty;
    ZemFramer m_framer;
    QByteArray m_raw;
    QList<Answer> m_frames;
};

// The frames lumo-mcu sends of its own accord are left out: the firmware
// request that follows its firmware-start reply at once (the tab leaves it to
// the user's click).
Answer withoutOwnFrames(const Answer &answer)
{
    Answer kept;
    bool dropped = false;
    for (const QByteArray &f : answer.frames) {
        if (ZemTool::byteValue(f, 4) == FirmwareReady) {
            dropped = true;
            continue;
        }
        kept.frames.append(f);
        kept.wire += ZemTool::escape(f);
    }
    if (!dropped)
        kept.wire = answer.wire;
    return kept;
}

QByteArray control(int sequence, const char *flagsAndValues)
{
    return makeFrame(0x03, sequence, hex("01") + hex(flagsAndValues));
}

} // namespace

class TestMcuParity : public QObject
{
    Q_OBJECT
private slots:
    void sameBytesForEveryRequest();
};

void TestMcuParity::sameBytesForEveryRequest()
{
    TestRoot root;
    PtyPair tabPty;
    PtyPair mcuPty;
    QVERIFY(tabPty.isValid() && mcuPty.isValid());
    // Neither end of the tab's line may stay open in lumo-mcu.
    ::fcntl(tabPty.masterFd(), F_SETFD, FD_CLOEXEC);
    ::fcntl(mcuPty.masterFd(), F_SETFD, FD_CLOEXEC);
    setExtraPorts({tabPty.slavePath()});
    {
        ZemTool tool;
        tool.writeSetting(SettingKeys::ProductKey, SampleKey);
        tool.writeSetting(QStringLiteral("setting/hardver"), QStringLiteral("HW000001"));
        tool.writeSetting(QStringLiteral("setting/softver"), QStringLiteral("SW000002"));
        tool.writeSetting(QStringLiteral("setting/bordingtime"), QStringLiteral("5"));
        tool.writeSetting(QStringLiteral("setting/moduletype"), QStringLiteral("normal"));
        tool.writeSetting(SettingKeys::OtaType, QStringLiteral("bin"));
        tool.writeSetting(SettingKeys::OtaPiece, QStringLiteral("64"));
    }
    QVERIFY(QFile::copy(QFINDTESTDATA("data/smart-lamp.json"),
                        root.file(QStringLiteral("json/") + SampleKey + QStringLiteral(".json"))));

    // The tab, its port opened as the user does.
    ZemTool settings;
    McuWindow tab(&settings);
    auto *com = tab.findChild<QComboBox *>(QStringLiteral("com_3"));
    QVERIFY(waitUntil([&] { return com->findText(tabPty.slavePath()) >= 0; }, 5000));
    com->setCurrentIndex(com->findText(tabPty.slavePath()));
    QTest::mouseClick(tab.findChild<QPushButton *>(QStringLiteral("pushButton_open3")),
                      Qt::LeftButton);
    QVERIFY(tab.port()->isOpen());

    // lumo-mcu on the same folder; the report it sends once says it is open.
    QProcess mcu;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LUMO_EXTRA_PORTS"));
    mcu.setProcessEnvironment(env);
    mcu.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mcu.start(QStringLiteral(LUMO_MCU_PATH),
              {QStringLiteral("--port"), mcuPty.slavePath(), QStringLiteral("--root"), root.path(),
               QStringLiteral("--report-once")});
    QVERIFY2(mcu.waitForStarted(10000), qPrintable(mcu.errorString()));
    ModuleEnd tabEnd(&tabPty);
    ModuleEnd mcuEnd(&mcuPty);
    const QList<QByteArray> first = mcuEnd.frames(1, 10000);
    QCOMPARE(first.size(), 1);
    QCOMPARE(ZemTool::byteValue(first.at(0), 4), 0x05);

    QByteArray wrongChecksum = makeFrame(0x07, 0x13);
    wrongChecksum[wrongChecksum.size() - 1] = char(wrongChecksum.at(wrongChecksum.size() - 1) + 1);
    const QList<QByteArray> script{
        makeFrame(0x07, 0x01),                                   // heartbeat
        makeFrame(0x01, 0x02),                                   // product information
        makeFrame(0x03, 0x03, hex("02")),                        // status read
        makeFrame(0x0D, 0x04, hex("00 1F")),                     // Wi-Fi status
        control(0x05, "09 01 10 00 00 00 00 00 00 00 00 00 00"), // switch on, brightness 16
        makeFrame(0x03, 0x06, hex("02")),
        control(0x07, "4B 0E 50 11 94 00 00 00 3C DE AD BE EF"), // mode, scene and more
        makeFrame(0x03, 0x08, hex("02")),
        control(0x09, "40 00 00 0A 8C 00 00 00 00 FF 00 FF FF"), // scene with FF: escaped
        makeFrame(0x03, 0x0A, hex("02")),
        makeFrame(0x0F, 0x0B),                              // MCU restart
        makeFrame(0x11, 0x0C, hex("01")),                   // illegal frame
        makeFrame(0x13, 0x0D),                              // test mode
        makeFrame(0x15, 0x0E),                              // binding mode
        makeFrame(0x19, 0x0F, hex("00000000 0003 AAFFBB")), // firmware start
        makeFrame(0x1D, 0x10, hex("0001 0004 DEADFF01")),   // pieces, one repeated
        makeFrame(0x1D, 0x11, hex("0002 0004 02030405")),
        makeFrame(0x1D, 0x12, hex("0002 0004 02030405")),
        makeFrame(0x1F, 0x13), // firmware end
        wrongChecksum,
        makeFrame(0x30, 0x15), // no such command
        makeFrame(0x06, 0x16), // a reply: never answered
        makeFrame(0x03, 0x17, hex("02")),
    };

    int answered = 0;
    QByteArray lastAnswer;
    for (int i = 0; i < script.size(); ++i) {
        const QByteArray &request = script.at(i);
        const int fence = 0x80 + i;
        bool tabFenced = false;
        bool mcuFenced = false;
        const Answer fromTab = tabEnd.ask(request, fence, &tabFenced);
        const Answer fromMcu = withoutOwnFrames(mcuEnd.ask(request, fence, &mcuFenced));
        const QByteArray what = "request " + QByteArray::number(i) + ": " + request.toHex(' ');
        QVERIFY2(tabFenced && mcuFenced, what.constData());
        QVERIFY2(
            fromTab.frames == fromMcu.frames,
            (what + "\n tab: " + fromTab.wire.toHex(' ') + "\n mcu: " + fromMcu.wire.toHex(' '))
                .constData());
        QVERIFY2(fromTab.wire == fromMcu.wire, what.constData());
        answered += fromTab.frames.isEmpty() ? 0 : 1;
        lastAnswer = fromTab.frames.value(0);
    }
    // The script is answered for the most part: the comparison compared replies.
    QVERIFY2(answered >= 18, QByteArray::number(answered).constData());
    // The last status read shows what the controls set (the scene with FF).
    QCOMPARE(lastAnswer.mid(17, 4), hex("FF 00 FF FF"));

    mcu.terminate();
    QVERIFY(mcu.waitForFinished(10000));
}

QTEST_MAIN(TestMcuParity)
#include "tst_mcuparity.moc"
