// SPDX-License-Identifier: GPL-3.0-or-later
// The values over time a line's frames carried, read with the lamp's
// definition from conversations built frame by frame.
#include "testsupport.h"

#include "analyzer/datapointhistory.h"
#include "analyzer/frameanalyzer.h"
#include "datapoint/datapointvalues.h"
#include "module/modulerequests.h"
#include "protocol/zemtool.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

DataPointDefinition lamp()
{
    QFile f(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"));
    if (!f.open(QIODevice::ReadOnly))
        return DataPointDefinition();
    return DataPointDefinition::fromJson(QJsonDocument::fromJson(f.readAll()).object());
}

// The payload of a frame (from the action byte to before the checksum).
QByteArray payloadOf(const QByteArray &frame)
{
    return frame.mid(8, frame.size() - 9);
}

} // namespace

class TestDataPointHistory : public QObject
{
    Q_OBJECT

private slots:
    void conversation()
    {
        const DataPointDefinition def = lamp();
        QVERIFY(!def.isEmpty());
        const int brightness = def.indexOf(QStringLiteral("亮度"));
        const int mode = def.indexOf(QStringLiteral("模式"));
        const int scene = def.indexOf(QStringLiteral("场景数据"));

        DataPointValues device(def);
        device.setNumber(brightness, 50);
        device.setNumber(mode, 1); // 护眼
        device.setHexText(scene, QStringLiteral("01020304"));
        const QByteArray first = device.statusReport();
        device.setNumber(brightness, 100);
        const QByteArray second = device.statusReport();
        device.setHexText(scene, QStringLiteral("0102ff04"));
        const QByteArray third = device.statusReport();
        QByteArray badSum = third;
        badSum[badSum.size() - 1] = char(badSum.at(badSum.size() - 1) ^ 1);
        // A report that ends after the brightness: the values beyond it are
        // not in the frame.
        const QByteArray cutShort = makeFrame(0x05, 0, payloadOf(third).left(3));

        const qint64 t0 = 1765238400000000;
        FrameAnalyzer analyzer;
        const auto add = [&](LineDirection d, qint64 ms, const QByteArray &frame) {
            analyzer.add(segment(d, t0 + ms * 1000, ZemTool::escape(frame)));
        };
        add(LineDirection::McuToModule, 0, first);
        add(LineDirection::ModuleToMcu, 100, makeFrame(0x07, 1)); // no values
        add(LineDirection::ModuleToMcu, 200,
            ModuleRequests::controlFrame(def, 2, {brightness, 100, {}}));
        add(LineDirection::McuToModule, 500, second);
        add(LineDirection::McuToModule, 600, badSum);
        add(LineDirection::McuToModule, 700, third);
        add(LineDirection::McuToModule, 800, cutShort);

        DataPointHistory history(def);
        QCOMPARE(history.addRows(analyzer, analyzer.firstId(), analyzer.endId()), 5);
        QCOMPARE(history.frameCount(), 5);
        QCOMPARE(history.endId(), analyzer.endId());

        // Values by name: a control then the report that confirms it.
        const DataPointSeries &b = history.series(history.indexOf(QStringLiteral("亮度")));
        QCOMPARE(b.style, DataPointStyle::Line);
        QCOMPARE(b.values(), (std::vector<double>{50, 100, 100, 100, 100}));
        QCOMPARE(b.source(1), DataPointSource::Control);
        QCOMPARE(b.direction(1), LineDirection::ModuleToMcu);
        QCOMPARE(b.frameId(1), qint64(2));
        QCOMPARE(b.valueAt(t0 + 300000), 1);
        QCOMPARE(b.valueAt(t0 - 1), -1);

        // Enum labels, and the cut-short report gives only what it holds.
        const DataPointSeries &m = history.series(history.indexOf(QStringLiteral("模式")));
        QCOMPARE(m.style, DataPointStyle::Step);
        QCOMPARE(m.text(0), QStringLiteral("护眼"));
        QCOMPARE(m.size(), 4);
        const DataPointSeries &t = history.series(history.indexOf(QStringLiteral("温度")));
        QCOMPARE(t.size(), 3);

        // Binary changes: the hex, and the mark rising once per change.
        const DataPointSeries &s = history.series(history.indexOf(QStringLiteral("场景数据")));
        QCOMPARE(s.style, DataPointStyle::Marks);
        QCOMPARE(s.size(), 3);
        QCOMPARE(s.text(2), QStringLiteral("0102ff04"));
        QCOMPARE(s.values(), (std::vector<double>{0, 0, 1}));

        // The change table: every point's first value, then 亮度 50 → 100
        // by the control, and the scene; a value reported again is none.
        int brightnessChanges = 0;
        for (int i = 0; i < history.changeCount(); ++i) {
            const DataPointChange &c = history.change(i);
            if (history.series(c.point).name != QStringLiteral("亮度"))
                continue;
            ++brightnessChanges;
            if (c.previous >= 0) {
                QCOMPARE(b.text(c.previous), QStringLiteral("50"));
                QCOMPARE(b.text(c.sample), QStringLiteral("100"));
                QCOMPARE(b.frameId(c.sample), qint64(2));
            }
        }
        QCOMPARE(brightnessChanges, 2);
        const DataPointChange &last = history.change(history.changeCount() - 1);
        QCOMPARE(history.series(last.point).name, QStringLiteral("场景数据"));
        QCOMPARE(history.changeAt(t0 + 650000), history.changeCount() - 1);

        // The CSV holds exactly the series' samples, one line per frame.
        const QStringList lines = history.toCsv().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), history.frameCount() + 1);
        const QStringList header = lines.at(0).split(QLatin1Char(','));
        QCOMPARE(header.mid(0, 4),
                 (QStringList{QStringLiteral("时间"), QStringLiteral("帧"), QStringLiteral("方向"),
                              QStringLiteral("来源")}));
        QCOMPARE(header.size(), 4 + history.pointCount());
        for (int point = 0; point < history.pointCount(); ++point) {
            const DataPointSeries &series = history.series(point);
            QStringList column;
            for (int row = 1; row < lines.size(); ++row) {
                const QString cell = lines.at(row).split(QLatin1Char(',')).value(4 + point);
                if (!cell.isEmpty())
                    column << cell;
            }
            QStringList expected;
            for (int i = 0; i < series.size(); ++i)
                expected << series.text(i);
            QCOMPARE(column, expected);
        }
        QCOMPARE(lines.at(2).section(QLatin1Char(','), 1, 3), QStringLiteral("2,模组→MCU,控制"));

        // Read live, a batch at a time, the history is the same.
        DataPointHistory live(def);
        live.addRows(analyzer, 0, 3);
        live.addRows(analyzer, live.endId(), analyzer.endId());
        QCOMPARE(live.toCsv(), history.toCsv());
        live.clear();
        QCOMPARE(live.frameCount(), 0);
        QCOMPARE(live.changeCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDataPointHistory)
#include "tst_datapointhistory.moc"
