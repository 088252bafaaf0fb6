// SPDX-License-Identifier: GPL-3.0-or-later
// The frame list over the analyzer: the texts of each column, the filters,
// following a live analyzer that drops its oldest rows, copying and CSV.
#include "testsupport.h"

#include "analyzer/framelistmodel.h"
#include "analyzer/framestatistics.h"
#include "protocol/zemtool.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr LineDirection Mcu = LineDirection::McuToModule;
constexpr LineDirection Module = LineDirection::ModuleToMcu;
constexpr qint64 Ms = 1000;
// 2023-11-14 22:13:20 UTC, plus 123456 us.
constexpr qint64 T0 = 1'700'000'000'123'456;

QString lookup(const QString &key)
{
    return QStringLiteral("说明") + key.mid(4); // "cmd/0302" -> "说明0302"
}

// A short conversation with one row of each sort:
//   0 module asks status (03, action 02), seq 10
//   1 boot text "boot, \"v2\"\r\n"
//   2 MCU answers (04), 30 ms later
//   3 module heartbeat 07 seq 11, never answered
//   4 MCU report 05 with a wrong checksum
//   5 a v3 frame
//   6 a cut frame
//   7 an answer to nothing (08 seq 99)
void fillConversation(FrameAnalyzer &analyzer)
{
    QByteArray bad = wireFrame(0x05, 0x12, hex("04 00 FF"));
    bad[bad.size() - 1] = char(0x01);
    analyzer.add(segment(Module, T0, wireFrame(0x03, 0x10, hex("02"))));
    analyzer.add(segment(Module, T0 + 10 * Ms, "boot, \"v2\"\r\n", SegmentKind::Other));
    analyzer.add(segment(Mcu, T0 + 30 * Ms, wireFrame(0x04, 0x10, hex("03 01 02"))));
    analyzer.add(segment(Module, T0 + 40 * Ms, wireFrame(0x07, 0x11)));
    analyzer.add(segment(Mcu, T0 + 50 * Ms, bad));
    analyzer.add(segment(Mcu, T0 + 60 * Ms, hex("00 00 00 03 00 02 03 0b"), SegmentKind::Frame3));
    analyzer.add(segment(Mcu, T0 + 70 * Ms, hex("FF FF 00 08 05 13 00")));
    analyzer.add(segment(Mcu, T0 + 80 * Ms, wireFrame(0x08, 99)));
    analyzer.expire(T0 + 1000 * Ms, nullptr);
}

QVector<qint64> shownIds(const FrameListModel &model)
{
    QVector<qint64> ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids.append(model.rowId(row));
    return ids;
}

} // namespace

class TestFrameListModel : public QObject
{
    Q_OBJECT
private slots:
    void cellTexts_data();
    void cellTexts();
    void statisticsAddUp();
    void filters_data();
    void filters();
    void followsALiveAnalyzer();
    void followsDroppedRowsUnderAFilter();
    void expiredRequestJoinsProblemsOnly();
    void copiesAndExports();
    void refusesAnUnwritableCsvPath();
};

void TestFrameListModel::cellTexts_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");

    using M = FrameListModel;
    QTest::newRow("number is the id") << 2 << int(M::NumberColumn) << "2";
    QTest::newRow("time, microseconds") << 0 << int(M::TimeColumn) << "22:13:20.123456";
    QTest::newRow("first row has no interval") << 0 << int(M::RelativeColumn) << "";
    QTest::newRow("interval") << 2 << int(M::RelativeColumn) << "+0.020000";
    QTest::newRow("module direction") << 0 << int(M::DirectionColumn) << "模组→MCU";
    QTest::newRow("MCU direction") << 2 << int(M::DirectionColumn) << "MCU→模组";
    QTest::newRow("command with its variant's text")
        << 0 << int(M::CommandColumn) << "0x03 说明0302";
    QTest::newRow("status answer") << 2 << int(M::CommandColumn) << "0x04 说明0403";
    QTest::newRow("text row shows its ASCII") << 1 << int(M::CommandColumn) << "boot, \"v2\"\\r\\n";
    QTest::newRow("v3 row") << 5 << int(M::CommandColumn) << "V3帧";
    QTest::newRow("sequence") << 0 << int(M::SequenceColumn) << "10";
    QTest::newRow("no sequence on text") << 1 << int(M::SequenceColumn) << "";
    QTest::newRow("length") << 2 << int(M::LengthColumn) << "8";
    QTest::newRow("length of a cut frame") << 6 << int(M::LengthColumn) << "8≠3";
    QTest::newRow("checksum right") << 0 << int(M::ChecksumColumn) << "正确";
    QTest::newRow("checksum wrong") << 4 << int(M::ChecksumColumn) << "错误";
    QTest::newRow("checksum of a cut frame") << 6 << int(M::ChecksumColumn) << "不完整";
    QTest::newRow("request shows its answer") << 0 << int(M::PairColumn) << "应答 #2 30.000 ms";
    QTest::newRow("answer shows its request") << 2 << int(M::PairColumn) << "请求 #0 30.000 ms";
    QTest::newRow("unanswered request") << 3 << int(M::PairColumn) << "无应答";
    QTest::newRow("no problem") << 0 << int(M::ProblemColumn) << "";
    QTest::newRow("noise") << 1 << int(M::ProblemColumn) << "帧外字节";
    QTest::newRow("wrong checksum, unanswered")
        << 4 << int(M::ProblemColumn) << "校验和错误、无应答";
    QTest::newRow("answer to nothing") << 7 << int(M::ProblemColumn) << "无请求的应答";
}

