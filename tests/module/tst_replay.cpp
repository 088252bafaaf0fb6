// SPDX-License-Identifier: GPL-3.0-or-later
// Replaying a recording through real pseudo-terminals: the bytes played are
// the bytes recorded, and the regression names the step whose reply changed,
// in the process and as lumo-module --replay.
#include "ptybridge.h"
#include "testsupport.h"

#include "analyzer/frameanalyzer.h"
#include "capture/capturewriter.h"
#include "engine/mcusimulator.h"
#include "module/replayplayer.h"
#include "module/replayregression.h"
#include "protocol/settingkeys.h"
#include "protocol/streamsegmenter.h"
#include "protocol/zemtool.h"
#include "serial/anyline.h"
#include "serial/zemserialport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

std::unique_ptr<AnyLine> openLine(const QString &path)
{
    auto line = std::make_unique<AnyLine>();
    line->port()->setAcceptUnlisted(true);
    if (!line->openLine(path, LineSettings::Settings()))
        return nullptr;
    return line;
}

// The module's requests of the recorded conversation.
QList<QByteArray> moduleRequests()
{
    return {wireFrame(0x07, 0x01), wireFrame(0x01, 0x02), wireFrame(0x0D, 0x03, hex("0312")),
            wireFrame(0x07, 0x04)};
}

} // namespace

class TestReplay : public QObject
{
    Q_OBJECT

private:
    // Records a conversation with the simulated MCU as it stands: each
    // request written to it, its reply read back, 30 ms apart.
    std::unique_ptr<FrameAnalyzer> recordConversation(ZemTool *settings)
    {
        PtyPair pty;
        auto line = openLine(pty.slavePath());
        if (!line)
            return nullptr;
        McuSimulator mcu(settings, line.get());
        auto rows = std::make_unique<FrameAnalyzer>();
        qint64 t = 1700000000000000;
        for (const QByteArray &request : moduleRequests()) {
            pty.write(request);
            const QByteArray reply = pty.readFor(150);
            rows->add(segment(LineDirection::ModuleToMcu, t, request));
            rows->add(segment(LineDirection::McuToModule, t + 4000, reply));
            t += 30000;
        }
        return rows;
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_settings = std::make_unique<ZemTool>();
    }
    void cleanup()
    {
        m_settings.reset();
        m_root.reset();
    }

