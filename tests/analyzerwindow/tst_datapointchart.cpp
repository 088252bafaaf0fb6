// SPDX-License-Identifier: GPL-3.0-or-later
// The analyzer window's data-point chart with the lamp's definition: a
// capture opened, a sample clicked at its pixel selects its frame, the
// chart reads the same values as its CSV; live, it follows the newest data
// until zoomed away, and the points shown are remembered per product.
#include "testsupport.h"

#include "analyzer/datapointhistory.h"
#include "analyzer/frameanalyzer.h"
#include "analyzer/framelistmodel.h"
#include "analyzer/liveanalysis.h"
#include "analyzerwindow/analyzerwindow.h"
#include "capture/capturewriter.h"
#include "chart/datapointchart.h"
#include "datapoint/datapointvalues.h"
#include "module/modulerequests.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <qcustomplot.h>

namespace {

const QString LampKey = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");
const qint64 T0 = 1765238400000000; // 2025-12-09 00:00:00 UTC

DataPointDefinition lamp()
{
    QFile f(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"));
    if (!f.open(QIODevice::ReadOnly))
        return DataPointDefinition();
    return DataPointDefinition::fromJson(QJsonDocument::fromJson(f.readAll()).object());
}

// A lamp's afternoon: a status report each 100 ms with the brightness
// going up and down, the mode and the scene changing now and then, a status
// query answered, and a control that turns the brightness to 100.
QVector<LineSegment> lampConversation(int reports, qint64 t0)
{
    const DataPointDefinition def = lamp();
    DataPointValues device(def);
    const int brightness = def.indexOf(QStringLiteral("亮度"));
    QVector<LineSegment> out;
    for (int i = 0; i < reports; ++i) {
        const qint64 t = t0 + i * 100000;
        device.setNumber(brightness, i % 20 < 10 ? 10 + i % 10 * 9 : 100 - i % 10 * 9);
        device.setNumber(def.indexOf(QStringLiteral("模式")), i / 12 % 4);
        device.setNumber(def.indexOf(QStringLiteral("温度")), 30 + i / 4);
        device.setNumber(def.indexOf(QStringLiteral("开关")), i < reports - 5);
        device.setHexText(def.indexOf(QStringLiteral("场景数据")),
                          QStringLiteral("0A0B0C%1").arg(i / 15, 2, 16, QLatin1Char('0')));
        if (i == reports / 2) {
            const QByteArray control
                = ModuleRequests::controlFrame(def, i % 256, {brightness, 100, {}});
            device.applyControl(control);
            out.append({t - 40000, LineDirection::ModuleToMcu, SegmentKind::Frame4,
                        ZemTool::escape(control)});
            out.append({t - 35000, LineDirection::McuToModule, SegmentKind::Frame4,
                        ZemTool::escape(makeFrame(0x04, i % 256))});
        }
        if (i % 7 == 3) {
            const QByteArray report = device.statusReport();
            out.append({t - 20000, LineDirection::ModuleToMcu, SegmentKind::Frame4,
                        ZemTool::escape(makeFrame(0x03, i % 256, hex("02")))});
            out.append({t - 15000, LineDirection::McuToModule, SegmentKind::Frame4,
                        ZemTool::escape(makeFrame(0x04, i % 256,
                                                  hex("03") + report.mid(9, report.size() - 10)))});
        }
        // Each report with its own sequence number, acknowledged by the
        // module, as on a healthy line.
        const QByteArray report = device.statusReport();
        out.append({t, LineDirection::McuToModule, SegmentKind::Frame4,
                    ZemTool::escape(makeFrame(0x05, i % 256, report.mid(8, report.size() - 9)))});
        out.append({t + 5000, LineDirection::ModuleToMcu, SegmentKind::Frame4,
                    ZemTool::escape(makeFrame(0x06, i % 256))});
    }
    return out;
}

} // namespace

class TestDataPointChart : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void captureClickSelectsFrameAndMatchesCsv();
    void liveFollowsUntilZoomedAndRemembersPoints();
    void denseLineKeepsItsExtremesAndChangesSelectFrames();

private:
    AnalyzerWindow *makeWindow(LiveAnalysis *live);
    DataPointChart *showChart(AnalyzerWindow *window);

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<ZemTool> m_tool;
};