void TestFrameListModel::cellTexts()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, text);

    FrameAnalyzer analyzer;
    fillConversation(analyzer);
    FrameListModel model;
    model.setUtc(true);
    model.setDescriptionLookup(lookup);
    model.appendFrom(analyzer);
    QCOMPARE(model.rowCount(), 8);
    QCOMPARE(model.columnCount(), int(FrameListModel::ColumnCount));
    QCOMPARE(model.data(model.index(row, column)).toString(), text);
    QCOMPARE(model.data(model.index(row, 0), FrameListModel::IdRole).toLongLong(), qint64(row));
}

void TestFrameListModel::filters_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("problemsOnly");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVector<qint64>>("ids");

    QTest::newRow("everything") << -1 << -1 << false << ""
                                << QVector<qint64>{0, 1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("module only") << int(Module) << -1 << false << "" << QVector<qint64>{0, 1, 3};
    QTest::newRow("MCU only") << int(Mcu) << -1 << false << "" << QVector<qint64>{2, 4, 5, 6, 7};
    QTest::newRow("command 05") << -1 << 5 << false << "" << QVector<qint64>{4, 6};
    QTest::newRow("problems only") << -1 << -1 << true << "" << QVector<qint64>{1, 3, 4, 6, 7};
    QTest::newRow("MCU problems of 05") << int(Mcu) << 5 << true << "" << QVector<qint64>{4, 6};
    QTest::newRow("hex bytes, escaped on the wire")
        << -1 << -1 << false << "00 FF 55" << QVector<qint64>{4};
    QTest::newRow("hex bytes, unescaped") << -1 << -1 << false << "04 00 ff" << QVector<qint64>{4};
    QTest::newRow("hex of a v3 frame") << -1 << -1 << false << "030b" << QVector<qint64>{5};
    QTest::newRow("v3 by its name") << -1 << -1 << false << "v3" << QVector<qint64>{5};
    QTest::newRow("description") << -1 << -1 << false << "说明0302" << QVector<qint64>{0};
    QTest::newRow("description, any case") << -1 << -1 << false << "0X07" << QVector<qint64>{3};
    QTest::newRow("boot text") << -1 << -1 << false << "BOOT" << QVector<qint64>{1};
    QTest::newRow("nothing") << -1 << -1 << false << "no such text" << QVector<qint64>{};
}

void TestFrameListModel::filters()
{
    QFETCH(int, direction);
    QFETCH(int, command);
    QFETCH(bool, problemsOnly);
    QFETCH(QString, text);
    QFETCH(QVector<qint64>, ids);

    FrameAnalyzer analyzer;
    fillConversation(analyzer);
    FrameListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setDescriptionLookup(lookup);
    model.appendFrom(analyzer);

    FrameListModel::Filter filter;
    filter.direction = direction;
    filter.command = command;
    filter.problemsOnly = problemsOnly;
    filter.text = text;
    model.setFilter(filter);
    QCOMPARE(shownIds(model), ids);
    for (int row = 0; row < ids.size(); ++row)
        QCOMPARE(model.rowOfId(ids[row]), row);

    // Rows added later pass through the same filter.
    FrameAnalyzer more;
    fillConversation(more);
    for (qint64 id = 0; id < 8; ++id)
        analyzer.add(segment(more.record(id).direction, T0 + 5000 * Ms + id, more.wire(id),
                             more.record(id).kind));
    analyzer.expire(T0 + 9000 * Ms, nullptr);
    model.appendFrom(analyzer);
    model.refreshIds({11}); // the second heartbeat ran out of time after it was appended
    QVector<qint64> twice = ids;
    for (const qint64 id : ids)
        twice.append(id + 8);
    QCOMPARE(shownIds(model), twice);

    model.setFilter(FrameListModel::Filter());
    QCOMPARE(model.rowCount(), 16);
}