    void playedBytesAreTheRecordedOnes_data()
    {
        QTest::addColumn<double>("speed");
        QTest::addColumn<bool>("both");
        QTest::addColumn<bool>("fromMiddle");
        QTest::addColumn<int>("bytes"); // per direction
        QTest::addColumn<int>("pauseMs");
        QTest::addColumn<int>("stepUs"); // between rows in the recording
        QTest::newRow("as fast as the line takes it, both ways")
            << 0.0 << true << false << 200000 << 0 << 100;
        QTest::newRow("recorded timing x10, both ways, paused")
            << 10.0 << true << false << 6000 << 300 << 50000;
        QTest::newRow("x2, module to MCU only, from a middle row")
            << 2.0 << false << true << 6000 << 0 << 2000;
    }
    void playedBytesAreTheRecordedOnes()
    {
        QFETCH(double, speed);
        QFETCH(bool, both);
        QFETCH(bool, fromMiddle);
        QFETCH(int, bytes);
        QFETCH(int, pauseMs);
        QFETCH(int, stepUs);

        // Each direction's stream cut as the recorder cuts it, both
        // interleaved stepUs apart.
        FrameAnalyzer rows;
        QVector<LineSegment> cut[2];
        for (LineDirection d : {LineDirection::McuToModule, LineDirection::ModuleToMcu}) {
            StreamSegmenter segmenter(d);
            segmenter.feed(frameStream(bytes, 7 + int(d)), 0, cut[int(d)]);
            segmenter.flush(cut[int(d)]);
        }
        qint64 t = 0;
        for (int i = 0; i < qMax(cut[0].size(), cut[1].size()); ++i) {
            for (const QVector<LineSegment> &c : cut) {
                if (i < c.size()) {
                    LineSegment s = c.at(i);
                    s.timeUs = t += stepUs;
                    rows.add(s);
                }
            }
        }
        const qint64 from = fromMiddle ? rows.endId() / 2 : 0;
        QByteArray expected[2];
        for (qint64 id = from; id < rows.endId(); ++id)
            expected[int(rows.record(id).direction)] += rows.wire(id);

        PtyPair toModule;
        PtyPair toMcu;
        auto moduleLine = openLine(toModule.slavePath());
        auto mcuLine = openLine(toMcu.slavePath());
        QVERIFY(moduleLine && mcuLine);
        ReplayPlayer player(&rows);
        player.setLine(LineDirection::McuToModule, moduleLine.get());
        player.setLine(LineDirection::ModuleToMcu, mcuLine.get());
        ReplayOptions options;
        options.speed = speed;
        options.fromId = from;
        options.directions[int(LineDirection::McuToModule)] = both;
        // The most the lines ever held unsent: never the whole recording.
        qint64 mostHeld = 0;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, this, [&] {
            for (Line *l :
                 {static_cast<Line *>(moduleLine.get()), static_cast<Line *>(mcuLine.get())})
                mostHeld = qMax(mostHeld, ReplayPlayer::backlog(l));
        });
        sampler.start(1);
        QSignalSpy finished(&player, &ReplayPlayer::finished);
        QElapsedTimer clock;
        clock.start();
        QString why;
        QVERIFY2(player.start(options, &why), qPrintable(why));
        // Nobody reads for a while: the lines fill up.
        QTest::qWait(200);
        if (pauseMs > 0) {
            QVERIFY(player.isRunning());
            player.pause();
            const qint64 held = player.rowsPlayed();
            QTest::qWait(pauseMs);
            QCOMPARE(player.rowsPlayed(), held);
            player.resume();
        }
        // Both far ends read at once: one line that nobody drains holds up the other.
        QByteArray toMcuBytes;
        QByteArray toModuleBytes;
        const int moduleBytes = both ? expected[0].size() : 0;
        QElapsedTimer reading;
        reading.start();
        while ((finished.isEmpty() || toMcuBytes.size() < expected[1].size()
                || toModuleBytes.size() < moduleBytes)
               && reading.elapsed() < 20000) {
            toMcuBytes += toMcu.readFor(5);
            toModuleBytes += toModule.readFor(5);
        }
        toModuleBytes += toModule.readFor(50);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().at(0).toBool(), true);
        QCOMPARE(toMcuBytes, expected[1]);
        QCOMPARE(toModuleBytes, both ? expected[0] : QByteArray());
        QVERIFY2(mostHeld <= ReplayPlayer::HighWaterBytes + ReplayPlayer::BurstBytes + 1024,
                 qPrintable(QString::number(mostHeld)));
        if (speed > 0) {
            // The recorded timing is kept: the last row is not sent before its time.
            const qint64 spanUs = rows.record(rows.endId() - 1).timeUs - rows.record(from).timeUs;
            QVERIFY(clock.elapsed()
                    >= qint64(double(spanUs) / speed / 1000.0 * 0.9) + pauseMs * 9 / 10);
        }
    }

    void compareNamesTheField_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<int>("offset");
        const QByteArray recorded = makeFrame(0x04, 0x05, hex("030102"));
        QTest::newRow("equal") << recorded << int(ReplayStep::Verdict::Match) << -1;
        QTest::newRow("a value") << makeFrame(0x04, 0x05, hex("030109"))
                                 << int(ReplayStep::Verdict::FieldsMatch) << 10;
        QTest::newRow("sequence") << makeFrame(0x04, 0x06, hex("030102"))
                                  << int(ReplayStep::Verdict::Differs) << 5;
        QTest::newRow("command") << makeFrame(0x06, 0x05, hex("030102"))
                                 << int(ReplayStep::Verdict::Differs) << 4;
        QTest::newRow("length") << makeFrame(0x04, 0x05, hex("03"))
                                << int(ReplayStep::Verdict::Differs) << 3;
    }
    void compareNamesTheField()
    {
        QFETCH(QByteArray, received);
        QFETCH(int, verdict);
        QFETCH(int, offset);
        QString detail;
        int at = -2;
        QCOMPARE(int(ReplayRegression::compare(makeFrame(0x04, 0x05, hex("030102")), received,
                                               &detail, &at)),
                 verdict);
        QCOMPARE(at, offset);
        QVERIFY(!detail.isEmpty());
    }

    void regressionNamesTheChangedStep()
    {
        auto rows = recordConversation(m_settings.get());
        QVERIFY(rows);
        QCOMPARE(rows->endId(), 8);
        // The MCU under test is the same, but for its software version.
        m_settings->writeSetting(SettingKeys::SoftVersion, QStringLiteral("09.09.09"));

        PtyBridge bridge;
        auto mcuLine = openLine(bridge.endB());
        auto moduleLine = openLine(bridge.endA());
        QVERIFY(mcuLine && moduleLine);
        McuSimulator mcu(m_settings.get(), mcuLine.get());
        ReplayRegression regression(rows.get(), moduleLine.get());
        QSignalSpy finished(&regression, &ReplayRegression::finished);
        ReplayRegressionOptions options;
        options.exact = true;
        QVERIFY(regression.start(options));
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().at(0).toBool(), false);
        const QList<ReplayStep> &steps = regression.steps();
        QCOMPARE(steps.size(), 4);
        for (int i : {0, 2, 3})
            QCOMPARE(int(steps.at(i).verdict), int(ReplayStep::Verdict::Match));
        // Product information: the software version's field, 8 bytes from offset 32.
        const ReplayStep &changed = steps.at(1);
        QCOMPARE(int(changed.verdict), int(ReplayStep::Verdict::FieldsMatch));
        QCOMPARE(changed.requestRow, 2);
        QVERIFY(changed.offset >= 32 && changed.offset < 40);
        QVERIFY2(ReplayRegression::line(changed).startsWith(
                     QStringLiteral("FIELDS   step 2, row #2, 0x01 seq 0x02: ")),
                 qPrintable(ReplayRegression::line(changed)));
        // Without --exact, equal command, sequence number and length pass.
        QVERIFY(changed.passes(false));
    }

    void lumoModuleReplayExitStatus()
    {
        auto rows = recordConversation(m_settings.get());
        QVERIFY(rows);
        const QString file = m_root->file(QStringLiteral("recording.pcap"));
        CaptureWriter writer;
        QString error;
        QVERIFY2(writer.open(file, &error), qPrintable(error));
        for (qint64 id = rows->firstId(); id < rows->endId(); ++id) {
            const FrameRecord &r = rows->record(id);
            writer.write(segment(r.direction, r.timeUs, rows->wire(id), r.kind),
                         QStringLiteral("/dev/ttyUSB0"));
        }
        writer.close();

        PtyBridge bridge;
        auto mcuLine = openLine(bridge.endB());
        QVERIFY(mcuLine);
        McuSimulator mcu(m_settings.get(), mcuLine.get());
        auto run = [&](const QStringList &extra) {
            QProcess module;
            module.start(QStringLiteral(LUMO_MODULE_PATH),
                         QStringList{QStringLiteral("--port"), bridge.endA(),
                                     QStringLiteral("--root"), m_root->path(),
                                     QStringLiteral("--replay"), file}
                             + extra);
            return waitFor(module, 30000);
        };
        const Finished same = run({QStringLiteral("--replay-speed"), QStringLiteral("max")});
        QCOMPARE(same.exitCode, 0);
        QVERIFY2(same.out.contains(QStringLiteral("4 requests: 4 matched byte for byte")),
                 qPrintable(same.out));

        m_settings->writeSetting(SettingKeys::SoftVersion, QStringLiteral("09.09.09"));
        const QString junit = m_root->file(QStringLiteral("replay.xml"));
        const Finished changed = run({QStringLiteral("--exact"), QStringLiteral("--junit"), junit});
        QCOMPARE(changed.exitCode, 1);
        QVERIFY2(changed.out.contains(QStringLiteral("FIELDS   step 2, row #2, 0x01 seq 0x02")),
                 qPrintable(changed.out));
        QFile report(junit);
        QVERIFY(report.open(QIODevice::ReadOnly));
        QVERIFY(report.readAll().contains("failures=\"1\""));

        const Finished none = run({QStringLiteral("--robust")});
        QCOMPARE(none.exitCode, 2);
        QFile notCapture(m_root->file(QStringLiteral("text.pcap")));
        QVERIFY(notCapture.open(QIODevice::WriteOnly));
        notCapture.write("no capture\n");
        notCapture.close();
        QProcess module;
        module.start(QStringLiteral(LUMO_MODULE_PATH),
                     {QStringLiteral("--port"), bridge.endA(), QStringLiteral("--replay"),
                      notCapture.fileName()});
        QCOMPARE(waitFor(module, 30000).exitCode, 2);
    }

private:
    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<ZemTool> m_settings;
};

QTEST_MAIN(TestReplay)
#include "tst_replay.moc"
