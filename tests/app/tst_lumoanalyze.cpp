// SPDX-License-Identifier: GPL-3.0-or-later
// lumo-analyze as a CI job runs it: on the captures lumo-module and lumo-mcu
// leave over a pseudo-terminal pair, on a broken MCU's run, on files it
// cannot read, and beside the analyzer window on the same file.
#include "ptybridge.h"
#include "testsupport.h"

#include "analyzer/captureanalysis.h"
#include "analyzer/datapointhistory.h"
#include "analyzer/frameanalyzer.h"
#include "analyzer/framelistmodel.h"
#include "analyzerwindow/analyzerwindow.h"
#include "capture/capturewriter.h"
#include "protocol/lineevent.h"
#include "protocol/zemtool.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTest>
#include <QXmlStreamReader>

namespace {

const QString Key = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");

Finished analyze(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(LUMO_ANALYZE_PATH), args);
    if (!p.waitForStarted(10000))
        return {};
    return waitFor(p, 60000);
}

void cacheDefinition(const TestRoot &root)
{
    QDir().mkpath(root.file(QStringLiteral("json")));
    QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                root.file(QStringLiteral("json/%1.json").arg(Key)));
}

bool loadLamp(DataPointDefinition *out)
{
    QFile f(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    *out = DataPointDefinition::fromJson(QJsonDocument::fromJson(f.readAll()).object());
    return !out->isEmpty();
}

// The capture the JUnit report names: the suite's "capture" property.
QString junitCapture(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement
            && xml.name() == QLatin1String("property")
            && xml.attributes().value(QLatin1String("name")) == QLatin1String("capture"))
            return xml.attributes().value(QLatin1String("value")).toString();
    }
    return QString();
}

} // namespace

