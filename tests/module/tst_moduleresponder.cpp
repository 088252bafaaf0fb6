// SPDX-License-Identifier: GPL-3.0-or-later
// The module's side in pure functions: its answers to the MCU's own frames,
// the requests it builds, the checks it makes on each answer and the report.
#include "testsupport.h"

#include "datapoint/datapointcodec.h"
#include "datapoint/datapointvalues.h"
#include "module/conformancereport.h"
#include "module/modulerequests.h"
#include "module/moduleresponder.h"
#include "module/replycheck.h"
#include "protocol/frameformat.h"
#include "protocol/zemtool.h"
#include "serial/linesettings.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QXmlStreamReader>

namespace {

DataPointDefinition sampleDefinition()
{
    QFile file(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"));
    if (!file.open(QIODevice::ReadOnly))
        return DataPointDefinition();
    return DataPointDefinition::fromJson(QJsonDocument::fromJson(file.readAll()).object());
}

bool validFrame(const QByteArray &f)
{
    return f.size() >= Frame::MinFrameSize && Frame::lengthField(f) == f.size() - 4
        && ZemTool::frameChecksum(f) == quint8(f.at(f.size() - 1));
}

} // namespace

class TestModuleResponder : public QObject
{
    Q_OBJECT

private slots:
    void answersTheMcusOwnFrames_data()
    {
        QTest::addColumn<int>("request");
        QTest::addColumn<int>("reply"); // -1: none
        QTest::newRow("status report") << 0x05 << 0x06;
        QTest::newRow("configuration") << 0x09 << 0x0A;
        QTest::newRow("module reset") << 0x0B << 0x0C;
        QTest::newRow("production test") << 0x13 << 0x14;
        QTest::newRow("binding mode") << 0x15 << 0x16;
        QTest::newRow("firmware ready") << 0x1B << 0x1C;
        QTest::newRow("answer to the module's heartbeat") << 0x08 << -1;
        QTest::newRow("status answer") << 0x04 << -1;
        QTest::newRow("a module request") << 0x07 << -1;
        QTest::newRow("unknown code") << 0x42 << -1;
    }
    void answersTheMcusOwnFrames()
    {
        QFETCH(int, request);
        QFETCH(int, reply);
        // Sequence number FF: the reply carries it and escapes it on the wire.
        const QByteArray frame = makeFrame(request, 0xFF, QByteArray(1, '\x04'));
        const QByteArray answer = ModuleResponder::reply(frame);
        if (reply < 0) {
            QVERIFY(answer.isEmpty());
            return;
        }
        QVERIFY(validFrame(answer));
        QCOMPARE(Frame::commandCode(answer), reply);
        QCOMPARE(Frame::sequence(answer), 0xFF);
        QCOMPARE(Frame::lengthField(answer), Frame::MinLength);
    }

    void networkTimeCarriesTheTime()
    {
        const QDateTime when(QDate(2018, 12, 31), QTime(23, 59, 58));
        const QByteArray answer = ModuleResponder::reply(makeFrame(0x17, 0x2A), when);
        QVERIFY(validFrame(answer));
        QCOMPARE(Frame::commandCode(answer), 0x18);
        QCOMPARE(Frame::sequence(answer), 0x2A);
        QCOMPARE(Frame::payload(answer), hex("07 E2 0C 1F 17 3B 3A"));
    }

    void shortFramesGetNoAnswer()
    {
        QVERIFY(ModuleResponder::reply(hex("FF FF 00 05 05")).isEmpty());
        QVERIFY(ModuleResponder::reply(QByteArray()).isEmpty());
    }

    void controlFramesSetExactlyTheirValue()
    {
        // Every value the run tries, decoded by the MCU side's own decoder,
        // sets exactly that data point to exactly that value; and the status
        // report built from values holding it reads back the same.
        const DataPointDefinition def = sampleDefinition();
        QCOMPARE(def.writableCount(), 7);
        int tried = 0;
        for (int record = 0; record < def.records().size(); ++record) {
            for (const ModuleRequests::ControlValue &v : ModuleRequests::testValues(def, record)) {
                ++tried;
                const QByteArray control = ModuleRequests::controlFrame(def, 0x10, v);
                QVERIFY(validFrame(control));
                QVERIFY(Frame::isControlCommand(control));
                const QMap<QString, QString> set = DataPointCodec::decodeControl(def, control);
                const QString name = def.records().at(record).display_name;
                QCOMPARE(set.keys(), QStringList{name});

                DataPointValues values(def);
                values.applyControl(control);
                const QMap<QString, QString> reported
                    = ModuleRequests::statusValues(def, values.statusReport());
                QCOMPARE(reported.value(name), set.value(name));
            }
        }
        QCOMPARE(tried, 19);
    }