void TestDataPointChart::init()
{
    m_root = std::make_unique<TestRoot>();
    m_tool = std::make_unique<ZemTool>();
    m_tool->writeSetting(SettingKeys::ProductKey, LampKey);
    QVERIFY(QDir().mkpath(m_root->file(QStringLiteral("json"))));
    QVERIFY(QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                        m_root->file(QStringLiteral("json/%1.json").arg(LampKey))));
}

void TestDataPointChart::cleanup()
{
    m_tool.reset();
    m_root.reset();
}

AnalyzerWindow *TestDataPointChart::makeWindow(LiveAnalysis *live)
{
    auto *window = new AnalyzerWindow(AnalyzerWindow::Source::Mcu, live, nullptr, m_tool.get());
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->resize(1280, 860);
    return window;
}

DataPointChart *TestDataPointChart::showChart(AnalyzerWindow *window)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return nullptr;
    auto *views = window->findChild<QTabWidget *>(QStringLiteral("tabWidget_views"));
    auto *chart = window->findChild<DataPointChart *>(QStringLiteral("dataPointChart"));
    if (!views || !chart || views->tabText(views->indexOf(chart)) != QStringLiteral("数据点曲线"))
        return nullptr;
    views->setCurrentWidget(chart);
    return chart;
}

void TestDataPointChart::captureClickSelectsFrameAndMatchesCsv()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lamp.pcap"));
    {
        CaptureWriter writer;
        QVERIFY(writer.open(path, nullptr));
        for (const LineSegment &s : lampConversation(60, T0))
            writer.write(s, QStringLiteral("ttyUSB0"));
        writer.close();
    }
    std::unique_ptr<AnalyzerWindow> window(makeWindow(nullptr));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    DataPointChart *chart = showChart(window.get());
    QVERIFY(chart);
    QVERIFY(window->openCapture(path));
    const DataPointHistory *history = chart->history();
    QVERIFY(history);
    QCOMPARE(history->frameCount(), 60 + 9 + 1);

    const int brightness = history->indexOf(QStringLiteral("亮度"));
    const DataPointSeries &series = history->series(brightness);
    QVERIFY(chart->isPointShown(brightness));
    // A sample clicked at its pixel selects the frame that carried it.
    const int sample = 23;
    QTRY_VERIFY(!chart->pixelOf(brightness, sample).isNull());
    QTest::mouseClick(chart->plot(), Qt::LeftButton, Qt::NoModifier,
                      chart->pixelOf(brightness, sample));
    auto *frames = window->findChild<QTableView *>(QStringLiteral("tableView_frames"));
    const QModelIndex current = frames->selectionModel()->currentIndex();
    QVERIFY(current.isValid());
    QCOMPARE(window->model()->rowId(current.row()), series.frameId(sample));
    QCOMPARE(chart->cursorTimeUs(), series.timeUs(sample));
    // And a frame selected in the list moves the cursor to its time.
    frames->selectRow(40);
    const qint64 id = window->model()->rowId(40);
    QCOMPARE(chart->cursorTimeUs(), window->analyzer()->record(id).timeUs);

    // Every cell of the CSV export is what the chart reads at its frame's
    // time; an empty cell (the frame did not carry the point) reads the
    // value before it.
    for (int p = 0; p < history->pointCount(); ++p)
        chart->setPointShown(p, true);
    const QString csvPath = dir.filePath(QStringLiteral("values.csv"));
    QString error;
    QVERIFY2(chart->exportCsv(csvPath, &error), qPrintable(error));
    QFile csv(csvPath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QVERIFY(csv.read(3) == "\xEF\xBB\xBF");
    const QStringList lines
        = QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), history->frameCount() + 1);
    const QStringList header = lines.first().split(QLatin1Char(','));
    QVector<QString> carried(history->pointCount(), QStringLiteral("—"));
    for (int row = 1; row < lines.size(); ++row) {
        const QStringList cells = lines[row].split(QLatin1Char(','));
        QCOMPARE(cells.size(), header.size());
        const qint64 frame = cells[1].toLongLong();
        chart->setCursorTime(window->analyzer()->record(frame).timeUs);
        const QStringList read = chart->cursorValues();
        QCOMPARE(read.size(), history->pointCount());
        for (int p = 0; p < history->pointCount(); ++p) {
            if (!cells[4 + p].isEmpty())
                carried[p] = cells[4 + p];
            QCOMPARE(read[p], header[4 + p] + QLatin1Char(' ') + carried[p]);
        }
    }

    // The README's picture: a few points, as the test suite draws them.
    for (int p = 0; p < history->pointCount(); ++p)
        chart->setPointShown(p,
                             QStringList{QStringLiteral("开关"), QStringLiteral("模式"),
                                         QStringLiteral("亮度"), QStringLiteral("场景数据")}
                                 .contains(history->series(p).name));
    window->findChild<QSplitter *>(QStringLiteral("splitter_main"))->setSizes({220, 640});
    frames->selectRow(frames->model()->rowCount() / 2 + 3);
    QTRY_VERIFY(chart->redrawCount() > 0 && chart->drawnPointCount() > 0);
    const QString shot = qEnvironmentVariableIsSet("LUMO_SCREENSHOT_DIR")
        ? qEnvironmentVariable("LUMO_SCREENSHOT_DIR") + QStringLiteral("/datapoint-chart.png")
        : QStringLiteral(LUMO_BINARY_DIR "/datapoint-chart.png");
    QTest::qWait(100);
    QVERIFY(window->grab().save(shot, "PNG"));
    QVERIFY(chart->exportPng(dir.filePath(QStringLiteral("chart.png")), &error));
    QVERIFY(!QImage(dir.filePath(QStringLiteral("chart.png"))).isNull());
}