class TestLumoAnalyze : public QObject
{
    Q_OBJECT

private slots:
    void runAgainstLumoMcuLeavesCleanCaptures()
    {
        PtyBridge bridge;
        QVERIFY(bridge.isValid());
        TestRoot root;
        cacheDefinition(root);
        const QString mcuCapture = root.file(QStringLiteral("mcu.pcap"));
        const QString moduleCapture = root.file(QStringLiteral("module.pcap"));

        QProcess mcu;
        mcu.start(QStringLiteral(LUMO_MCU_PATH),
                  {QStringLiteral("--port"), bridge.endB(), QStringLiteral("--root"), root.path(),
                   QStringLiteral("--product-key"), Key, QStringLiteral("--report-once"),
                   QStringLiteral("--capture"), mcuCapture});
        QVERIFY(mcu.waitForStarted(10000));
        QVERIFY(waitUntil([&] { return mcu.canReadLine(); }, 20000));
        QProcess module;
        module.start(QStringLiteral(LUMO_MODULE_PATH),
                     {QStringLiteral("--port"), bridge.endA(), QStringLiteral("--root"),
                      root.path(), QStringLiteral("--product-key"), Key,
                      QStringLiteral("--reply-limit"), QStringLiteral("1500"),
                      QStringLiteral("--capture"), moduleCapture});
        QVERIFY(module.waitForStarted(10000));
        const Finished run = waitFor(module);
        mcu.terminate(); // ends its capture cleanly
        QVERIFY(waitUntil([&] { return mcu.state() == QProcess::NotRunning; }, 10000));
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));

        // Both ends saw the same conversation, and neither file has a problem.
        // Direction, command and sequence number of each row; the MCU's
        // first report reaches the module only once its port is open.
        QStringList rows[2];
        int i = 0;
        for (const QString &capture : {moduleCapture, mcuCapture}) {
            const Finished a = analyze({capture, QStringLiteral("--root"), root.path(),
                                        QStringLiteral("--reply-limit"), QStringLiteral("1500"),
                                        QStringLiteral("--definition"), Key});
            QVERIFY2(a.exitCode == 0, qPrintable(capture + a.out + a.err));
            QVERIFY2(a.err.isEmpty(), qPrintable(a.err));
            for (const QString &line : a.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                rows[i] << line.section(QLatin1Char('\t'), 2, 4);
            rows[i++].sort();
            // The status answers are read by the data points' names.
            QVERIFY(a.out.contains(QStringLiteral("亮度=")));
        }
        QVERIFY2(rows[0].size() > 40, qPrintable(rows[0].join(QLatin1Char('\n'))));
        QCOMPARE(rows[1], rows[0]);

        // The values over time, as the window's chart holds them.
        const Finished values
            = analyze({moduleCapture, QStringLiteral("--root"), root.path(),
                       QStringLiteral("--reply-limit"), QStringLiteral("1500"),
                       QStringLiteral("--definition"), Key, QStringLiteral("--datapoints")});
        QVERIFY2(values.exitCode == 0, qPrintable(values.err));
        CaptureAnalysis capture(1500000);
        QVERIFY(capture.read(moduleCapture));
        DataPointDefinition definition;
        QVERIFY(loadLamp(&definition));
        DataPointHistory history(definition);
        QVERIFY(history.addRows(capture.analyzer(), 0, capture.analyzer().endId()) > 3);
        QCOMPARE(values.out, history.toCsv());
    }

    void brokenMcuCaptureNamesItsThreeFaults()
    {
        PtyBridge bridge;
        QVERIFY(bridge.isValid());
        TestRoot root;
        cacheDefinition(root);
        QProcess mcu;
        mcu.start(QStringLiteral(BROKENMCU_PATH),
                  {QStringLiteral("--port"), bridge.endB(), QStringLiteral("--definition"),
                   QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                   QStringLiteral("--product-key"), Key, QStringLiteral("--late"),
                   QStringLiteral("07"), QStringLiteral("--delay"), QStringLiteral("1500"),
                   QStringLiteral("--wrong-sequence"), QStringLiteral("0F"),
                   QStringLiteral("--bad-checksum"), QStringLiteral("11")});
        QVERIFY(mcu.waitForStarted(10000));
        QVERIFY(waitUntil([&] { return mcu.canReadLine(); }, 20000));
        const QString capture = root.file(QStringLiteral("broken.pcap"));
        const QString junit = root.file(QStringLiteral("report.xml"));
        QProcess module;
        module.start(QStringLiteral(LUMO_MODULE_PATH),
                     {QStringLiteral("--port"), bridge.endA(), QStringLiteral("--root"),
                      root.path(), QStringLiteral("--product-key"), Key,
                      QStringLiteral("--reply-limit"), QStringLiteral("1000"),
                      QStringLiteral("--junit"), junit, QStringLiteral("--capture"), capture});
        QVERIFY(module.waitForStarted(10000));
        const Finished run = waitFor(module);
        mcu.kill();
        mcu.waitForFinished(5000);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(junitCapture(junit), QFileInfo(capture).absoluteFilePath());

        const Finished a = analyze({capture, QStringLiteral("--root"), root.path(),
                                    QStringLiteral("--reply-limit"), QStringLiteral("1000"),
                                    QStringLiteral("--problems")});
        QCOMPARE(a.exitCode, 1);
        // The heartbeat answered too late, the restart answer with a wrong
        // sequence number (answering no request) and the illegal-frame
        // answer's checksum: nothing else.
        QSet<QString> found;
        for (const QString &line : a.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList cells = line.split(QLatin1Char('\t'));
            if (cells.size() >= 7)
                found << cells.at(3).left(4) + QLatin1Char(' ') + cells.at(6);
        }
        QCOMPARE(
            found,
            (QSet<QString>{QStringLiteral("0x07 no-reply"), QStringLiteral("0x10 unexpected-reply"),
                           QStringLiteral("0x12 checksum")}));
        QVERIFY2(a.out.endsWith(QStringLiteral("checksum\t1\nno-reply\t1\nunexpected-reply\t1\n")),
                 qPrintable(a.out));
        // The kinds chosen decide the exit status.
        QCOMPARE(analyze({capture, QStringLiteral("--root"), root.path(),
                          QStringLiteral("--reply-limit"), QStringLiteral("1000"),
                          QStringLiteral("--fail-on"), QStringLiteral("no-reply,unexpected-reply")})
                     .exitCode,
                 1);
        QCOMPARE(analyze({capture, QStringLiteral("--root"), root.path(),
                          QStringLiteral("--fail-on"), QStringLiteral("length,noise")})
                     .exitCode,
                 0);
    }

    void unreadable_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << QStringList{QStringLiteral("/nonexistent/x.pcap")}
                                 << QStringLiteral("cannot read /nonexistent/x.pcap");
        QTest::newRow("no capture")
            << QStringList{QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json")}
            << QStringLiteral("is no capture of the line");
        QTest::newRow("kind") << QStringList{QStringLiteral("x.pcap"), QStringLiteral("--fail-on"),
                                             QStringLiteral("checksum,late")}
                              << QStringLiteral("not a problem kind: late");
        QTest::newRow("no file") << QStringList{} << QStringLiteral("which capture?");
        QTest::newRow("values without definition")
            << QStringList{QStringLiteral("x.pcap"), QStringLiteral("--datapoints")}
            << QStringLiteral("--datapoints needs --definition");
    }

    void unreadable()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        TestRoot root;
        const Finished r = analyze(args + QStringList{QStringLiteral("--root"), root.path()});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
    }

    void shellCsvIsTheWindowsCsv()
    {
        // Rows of every kind and problem: a pair, a checksum, a late reply,
        // noise, an unescaped FF, a v3 frame, a request never answered.
        TestRoot root;
        const QString path = root.file(QStringLiteral("mixed.pcap"));
        const qint64 t0 = 1765238400000000;
        QByteArray badSum = wireFrame(0x08, 2);
        badSum[badSum.size() - 1] = char(badSum.at(badSum.size() - 1) ^ 1);
        const QVector<LineSegment> segments{
            segment(LineDirection::ModuleToMcu, t0, wireFrame(0x01, 1)),
            // An event between a request and its reply is a row of its own.
            segment(LineDirection::McuToModule, t0 + 2000,
                    LineEvent::modemLine(LineEvent::Dtr, true), SegmentKind::Event),
            segment(LineDirection::McuToModule, t0 + 4000, wireFrame(0x02, 1, "a,\"b\"")),
            segment(LineDirection::ModuleToMcu, t0 + 10000, wireFrame(0x07, 2)),
            segment(LineDirection::McuToModule, t0 + 20000, badSum),
            segment(LineDirection::McuToModule, t0 + 21000, "boot\r\n", SegmentKind::Other),
            segment(LineDirection::McuToModule, t0 + 30000, makeFrame(0x05, 3, hex("04 FF 01"))),
            segment(LineDirection::ModuleToMcu, t0 + 40000, hex("00 00 00 03 00 02 03 0b"),
                    SegmentKind::Frame3),
            segment(LineDirection::ModuleToMcu, t0 + 50000, wireFrame(0x09, 4)),
            segment(LineDirection::ModuleToMcu, t0 + 900000, wireFrame(0x07, 5)),
        };
        {
            CaptureWriter writer;
            QVERIFY(writer.open(path, nullptr));
            for (const LineSegment &s : segments)
                writer.write(s, QStringLiteral("/dev/ttyUSB0"));
            writer.close();
        }

        ZemTool settings;
        AnalyzerWindow window(AnalyzerWindow::Source::Mcu, nullptr, nullptr, &settings);
        QVERIFY(window.openCapture(path));
        const QString exported = root.file(QStringLiteral("window.csv"));
        QVERIFY(window.exportCsv(exported));
        QFile csv(exported);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QByteArray windowCsv = csv.readAll().mid(3); // after the byte order mark

        const Finished shell
            = analyze({path, QStringLiteral("--root"), root.path(), QStringLiteral("--csv"),
                       QStringLiteral("--fail-on"), QStringLiteral("none")});
        QCOMPARE(shell.exitCode, 0);
        QCOMPARE(shell.out.toUtf8(), windowCsv);
        QCOMPARE(shell.out.count(QLatin1Char('\n')), segments.size() + 1);
        QCOMPARE(window.analyzer()->record(0).pairId, qint64(2));
        QCOMPARE(window.analyzer()->record(1).pairId, qint64(-1));
        const Finished rows = analyze({path, QStringLiteral("--root"), root.path(),
                                       QStringLiteral("--fail-on"), QStringLiteral("none")});
        QVERIFY2(rows.out.contains(QStringLiteral("\tMCU->module\tevent: DTR on\t")),
                 qPrintable(rows.out));

        // The same counters: one summary line per kind the window counts.
        const Finished problems
            = analyze({path, QStringLiteral("--root"), root.path(), QStringLiteral("--problems")});
        QCOMPARE(problems.exitCode, 1);
        const AnalyzerCounters &counters = window.analyzer()->counters();
        const char *const names[FrameProblem::KindCount]
            = {"checksum",         "length",         "unescaped-ff", "no-reply",
               "unexpected-reply", "retransmission", "noise"};
        QStringList expected;
        for (int kind = 0; kind < FrameProblem::KindCount; ++kind) {
            if (counters.problems[kind] > 0)
                expected << QStringLiteral("%1\t%2")
                                .arg(QLatin1String(names[kind]))
                                .arg(counters.problems[kind]);
        }
        QVERIFY(problems.out.endsWith(expected.join(QLatin1Char('\n')) + QLatin1Char('\n')));
        QVERIFY(expected.size() >= 4);
    }
};

QTEST_MAIN(TestLumoAnalyze)
#include "tst_lumoanalyze.moc"