    void testValuesCoverTheRange()
    {
        const DataPointDefinition def = sampleDefinition();
        const int brightness = def.indexOf(QStringLiteral("亮度"));
        QList<quint32> numbers;
        for (const auto &v : ModuleRequests::testValues(def, brightness))
            numbers << v.number;
        QCOMPARE(numbers, (QList<quint32>{0, 100, 50}));
        const int colour = def.indexOf(QStringLiteral("色温"));
        numbers.clear();
        for (const auto &v : ModuleRequests::testValues(def, colour))
            numbers << v.number;
        QCOMPARE(numbers, (QList<quint32>{2700, 6500, 4600}));
        // Read-only data points cannot be controlled.
        QVERIFY(ModuleRequests::testValues(def, def.indexOf(QStringLiteral("温度"))).isEmpty());
    }

    void firmwareReadyIsRead()
    {
        ModuleRequests::FirmwareReady ready;
        QVERIFY(ModuleRequests::readFirmwareReady(makeFrame(0x1B, 1, hex("00 02 AB CD 00 40")),
                                                  &ready));
        QCOMPARE(ready.field, hex("AB CD"));
        QCOMPARE(ready.pieceSize, 64);
        // A count larger than the frame holds.
        QVERIFY(!ModuleRequests::readFirmwareReady(makeFrame(0x1B, 1, hex("00 09 AB CD 00 40")),
                                                   &ready));
    }