void TestFrameListModel::followsALiveAnalyzer()
{
    const int block = FrameAnalyzer::BlockRows;
    FrameAnalyzer analyzer;
    analyzer.setMaxRows(block);
    FrameListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.appendFrom(analyzer); // binds the model to the analyzer
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

    qint64 time = T0;
    int batches = 0;
    for (int round = 0; round < 6; ++round) {
        for (int i = 0; i < 1250; ++i) {
            const int seq = i & 0xFF;
            analyzer.add(segment(Module, time++, wireFrame(0x07, seq)));
            analyzer.add(segment(Mcu, time++, wireFrame(0x08, seq)));
        }
        model.appendFrom(analyzer);
        ++batches;
        QCOMPARE(qint64(model.rowCount()), analyzer.endId() - analyzer.firstId());
        QCOMPARE(model.rowId(0), analyzer.firstId());
        QCOMPARE(model.rowId(model.rowCount() - 1), analyzer.endId() - 1);
    }
    QCOMPARE(inserted.count(), batches); // one insertion per batch
    QVERIFY(removed.count() >= 1);
    QVERIFY(analyzer.firstId() > 0);
    // The rows still show their texts after the drops.
    const int last = model.rowCount() - 1;
    QCOMPARE(model.data(model.index(last, FrameListModel::DirectionColumn)).toString(),
             QStringLiteral("MCU→模组"));
    QVERIFY(model.data(model.index(last, FrameListModel::PairColumn))
                .toString()
                .startsWith(QStringLiteral("请求 #%1 ").arg(model.rowId(last) - 1)));
}

void TestFrameListModel::followsDroppedRowsUnderAFilter()
{
    const int block = FrameAnalyzer::BlockRows;
    FrameAnalyzer analyzer;
    analyzer.setMaxRows(block);
    FrameListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    FrameListModel::Filter onlyText;
    onlyText.text = QStringLiteral("line");
    model.appendFrom(analyzer);
    model.setFilter(onlyText);

    qint64 time = T0;
    for (int round = 0; round < 12; ++round) {
        for (int i = 0; i < 1000; ++i) {
            if (i % 10 == 0)
                analyzer.add(segment(Module, time++, "line\n", SegmentKind::Other));
            else
                analyzer.add(segment(Mcu, time++, wireFrame(0x05, i & 0xFF, hex("04 00"))));
        }
        model.appendFrom(analyzer);
        for (int row = 0; row < model.rowCount(); ++row) {
            const qint64 id = model.rowId(row);
            QVERIFY(analyzer.contains(id));
            QCOMPARE(analyzer.record(id).kind, SegmentKind::Other);
        }
        // Every text row the analyzer still holds is shown.
        qint64 held = 0;
        for (qint64 id = analyzer.firstId(); id < analyzer.endId(); ++id)
            held += analyzer.record(id).kind == SegmentKind::Other;
        QCOMPARE(qint64(model.rowCount()), held);
    }
}

void TestFrameListModel::expiredRequestJoinsProblemsOnly()
{
    FrameAnalyzer analyzer;
    FrameListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.appendFrom(analyzer);
    FrameListModel::Filter problems;
    problems.problemsOnly = true;
    model.setFilter(problems);

    analyzer.add(segment(Module, T0, wireFrame(0x07, 1)));
    analyzer.add(segment(Module, T0 + 1, "x", SegmentKind::Other));
    analyzer.add(segment(Module, T0 + 2, wireFrame(0x07, 2)));
    model.appendFrom(analyzer);
    QCOMPARE(shownIds(model), QVector<qint64>{1});

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QVector<qint64> expired;
    analyzer.expire(T0 + 500 * Ms, &expired);
    QCOMPARE(expired, (QVector<qint64>{0, 2}));
    model.refreshIds(expired);
    QCOMPARE(shownIds(model), (QVector<qint64>{0, 1, 2}));
    QCOMPARE(model.data(model.index(0, FrameListModel::ProblemColumn)).toString(),
             QStringLiteral("无应答"));

    // The answer to the first began in time after all: it leaves the list.
    const qint64 late = analyzer.add(segment(Mcu, T0 + 100 * Ms, wireFrame(0x08, 1)));
    model.appendFrom(analyzer);
    model.refreshIds({0});
    QCOMPARE(shownIds(model), (QVector<qint64>{1, 2}));
    QVERIFY(model.rowOfId(late) < 0);

    // Unfiltered, the rows are redrawn as one range.
    model.setFilter(FrameListModel::Filter());
    changed.clear();
    model.refreshIds({0, 1, 2});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 0);
    QCOMPARE(changed.at(0).at(1).toModelIndex().row(), 2);
}

