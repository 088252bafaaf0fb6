// SPDX-License-Identifier: GPL-3.0-or-later
// The analyzer's data-point chart on long sessions, with the lamp's
// definition (offscreen):
//
// BM_OpenCaptureWithChart: a capture of a million frames, a status report in
// every tenth, opened by the analyzer window with the chart tab in front:
// the file read, the values over time built, the chart drawn once.
// BM_OpenCaptureWithoutChart: the same window and file without a definition,
// so the difference is what the chart adds.
// BM_ChartReady: only the chart's part, from an analyzer already read: the
// history built from its rows, handed to the chart and drawn.
// BM_ChartZoomRedraw: the time axis zoomed to a tenth and back, each redrawn
// (decimated afresh) and painted.
// BM_LiveReports100PerSecond: a live line with 200 000 reports behind it,
// then a status report every 10 ms for three seconds of real time. Counters:
// redraws a second, the longest the event loop was held (a 1 ms timer's
// late ticks; worstReplotMs the longest paint of the plot), and the heap the process grew by per
// report (the live rows, the list and the history together). BM_ChartReady also says what the
// history alone holds per report.
#include "analyzer/captureanalysis.h"
#include "analyzer/datapointhistory.h"
#include "analyzer/frameanalyzer.h"
#include "analyzer/liveanalysis.h"
#include "analyzerwindow/analyzerwindow.h"
#include "capture/capturewriter.h"
#include "chart/datapointchart.h"
#include "datapoint/datapointvalues.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <qcustomplot.h>

#include <malloc.h>

#include <memory>

namespace {

constexpr qint64 Frames = 1000000;
constexpr qint64 T0 = 1765238400000000;
const QString LampKey = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");

DataPointDefinition lamp()
{
    QFile f(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"));
    if (!f.open(QIODevice::ReadOnly))
        return DataPointDefinition();
    return DataPointDefinition::fromJson(QJsonDocument::fromJson(f.readAll()).object());
}

// Status reports with the brightness 0..100 and four modes: built once
// (statusReport() also logs each frame it builds).
const QVector<QByteArray> &reports()
{
    static QVector<QByteArray> out;
    if (out.isEmpty()) {
        const DataPointDefinition def = lamp();
        DataPointValues device(def);
        for (int mode = 0; mode < 4; ++mode)
            for (int b = 0; b <= 100; ++b) {
                device.setNumber(def.indexOf(QStringLiteral("模式")), mode);
                device.setNumber(def.indexOf(QStringLiteral("亮度")), b);
                device.setNumber(def.indexOf(QStringLiteral("温度")), 30 + b / 10);
                out.append(ZemTool::escape(device.statusReport()));
            }
    }
    return out;
}

QByteArray reportAt(qint64 i)
{
    const QVector<QByteArray> &all = reports();
    const int b = int(i % 200 < 100 ? i % 200 : 200 - i % 200);
    const int mode = int(i / 1000 % 4);
    return all.at(mode * 101 + b);
}

// Every tenth frame a report, the others heartbeats and their replies.
QString capturePath()
{
    static QTemporaryDir dir;
    static QString path;
    if (!path.isEmpty())
        return path;
    const QString file = dir.filePath(QStringLiteral("lamp-million.pcap"));
    CaptureWriter writer;
    if (!writer.open(file, nullptr))
        return QString();
    const QByteArray beat = ZemTool::escape(makeFrame(0x07, 0));
    const QByteArray beatReply = ZemTool::escape(makeFrame(0x08, 0));
    for (qint64 i = 0; i < Frames; ++i) {
        const qint64 t = T0 + i * 1000;
        if (i % 10 == 9)
            writer.write({t, LineDirection::McuToModule, SegmentKind::Frame4, reportAt(i / 10)},
                         QStringLiteral("ttyUSB0"));
        else if (i % 2 == 0)
            writer.write({t, LineDirection::ModuleToMcu, SegmentKind::Frame4, beat},
                         QStringLiteral("ttyUSB1"));
        else
            writer.write({t, LineDirection::McuToModule, SegmentKind::Frame4, beatReply},
                         QStringLiteral("ttyUSB0"));
    }
    writer.close();
    path = file;
    return path;
}

double heapBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks) + double(info.hblkhd);
}

