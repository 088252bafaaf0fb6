// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated-MCU tab and lumo-mcu are one device: the same conversation of
// the Wi-Fi module, sent to the tab (built offscreen, its port opened through
// its widgets) over one pseudo-terminal and to lumo-mcu (started as a
// process) over another, gets the same bytes back for every request (the
// tab set to take up a firmware offer by itself, as lumo-mcu does). Both run
// on one program folder with the sample lamp's cached definition.
#include "testsupport.h"

#include "mcu/mcuwindow.h"
#include "protocol/frameescape.h"
#include "protocol/frameformat.h"
#include "protocol/settingkeys.h"
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

// Sends `request` and then a heartbeat numbered `fence`, and gives the bytes
// that came back before the heartbeat's reply: whatever a request is
// answered with, or nothing, the fence says when the answer is over.
QByteArray ask(PtyPair &pty, const QByteArray &request, int fence)
{
    ZemFramer framer;
    bool fenced = false;
    QObject::connect(&framer, &ZemFramer::LineDataReady, [&](const QByteArray &f) {
        if (f == makeFrame(0x08, fence))
            fenced = true;
    });
    if (!pty.write(ZemTool::escape(request)) || !pty.write(makeFrame(0x07, fence)))
        return "not sent";
    QByteArray raw;
    QElapsedTimer clock;
    clock.start();
    while (!fenced && clock.elapsed() < 10000) {
        const QByteArray got = pty.read(1, 50);
        raw += got;
        framer.dataToV4(got);
    }
    if (!fenced || !raw.endsWith(makeFrame(0x08, fence)))
        return "no fence";
    return raw.left(raw.size() - makeFrame(0x08, fence).size());
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
    ZemTool().writeSetting(SettingKeys::ProductKey, SampleKey);
    // The tab takes up a firmware offer at once, as lumo-mcu always does.
    ZemTool().writeSetting(SettingKeys::OtaAutoStart, QStringLiteral("true"));
    QVERIFY(QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
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
    {
        ZemFramer framer;
        QByteArray report;
        connect(&framer, &ZemFramer::LineDataReady, [&](const QByteArray &f) { report = f; });
        QVERIFY(waitUntil(
            [&] {
                framer.dataToV4(mcuPty.read(1, 20));
                return !report.isEmpty();
            },
            10000));
        QCOMPARE(ZemTool::byteValue(report, 4), 0x05);
    }

    auto damaged = [](QByteArray frame) {
        frame[frame.size() - 1] = char(frame.at(frame.size() - 1) + 1);
        return frame;
    };
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
        damaged(makeFrame(0x07, 0x14)),
        damaged(control(0x18, "40 00 00 0A 8C 00 00 00 00 00 00 00 00")), // scene: not applied
        makeFrame(0x30, 0x15),                                            // no such command
        makeFrame(0x06, 0x16),                                            // a reply: never answered
        makeFrame(0x03, 0x17, hex("02")),
    };

    int answered = 0;
    QByteArray lastAnswer;
    for (int i = 0; i < script.size(); ++i) {
        const QByteArray fromTab = ask(tabPty, script.at(i), 0x80 + i);
        const QByteArray fromMcu = ask(mcuPty, script.at(i), 0x80 + i);
        const QByteArray what = "request " + QByteArray::number(i) + ": ";
        QCOMPARE(what + fromMcu.toHex(' '), what + fromTab.toHex(' '));
        answered += fromTab.isEmpty() ? 0 : 1;
        lastAnswer = Frame::unescape(fromTab);
    }
    // Nearly all requests are answered: replies were compared, not silences.
    QCOMPARE(answered, script.size() - 4);
    // The last status read shows what the good controls set (the scene with
    // FF), not what the damaged one carried.
    QCOMPARE(lastAnswer.mid(17, 4), hex("FF 00 FF FF"));

    mcu.terminate();
    QVERIFY(mcu.waitForFinished(10000));
}

QTEST_MAIN(TestMcuParity)
#include "tst_mcuparity.moc"