void TestFrameListModel::copiesAndExports()
{
    FrameAnalyzer analyzer;
    fillConversation(analyzer);
    FrameListModel model;
    model.setUtc(true);
    model.setDescriptionLookup(lookup);
    model.appendFrom(analyzer);

    QCOMPARE(model.rowsHex({0, 5}),
             ZemTool::hexText(wireFrame(0x03, 0x10, hex("02"))).trimmed()
                 + QStringLiteral("\n00 00 00 03 00 02 03 0B"));
    const QStringList line = model.rowText(3).split(QLatin1Char('\t'));
    QCOMPARE(line.size(), int(FrameListModel::ColumnCount));
    QCOMPARE(line.at(FrameListModel::TimeColumn), QStringLiteral("22:13:20.163456"));
    QCOMPARE(line.at(FrameListModel::CommandColumn), QStringLiteral("0x07 说明07"));
    QCOMPARE(model.rowsText({3, 4}).split(QLatin1Char('\n')).size(), 2);

    FrameListModel::Filter mcu;
    mcu.direction = int(Mcu);
    model.setFilter(mcu);
    const QStringList csv = model.toCsv().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(csv.size(), 1 + 5);
    QVERIFY(csv.at(0).startsWith(QStringLiteral("编号,时间,")));
    QVERIFY(csv.at(0).endsWith(QStringLiteral(",字节")));
    QVERIFY(csv.at(1).startsWith(QStringLiteral("2,22:13:20.153456,,MCU→模组,")));
    QVERIFY(csv.at(1).endsWith(ZemTool::hexText(analyzer.wire(2)).trimmed()));

    // A text row with a comma and quotes is one quoted field.
    model.setFilter(FrameListModel::Filter());
    const QString text = model.toCsv().split(QLatin1Char('\n')).at(2);
    QVERIFY2(text.contains(QStringLiteral(",\"boot, \"\"v2\"\"\\r\\n\",")), qPrintable(text));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frames.csv"));
    QString error;
    QVERIFY(model.writeCsv(path, &error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QVERIFY(written.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(QString::fromUtf8(written.mid(3)), model.toCsv());
}

void TestFrameListModel::refusesAnUnwritableCsvPath()
{
    FrameAnalyzer analyzer;
    fillConversation(analyzer);
    FrameListModel model;
    model.appendFrom(analyzer);
    QTemporaryDir dir;
    QString error;
    QVERIFY(!model.writeCsv(dir.filePath(QStringLiteral("missing/folder/frames.csv")), &error));
    QVERIFY(error.contains(QStringLiteral("missing/folder")));
}

// 100 heartbeats answered after 1 .. 100 ms, one never answered.
void TestFrameListModel::statisticsAddUp()
{
    FrameAnalyzer analyzer;
    for (int i = 1; i <= 100; ++i) {
        const qint64 at = T0 + i * 200 * Ms;
        analyzer.add(segment(Module, at, wireFrame(0x07, i)));
        analyzer.add(segment(Mcu, at + i * Ms, wireFrame(0x08, i)));
    }
    analyzer.add(segment(Module, T0 + 30000 * Ms, wireFrame(0x07, 0xEE)));
    analyzer.expire(T0 + 40000 * Ms, nullptr);

    const FrameStatistics s = FrameStatistics::of(analyzer);
    QCOMPARE(s.commands.size(), 2);
    const QString text = s.toText();
    QVERIFY2(text.contains(QStringLiteral("模组→MCU\t0x07\t101\t100\t1.000\t50.500\t50.000\t"
                                          "99.000\t100.000\n")),
             qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("MCU→模组\t0x08\t100\t-\t")));
    QVERIFY(text.contains(QStringLiteral("无应答\t1\n")));
    // One-second slots from the first row on: five heartbeats and their
    // answers in each.
    QCOMPARE(s.slotUs, qint64(1000000));
    QCOMPARE(s.rates.size(), 30);
    QCOMPARE(s.rates.at(1).framesPerSecond, 10.0);
    QCOMPARE(s.rates.at(1).bytesPerSecond, 90.0);
    QVERIFY(text.contains(QStringLiteral("\n1\t90.0\t10.0\n")));
}

QTEST_GUILESS_MAIN(TestFrameListModel)
#include "tst_framelistmodel.moc"