// A program folder with the lamp's definition cached for the window.
struct Setup
{
    Setup()
    {
        tool.writeSetting(SettingKeys::ProductKey, LampKey);
        QDir().mkpath(root.file(QStringLiteral("json")));
        QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                    root.file(QStringLiteral("json/%1.json").arg(LampKey)));
    }
    TestRoot root;
    ZemTool tool;
};

DataPointChart *chartTab(AnalyzerWindow *window)
{
    auto *chart = window->findChild<DataPointChart *>(QStringLiteral("dataPointChart"));
    window->findChild<QTabWidget *>(QStringLiteral("tabWidget_views"))->setCurrentWidget(chart);
    return chart;
}

void paintNow(DataPointChart *chart)
{
    chart->redraw();
    chart->plot()->replot(QCustomPlot::rpImmediateRefresh);
}

void openCapture(benchmark::State &state, bool withDefinition)
{
    const QString path = capturePath();
    Setup setup;
    AnalyzerWindow window(AnalyzerWindow::Source::Mcu, nullptr, nullptr, &setup.tool);
    window.resize(1280, 860);
    window.show();
    DataPointChart *chart = chartTab(&window);
    if (!withDefinition)
        window.findChild<QComboBox *>(QStringLiteral("comboBox_definition"))->setCurrentIndex(0);
    QCoreApplication::processEvents();
    for (auto _ : state) {
        window.openCapture(path);
        paintNow(chart);
    }
    state.counters["frames"] = double(window.analyzer()->endId());
    state.counters["samples"] = chart->history() ? chart->history()->frameCount() : 0;
}