    void frameChecksFindEachFault_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QString>("problem"); // empty: none
        const QByteArray good = makeFrame(0x08, 0x07, hex("FF"));
        QTest::newRow("good") << good << ZemTool::escape(good) << QString();
        QByteArray seq = makeFrame(0x08, 0x08, hex("FF"));
        QTest::newRow("sequence") << seq << ZemTool::escape(seq)
                                  << QStringLiteral("sequence number 0x08, expected 0x07");
        QByteArray code = makeFrame(0x0A, 0x07);
        QTest::newRow("code") << code << ZemTool::escape(code)
                              << QStringLiteral("reply code 0x0A, expected 0x08");
        QByteArray sum = good;
        sum[sum.size() - 1] = char(sum.at(sum.size() - 1) + 1);
        QTest::newRow("checksum") << sum << ZemTool::escape(sum) << QStringLiteral("checksum 0x");
        QTest::newRow("not escaped") << good << good << QStringLiteral("not escaped on the wire");
        QByteArray length = good;
        length[3] = char(0x09);
        ZemTool::setFrameChecksum(length);
        QTest::newRow("length") << length << ZemTool::escape(length)
                                << QStringLiteral(
                                       "length field 9 does not count the 10-byte frame");
    }
    void frameChecksFindEachFault()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, wire);
        QFETCH(QString, problem);
        const QStringList problems
            = ReplyCheck::frame(frame, QByteArray("\x12") + wire, 0x08, 0x07);
        if (problem.isEmpty()) {
            QCOMPARE(problems, QStringList());
            return;
        }
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems.first().startsWith(problem), qPrintable(problems.first()));
    }

    void productInformationIsChecked()
    {
        const QByteArray key("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");
        QByteArray payload("00000004000000040000000100000001");
        payload.append(key).append(2, '\0');
        const QByteArray good = makeFrame(0x02, 1, payload);
        QCOMPARE(ReplyCheck::productInfo(good, QString::fromLatin1(key)), QStringList());
        QCOMPARE(ReplyCheck::productInfo(good, QString()), QStringList());
        QCOMPARE(ReplyCheck::productInfo(good, QString(32, QLatin1Char('b'))).size(), 1);

        QByteArray badVersion = payload;
        badVersion[Frame::SoftVersionOffset - Frame::PayloadOffset + 3] = '\x01';
        const QStringList problems
            = ReplyCheck::productInfo(makeFrame(0x02, 1, badVersion), QString());
        QCOMPARE(problems.size(), 1);
        QVERIFY(problems.first().startsWith(QStringLiteral("software version is not 8 ASCII")));

        QVERIFY(
            !ReplyCheck::productInfo(makeFrame(0x02, 1, payload.left(40)), QString()).isEmpty());
    }

    void statusAnswerSizeFollowsTheDefinition()
    {
        const DataPointDefinition def = sampleDefinition();
        QByteArray answer = DataPointValues(def).statusReport();
        answer[Frame::CommandOffset] = char(0x04);
        answer[Frame::ActionOffset] = char(0x03);
        ZemTool::setFrameChecksum(answer);
        QCOMPARE(ReplyCheck::statusAnswer(answer, def), QStringList());
        QByteArray longer = answer;
        longer.insert(10, '\0');
        QCOMPARE(
            ReplyCheck::statusAnswer(longer, def),
            QStringList{QStringLiteral("status payload of 21 value bytes, the definition has 20")});
        QCOMPARE(ReplyCheck::statusAnswer(makeFrame(0x04, 1), def).size(), 1);
    }

    void reportWritesJUnit()
    {
        ConformanceReport report;
        report.setStarted(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        StepResult ok;
        ok.name = QStringLiteral("heartbeat (0x07)");
        ok.durationMs = 12;
        ok.frames << QStringLiteral("> FF FF 00 05 07 01 00 00 0D");
        StepResult bad;
        bad.name = QStringLiteral("control 亮度 = 100 <&>");
        bad.outcome = StepResult::Outcome::Failed;
        bad.reason = QStringLiteral("checksum 0x12, expected 0x13");
        StepResult skipped;
        skipped.name = QStringLiteral("firmware transfer");
        skipped.outcome = StepResult::Outcome::Skipped;
        skipped.reason = QStringLiteral("no firmware file named");
        report.add(ok);
        report.add(bad);
        report.add(skipped);
        QVERIFY(!report.allPassed());
        QCOMPARE(report.summary(),
                 QStringLiteral("3 steps: 1 passed, 1 failed, 1 skipped (0.0 s)"));
        QCOMPARE(ConformanceReport::line(bad),
                 QStringLiteral("FAIL  control 亮度 = 100 <&>: checksum 0x12, expected 0x13"));

        QXmlStreamReader xml(report.junitXml(QStringLiteral("lumo-module")));
        QStringList seen;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const auto a = xml.attributes();
            if (xml.name() == QLatin1String("testsuite")) {
                QCOMPARE(a.value(QLatin1String("tests")).toInt(), 3);
                QCOMPARE(a.value(QLatin1String("failures")).toInt(), 1);
                QCOMPARE(a.value(QLatin1String("skipped")).toInt(), 1);
                QCOMPARE(a.value(QLatin1String("timestamp")).toString(),
                         QStringLiteral("2026-01-02T03:04:05"));
            } else if (xml.name() == QLatin1String("testcase")) {
                seen << a.value(QLatin1String("name")).toString();
            } else if (xml.name() == QLatin1String("failure")) {
                QCOMPARE(a.value(QLatin1String("message")).toString(), bad.reason);
                seen << QStringLiteral("failure");
            } else if (xml.name() == QLatin1String("skipped")) {
                seen << QStringLiteral("skipped");
            } else if (xml.name() == QLatin1String("system-out")) {
                QCOMPARE(xml.readElementText(), ok.frames.first());
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(seen,
                 (QStringList{ok.name, bad.name, QStringLiteral("failure"), skipped.name,
                              QStringLiteral("skipped")}));

        QString error;
        QVERIFY(!report.writeJUnit(QStringLiteral("/nonexistent-dir/report.xml"),
                                   QStringLiteral("x"), &error));
        QVERIFY(!error.isEmpty());
    }

    void lineSettingsAreParsed_data()
    {
        QTest::addColumn<QStringList>("texts");   // baud, data bits, stop bits, parity
        QTest::addColumn<QList<int>>("expected"); // empty: refused
        QTest::newRow("defaults") << QStringList{"9600", "8", "1", "none"}
                                  << QList<int>{9600, 3, 0, 0};
        QTest::newRow("7E1.5") << QStringList{"115200", "7", "1.5", "EVEN"}
                               << QList<int>{115200, 2, 1, 2};
        QTest::newRow("bad baud") << QStringList{"fast", "8", "1", "none"} << QList<int>();
        QTest::newRow("bad bits") << QStringList{"9600", "9", "1", "none"} << QList<int>();
        QTest::newRow("bad stop") << QStringList{"9600", "8", "3", "none"} << QList<int>();
        QTest::newRow("bad parity") << QStringList{"9600", "8", "1", "mark"} << QList<int>();
    }
    void lineSettingsAreParsed()
    {
        QFETCH(QStringList, texts);
        QFETCH(QList<int>, expected);
        LineSettings::Settings s;
        QString problem;
        const bool ok
            = LineSettings::parse(texts.at(0), texts.at(1), texts.at(2), texts.at(3), &s, &problem);
        QCOMPARE(ok, !expected.isEmpty());
        if (!ok) {
            QVERIFY(!problem.isEmpty());
            return;
        }
        QCOMPARE((QList<int>{s.baudRate, LineSettings::dataBitsIndex(s.dataBits),
                             LineSettings::stopBitsIndex(s.stopBits),
                             LineSettings::parityIndex(s.parity)}),
                 expected);
    }
};

QTEST_GUILESS_MAIN(TestModuleResponder)
#include "tst_moduleresponder.moc"
