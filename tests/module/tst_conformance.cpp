// SPDX-License-Identifier: GPL-3.0-or-later
// lumo-module and the MCUs it checks, each a real program, talking over two
// pseudo-terminals joined back to back.
#include "ptybridge.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

namespace {

const QString Key = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");

// One JUnit testcase as a CI system reads it.
struct Case
{
    QString name;
    QString failure; // the failure message, empty when it passed
    QString out;     // its system-out: the frames
};

bool readJUnit(const QString &path, QList<Case> *cases, int *failuresAttribute)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader xml(&file);
    bool suite = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("testsuite")) {
            suite = true;
            *failuresAttribute = xml.attributes().value(QLatin1String("failures")).toInt();
        } else if (xml.name() == QLatin1String("testcase")) {
            cases->append(
                {xml.attributes().value(QLatin1String("name")).toString(), QString(), QString()});
        } else if (xml.name() == QLatin1String("failure") && !cases->isEmpty()) {
            cases->last().failure = xml.attributes().value(QLatin1String("message")).toString();
        } else if (xml.name() == QLatin1String("system-out") && !cases->isEmpty()) {
            cases->last().out = xml.readElementText();
        }
    }
    return suite && !xml.hasError();
}

} // namespace

class TestConformance : public QObject
{
    Q_OBJECT

private:
    // A program folder with the sample product's definition cached.
    void cacheDefinition(const TestRoot &root)
    {
        QDir().mkpath(root.file(QStringLiteral("json")));
        QFile::remove(root.file(QStringLiteral("json/%1.json").arg(Key)));
        QVERIFY(QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                            root.file(QStringLiteral("json/%1.json").arg(Key))));
    }

    void startBrokenMcu(QProcess &mcu, const PtyBridge &bridge, const QStringList &extra)
    {
        mcu.start(QStringLiteral(BROKENMCU_PATH),
                  QStringList{QStringLiteral("--port"), bridge.endB(),
                              QStringLiteral("--definition"),
                              QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json")}
                      + extra);
        QVERIFY(mcu.waitForStarted(10000));
        QVERIFY(waitUntil([&] { return mcu.canReadLine(); }, 20000));
    }

private slots:
    void brokenMcuFailsExactlyItsSteps()
    {
        PtyBridge bridge;
        QVERIFY(bridge.isValid());
        TestRoot root;
        cacheDefinition(root);
        QProcess mcu;
        startBrokenMcu(mcu, bridge,
                       {QStringLiteral("--product-key"), Key, QStringLiteral("--late"),
                        QStringLiteral("07"), QStringLiteral("--delay"), QStringLiteral("1500"),
                        QStringLiteral("--wrong-sequence"), QStringLiteral("0F"),
                        QStringLiteral("--bad-checksum"), QStringLiteral("11")});

        const QString junit = root.file(QStringLiteral("report.xml"));
        QProcess module;
        module.start(QStringLiteral(LUMO_MODULE_PATH),
                     {QStringLiteral("--port"), bridge.endA(), QStringLiteral("--root"),
                      root.path(), QStringLiteral("--product-key"), Key,
                      QStringLiteral("--reply-limit"), QStringLiteral("1000"),
                      QStringLiteral("--junit"), junit});
        const Finished run = waitFor(module);
        mcu.kill();
        mcu.waitForFinished(5000);

        QCOMPARE(run.exitCode, 1);
        const QStringList failed = run.out.split(QLatin1Char('\n')).filter(QStringLiteral("FAIL"));
        QCOMPARE(failed.size(), 3);
        QVERIFY2(failed.at(0).startsWith(QStringLiteral("FAIL  heartbeat (0x07): 0x08 answered "
                                                        "after ")),
                 qPrintable(failed.at(0)));
        QVERIFY(failed.at(0).endsWith(QStringLiteral("limit 1000 ms")));
        // The double answers with the request's sequence number plus one.
        const QRegularExpressionMatch sequence
            = QRegularExpression(QStringLiteral("^FAIL  MCU restart \\(0x0F\\): sequence number "
                                                "0x([0-9A-F]{2}), expected 0x([0-9A-F]{2})$"))
                  .match(failed.at(1));
        QVERIFY2(sequence.hasMatch(), qPrintable(failed.at(1)));
        QCOMPARE(sequence.captured(1).toInt(nullptr, 16),
                 (sequence.captured(2).toInt(nullptr, 16) + 1) & 0xFF);
        QVERIFY2(failed.at(2).startsWith(QStringLiteral("FAIL  illegal frame notice (0x11): "
                                                        "checksum 0x")),
                 qPrintable(failed.at(2)));
        QVERIFY(run.out.contains(QStringLiteral("3 failed")));
        QVERIFY(run.out.contains(QStringLiteral("PASS  product information (0x01)")));
        QVERIFY(run.out.contains(QStringLiteral("PASS  control 亮度 = 100")));

        QList<Case> cases;
        int failures = -1;
        QVERIFY(readJUnit(junit, &cases, &failures));
        QCOMPARE(failures, 3);
        QStringList failedCases;
        for (const Case &c : cases) {
            if (!c.failure.isEmpty())
                failedCases << c.name;
        }
        QCOMPARE(
            failedCases,
            (QStringList{QStringLiteral("heartbeat (0x07)"), QStringLiteral("MCU restart (0x0F)"),
                         QStringLiteral("illegal frame notice (0x11)")}));
    }

    void robustRunNamesAnUnescapedAnswer_data()
    {
        QTest::addColumn<QString>("corrupt");   // what the MCU does with a damaged frame
        QTest::addColumn<QString>("complaint"); // pattern of the wrong-checksum step's reason
        QTest::newRow("answers and applies it")
            << "answer"
            << "^0x04 answers a frame with a wrong checksum \\(sequence 0x[0-9A-F]{2}\\), which "
               "must be dropped$";
        QTest::newRow("applies it unanswered")
            << "apply"
            << "^a control command with a wrong checksum changed \\S+ from \\S+ to \\S+$";
    }

    void robustRunNamesAnUnescapedAnswer()
    {
        // The MCU answers the Wi-Fi status without its escapes: only the
        // robust step whose answer carries an FF (sequence number FF) shows
        // it. It also acts on a control command whose checksum is wrong,
        // which fails the step that sends one.
        QFETCH(QString, corrupt);
        QFETCH(QString, complaint);
        PtyBridge bridge;
        QVERIFY(bridge.isValid());
        TestRoot root;
        cacheDefinition(root);
        QProcess mcu;
        startBrokenMcu(mcu, bridge,
                       {QStringLiteral("--product-key"), Key, QStringLiteral("--unescaped"),
                        QStringLiteral("0D"), QStringLiteral("--corrupt"), corrupt});
        QProcess module;
        module.start(QStringLiteral(LUMO_MODULE_PATH),
                     {QStringLiteral("--port"), bridge.endA(), QStringLiteral("--root"),
                      root.path(), QStringLiteral("--product-key"), Key, QStringLiteral("--robust"),
                      QStringLiteral("--reply-limit"), QStringLiteral("1000")});
        const Finished run = waitFor(module);
        mcu.kill();
        mcu.waitForFinished(5000);
        QCOMPARE(run.exitCode, 1);
        const QStringList failed = run.out.split(QLatin1Char('\n')).filter(QStringLiteral("FAIL"));
        QCOMPARE(failed.size(), 2);
        QCOMPARE(failed.at(0),
                 QStringLiteral("FAIL  robust: FF in every field (0x0D): not escaped on "
                                "the wire (every FF after offset 2 must be followed by 55)"));
        const QString step = QStringLiteral("FAIL  robust: wrong checksum, then a good frame: ");
        QVERIFY2(
            failed.at(1).startsWith(step)
                && QRegularExpression(complaint).match(failed.at(1).mid(step.size())).hasMatch(),
            qPrintable(failed.at(1)));
        // The other robustness steps passed: split, noise and retransmission.
        QCOMPARE(run.out.count(QStringLiteral("PASS  robust: ")), 3);
    }

    void productKeyAndDefinitionMismatches()
    {
        // The MCU reports another product key than the one expected; its
        // status payload is that of another product's definition.
        PtyBridge bridge;
        QVERIFY(bridge.isValid());
        TestRoot root;
        cacheDefinition(root);
        QProcess mcu;
        startBrokenMcu(mcu, bridge,
                       {QStringLiteral("--product-key"), QString(32, QLatin1Char('a'))});
        // The module's definition has one byte more in its status payload:
        // a read-only value of two bytes where the MCU's has one.
        QFile def(root.file(QStringLiteral("json/%1.json").arg(Key)));
        QVERIFY(def.open(QIODevice::ReadOnly));
        QByteArray json = def.readAll();
        def.close();
        json.replace("\"len\": 1, \"byte_offset\": 13", "\"len\": 2, \"byte_offset\": 13");
        QVERIFY(def.open(QIODevice::WriteOnly | QIODevice::Truncate));
        def.write(json);
        def.close();

        QProcess module;
        module.start(QStringLiteral(LUMO_MODULE_PATH),
                     {QStringLiteral("--port"), bridge.endA(), QStringLiteral("--root"),
                      root.path(), QStringLiteral("--product-key"), Key,
                      QStringLiteral("--reply-limit"), QStringLiteral("1000")});
        const Finished run = waitFor(module);
        mcu.kill();
        mcu.waitForFinished(5000);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.contains(QStringLiteral("FAIL  product information (0x01): product key "
                                                 "\"%1\", expected \"%2\"")
                                      .arg(QString(32, QLatin1Char('a')), Key)),
                 qPrintable(run.out));
        QVERIFY2(run.out.contains(QStringLiteral("FAIL  status read (0x03 action 02): status "
                                                 "payload of 20 value bytes, the definition has "
                                                 "21")),
                 qPrintable(run.out));
    }

    void moduleAgainstLumoMcuPassesEveryStep()
    {
#ifndef LUMO_MCU_PATH
        QSKIP("lumo-mcu is not part of this build");
#else
        PtyBridge bridge;
        QVERIFY(bridge.isValid());
        TestRoot moduleRoot;
        cacheDefinition(moduleRoot);
        TestRoot mcuRoot;
        cacheDefinition(mcuRoot);
        // 32 pieces: more frames than a step keeps.
        QByteArray image(2000, '\0');
        for (char &c : image)
            c = char(QRandomGenerator::global()->bounded(256));
        image[10] = '\xFF'; // at least one byte that is escaped on the wire
        const QString imagePath = moduleRoot.file(QStringLiteral("firmware.bin"));
        QFile imageFile(imagePath);
        QVERIFY(imageFile.open(QIODevice::WriteOnly));
        imageFile.write(image);
        imageFile.close();

        QProcess mcu;
        mcu.start(QStringLiteral(LUMO_MCU_PATH),
                  {QStringLiteral("--port"), bridge.endB(), QStringLiteral("--root"),
                   mcuRoot.path(), QStringLiteral("--product-key"), Key,
                   QStringLiteral("--report-once")});
        QVERIFY(mcu.waitForStarted(10000));
        // The report it sends once the port is open says it is ready.
        QVERIFY(waitUntil([&] { return mcu.canReadLine(); }, 20000));

        const QString junit = moduleRoot.file(QStringLiteral("report.xml"));
        QProcess module;
        // The reply limit is generous: on a loaded test machine the two
        // programs and the bridge share the processors.
        module.start(QStringLiteral(LUMO_MODULE_PATH),
                     {QStringLiteral("--port"), bridge.endA(), QStringLiteral("--root"),
                      moduleRoot.path(), QStringLiteral("--product-key"), Key,
                      QStringLiteral("--firmware"), imagePath, QStringLiteral("--robust"),
                      QStringLiteral("--reply-limit"), QStringLiteral("1500"),
                      QStringLiteral("--junit"), junit});
        const Finished run = waitFor(module);
        mcu.terminate();
        QVERIFY(waitUntil([&] { return mcu.state() == QProcess::NotRunning; }, 10000));

        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QVERIFY(!run.out.contains(QStringLiteral("FAIL")));
        QVERIFY(!run.out.contains(QStringLiteral("SKIP")));
        QVERIFY(run.out.contains(QStringLiteral("0 failed, 0 skipped")));

        QList<Case> cases;
        int failures = -1;
        QVERIFY(readJUnit(junit, &cases, &failures));
        QCOMPARE(failures, 0);
        // 3 plain steps, 19 control steps for the sample's 7 writable data
        // points, 12 Wi-Fi steps, 5 other requests, the firmware transfer and
        // 5 robustness steps.
        QCOMPARE(cases.size(), 3 + 19 + 12 + 5 + 1 + 5);
        // The transfer's frames are capped, the cut said.
        QString transfer;
        for (const Case &c : qAsConst(cases))
            transfer
                += c.name.startsWith(QStringLiteral("firmware transfer (")) ? c.out : QString();
        QCOMPARE(transfer.count(QLatin1Char('\n')) + 1, 20 + 1 + 20);
        QVERIFY2(
            transfer.contains(QRegularExpression(QStringLiteral("\n… \\d+ frames left out …\n"))),
            qPrintable(transfer));
        QFile received(mcuRoot.file(QStringLiteral("bin/mcu.bin")));
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), image);
        // The transfer ended: the image is marked complete.
        QVERIFY(!QFile::exists(mcuRoot.file(QStringLiteral("bin/mcu.incomplete"))));
#endif
    }
};

QTEST_GUILESS_MAIN(TestConformance)
#include "tst_conformance.moc"