void TestDataPointChart::liveFollowsUntilZoomedAndRemembersPoints()
{
    LiveAnalysis live(nullptr, m_tool.get());
    AnalyzerWindow *window = makeWindow(&live);
    DataPointChart *chart = showChart(window);
    QVERIFY(chart);
    const QVector<LineSegment> line = lampConversation(50, T0);
    live.addSegments(line.mid(0, 30), {QStringLiteral("ttyUSB0")});
    QVERIFY(chart->isFollowing());
    QTRY_VERIFY(chart->rangeToUs() >= chart->history()->lastTimeUs());

    // The wheel on the left half zooms in there: the view leaves the end,
    // and the next data no longer moves it.
    QTRY_VERIFY(!chart->pixelOf(chart->shownPoints().first(), 0).isNull());
    const QPoint at(chart->plot()->width() / 4, chart->plot()->height() / 2);
    QWheelEvent wheel(at, chart->plot()->mapToGlobal(at), QPoint(), QPoint(0, 480), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart->plot(), &wheel);
    QVERIFY(!chart->isFollowing());
    chart->redraw();
    const qint64 to = chart->rangeToUs();
    const int redraws = chart->redrawCount();
    live.addSegments(line.mid(30), {QStringLiteral("ttyUSB0")});
    QTRY_VERIFY(chart->redrawCount() > redraws);
    QCOMPARE(chart->rangeToUs(), to);
    QVERIFY(chart->history()->lastTimeUs() > to);

    // The points ticked stay ticked for this product in another window.
    auto *list = window->findChild<QListWidget *>(QStringLiteral("listWidget_dataPoints"));
    QVERIFY(list && list->count() > 8);
    list->item(1)->setCheckState(Qt::Unchecked);
    list->item(8)->setCheckState(Qt::Checked);
    const QVector<int> shown = chart->shownPoints();
    QVERIFY(!shown.contains(1) && shown.contains(8));
    delete window;
    std::unique_ptr<AnalyzerWindow> again(makeWindow(&live));
    again->setAttribute(Qt::WA_DeleteOnClose, false);
    DataPointChart *second = showChart(again.get());
    QVERIFY(second);
    QCOMPARE(second->shownPoints(), shown);
}