void BM_OpenCaptureWithChart(benchmark::State &state)
{
    openCapture(state, true);
}
BENCHMARK(BM_OpenCaptureWithChart)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenCaptureWithoutChart(benchmark::State &state)
{
    openCapture(state, false);
}
BENCHMARK(BM_OpenCaptureWithoutChart)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ChartReady(benchmark::State &state)
{
    CaptureAnalysis capture(200000);
    capture.read(capturePath());
    const DataPointDefinition def = lamp();
    DataPointChart chart;
    chart.resize(1200, 500);
    chart.show();
    QCoreApplication::processEvents();
    std::unique_ptr<DataPointHistory> history;
    double historyBytes = 0;
    for (auto _ : state) {
        chart.setHistory(nullptr, QString(), false);
        history.reset();
        const double heap = heapBytes();
        auto next = std::make_unique<DataPointHistory>(def);
        next->addRows(capture.analyzer(), capture.analyzer().firstId(), capture.analyzer().endId());
        historyBytes = heapBytes() - heap;
        chart.setHistory(next.get(), LampKey, false);
        history = std::move(next);
        paintNow(&chart);
    }
    chart.setHistory(nullptr, QString(), false);
    state.counters["samples"] = history ? history->frameCount() : 0;
    // What the values kept cost: the history's heap per report.
    state.counters["historyB/report"] = history ? historyBytes / history->frameCount() : 0;
}
BENCHMARK(BM_ChartReady)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ChartZoomRedraw(benchmark::State &state)
{
    CaptureAnalysis capture(200000);
    capture.read(capturePath());
    DataPointHistory history(lamp());
    history.addRows(capture.analyzer(), capture.analyzer().firstId(), capture.analyzer().endId());
    DataPointChart chart;
    chart.resize(1200, 500);
    chart.show();
    chart.setHistory(&history, LampKey, false);
    QCoreApplication::processEvents();
    const qint64 first = history.firstTimeUs();
    const qint64 span = history.lastTimeUs() - first;
    int step = 0;
    double decimateMs = 0;
    double replotMs = 0;
    for (auto _ : state) {
        if (step++ % 2 == 0)
            chart.setTimeRange(first + span * 45 / 100, first + span * 55 / 100);
        else
            chart.setTimeRange(first, first + span);
        QElapsedTimer t;
        t.start();
        chart.redraw();
        decimateMs += double(t.nsecsElapsed()) / 1e6;
        chart.plot()->replot(QCustomPlot::rpImmediateRefresh);
        replotMs += chart.plot()->replotTime(false);
    }
    state.counters["decimateMs"] = decimateMs / double(step);
    state.counters["replotMs"] = replotMs / double(step);
    state.counters["samples"] = history.frameCount();
    state.counters["drawnPoints"] = chart.drawnPointCount();
    chart.setHistory(nullptr, QString(), false);
}
BENCHMARK(BM_ChartZoomRedraw)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LiveReports100PerSecond(benchmark::State &state)
{
    Setup setup;
    LiveAnalysis live(nullptr, &setup.tool);
    AnalyzerWindow window(AnalyzerWindow::Source::Mcu, &live, nullptr, &setup.tool);
    window.resize(1280, 860);
    window.show();
    DataPointChart *chart = chartTab(&window);
    const QStringList ports{QStringLiteral("ttyUSB0")};
    // A long session behind the chart: 200 000 reports, 10 ms apart.
    constexpr int Behind = 200000;
    QVector<LineSegment> batch;
    for (int i = 0; i < Behind; ++i) {
        batch.append(
            {T0 + i * 10000, LineDirection::McuToModule, SegmentKind::Frame4, reportAt(i)});
        if (batch.size() == 4096 || i == Behind - 1) {
            live.addSegments(batch, ports);
            batch.clear();
        }
    }
    QCoreApplication::processEvents();
    qint64 n = Behind;
    double redrawsPerSecond = 0;
    double worstStallMs = 0;
    double worstReplotMs = 0;
    double bytesPerReport = 0;
    for (auto _ : state) {
        const int redraws = chart->redrawCount();
        const double heap = heapBytes();
        const qint64 before = n;
        QElapsedTimer clock;
        clock.start();
        QTimer feed;
        feed.setTimerType(Qt::PreciseTimer);
        QObject::connect(&feed, &QTimer::timeout, [&] {
            // Real time stamps, so that the chart follows them.
            live.addSegments(
                {{T0 + n * 10000, LineDirection::McuToModule, SegmentKind::Frame4, reportAt(n)}},
                ports);
            ++n;
        });
        feed.start(10);
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        qint64 lastTick = 0;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            if (lastTick > 0)
                worstStallMs = std::max(worstStallMs, double(now - lastTick) / 1e6 - 1.0);
            lastTick = now;
        });
        probe.start(1);
        QElapsedTimer replotClock;
        const auto started = QObject::connect(chart->plot(), &QCustomPlot::beforeReplot,
                                              [&] { replotClock.start(); });
        const auto ended = QObject::connect(chart->plot(), &QCustomPlot::afterReplot, [&] {
            worstReplotMs = std::max(worstReplotMs, double(replotClock.nsecsElapsed()) / 1e6);
        });
        while (clock.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        feed.stop();
        probe.stop();
        QObject::disconnect(started);
        QObject::disconnect(ended);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        redrawsPerSecond = double(chart->redrawCount() - redraws) / seconds;
        bytesPerReport = (heapBytes() - heap) / double(std::max<qint64>(1, n - before));
    }
    state.counters["reports/s"] = double(n - Behind) / 3.0;
    state.counters["redraws/s"] = redrawsPerSecond;
    state.counters["worstStallMs"] = worstStallMs;
    state.counters["worstReplotMs"] = worstReplotMs;
    state.counters["meanReplotMs"] = chart->plot()->replotTime(true);
    state.counters["heapB/report"] = bytesPerReport;
    state.counters["following"] = chart->isFollowing() ? 1 : 0;
}
BENCHMARK(BM_LiveReports100PerSecond)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Only the frames statusReport() logs are dropped.
void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quiet);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