// Far more samples than pixels: the line drawn is thinned, but a single
// high and a single low sample among them are still drawn, and the history
// keeps every sample. A row of the change table selects its frame.
void TestDataPointChart::denseLineKeepsItsExtremesAndChangesSelectFrames()
{
    const DataPointDefinition def = lamp();
    DataPointValues device(def);
    const int brightness = def.indexOf(QStringLiteral("亮度"));
    QVector<QByteArray> reports;
    for (int value : {50, 100, 0}) {
        device.setNumber(brightness, value);
        reports.append(ZemTool::escape(device.statusReport()));
    }
    constexpr int Reports = 8000;
    QVector<LineSegment> line;
    for (int i = 0; i < Reports; ++i)
        line.append({T0 + i * 10000, LineDirection::McuToModule, SegmentKind::Frame4,
                     reports[i == 2345       ? 1
                                 : i == 6789 ? 2
                                             : 0]});
    LiveAnalysis live(nullptr, m_tool.get());
    live.addSegments(line, {QStringLiteral("ttyUSB0")});
    std::unique_ptr<AnalyzerWindow> window(makeWindow(&live));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    DataPointChart *chart = showChart(window.get());
    QVERIFY(chart);
    const DataPointHistory *history = chart->history();
    QCOMPARE(history->series(history->indexOf(QStringLiteral("亮度"))).size(), Reports);
    chart->setTimeRange(history->firstTimeUs(), history->lastTimeUs());
    chart->redraw();
    QCPGraph *drawn = nullptr;
    for (int g = 0; g < chart->plot()->graphCount(); ++g)
        if (chart->plot()->graph(g)->valueAxis()->label() == QStringLiteral("亮度")
            && chart->plot()->graph(g)->lineStyle() != QCPGraph::lsNone)
            drawn = chart->plot()->graph(g);
    QVERIFY(drawn);
    double low = 1000;
    double high = -1;
    for (auto it = drawn->data()->constBegin(); it != drawn->data()->constEnd(); ++it) {
        low = std::min(low, it->value);
        high = std::max(high, it->value);
    }
    QCOMPARE(low, 0.0);
    QCOMPARE(high, 100.0);
    QVERIFY2(drawn->data()->size() < Reports / 2,
             qPrintable(QString::number(drawn->data()->size())));

    // 50 → 100, 100 → 50, 50 → 0, 0 → 50 after the first values.
    auto *changes = window->findChild<QTableView *>(QStringLiteral("tableView_dataPointChanges"));
    QVERIFY(changes);
    const int last = changes->model()->rowCount() - 1;
    QCOMPARE(changes->model()->index(last, 2).data().toString(), QStringLiteral("0 → 50"));
    changes->scrollTo(changes->model()->index(last, 0));
    QTest::mouseClick(changes->viewport(), Qt::LeftButton, Qt::NoModifier,
                      changes->visualRect(changes->model()->index(last, 0)).center());
    auto *frames = window->findChild<QTableView *>(QStringLiteral("tableView_frames"));
    QCOMPARE(window->model()->rowId(frames->selectionModel()->currentIndex().row()), qint64(6790));
    QCOMPARE(chart->cursorTimeUs(), T0 + 6790 * 10000);
}

QTEST_MAIN(TestDataPointChart)
#include "tst_datapointchart.moc"
