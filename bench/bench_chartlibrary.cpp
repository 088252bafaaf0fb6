// SPDX-License-Identifier: GPL-3.0-or-later
// Which plotting library draws a data point's history: the two that Debian
// ships for both Qt 5 and Qt 6, with one series of a million points.
//
// BM_*SetData: the million points handed to the plot (from the columns a
// DataPointSeries keeps: times in microseconds, values as doubles).
// BM_*ZoomRedraw: the time axis zoomed in to a tenth and out again, each
// followed by a redraw into an offscreen image of 1200 x 500 pixels, as the
// chart does after a wheel turn.
//
// Run with QT_QPA_PLATFORM=offscreen. The chart uses QCustomPlot; the Qt
// Charts half stays so that the choice can be measured again.
#include <QApplication>
#include <QImage>
#include <QPainter>

#include <qcustomplot.h>

#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
QT_CHARTS_USE_NAMESPACE
#endif

namespace {

constexpr int Points = 1000000;
constexpr int Width = 1200;
constexpr int Height = 500;

// A brightness-like value: steps and a slow wave, one sample each 10 ms.
struct Data
{
    QVector<double> keys;
    QVector<double> values;
    QVector<QPointF> points;
};

const Data &data()
{
    static Data d;
    if (d.keys.isEmpty()) {
        d.keys.reserve(Points);
        d.values.reserve(Points);
        d.points.reserve(Points);
        for (int i = 0; i < Points; ++i) {
            const double t = i * 0.01;
            const double v = std::round(50 + 40 * std::sin(i / 5000.0)) + (i / 997) % 3;
            d.keys.append(t);
            d.values.append(v);
            d.points.append(QPointF(t, v));
        }
    }
    return d;
}

void zoomRanges(int step, double *from, double *to)
{
    const double end = data().keys.last();
    if (step % 2 == 0) {
        *from = end * 0.45;
        *to = end * 0.55;
    } else {
        *from = 0;
        *to = end;
    }
}

void BM_QCustomPlotSetData(benchmark::State &state)
{
    const Data &d = data();
    QCustomPlot plot;
    plot.resize(Width, Height);
    QCPGraph *graph = plot.addGraph();
    for (auto _ : state) {
        graph->setData(d.keys, d.values, true);
        benchmark::DoNotOptimize(graph->data()->size());
    }
    state.counters["points"] = Points;
}
BENCHMARK(BM_QCustomPlotSetData)->Unit(benchmark::kMillisecond);

void BM_QCustomPlotZoomRedraw(benchmark::State &state)
{
    const Data &d = data();
    QCustomPlot plot;
    plot.resize(Width, Height);
    QCPGraph *graph = plot.addGraph();
    graph->setData(d.keys, d.values, true);
    plot.yAxis->setRange(0, 100);
    int step = 0;
    for (auto _ : state) {
        double from = 0;
        double to = 0;
        zoomRanges(step++, &from, &to);
        plot.xAxis->setRange(from, to);
        // A whole replot of every layer into the image.
        const QPixmap image = plot.toPixmap(Width, Height);
        benchmark::DoNotOptimize(image.cacheKey());
    }
}
BENCHMARK(BM_QCustomPlotZoomRedraw)->Unit(benchmark::kMillisecond);

void BM_QtChartsSetData(benchmark::State &state)
{
    const Data &d = data();
    QChart chart;
    auto *series = new QLineSeries;
    chart.addSeries(series);
    for (auto _ : state) {
        series->replace(d.points);
        benchmark::DoNotOptimize(series->count());
    }
    state.counters["points"] = Points;
}
BENCHMARK(BM_QtChartsSetData)->Unit(benchmark::kMillisecond);

void BM_QtChartsZoomRedraw(benchmark::State &state)
{
    const Data &d = data();
    auto *chart = new QChart;
    auto *series = new QLineSeries;
    chart->addSeries(series);
    auto *x = new QValueAxis;
    auto *y = new QValueAxis;
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    y->setRange(0, 100);
    series->replace(d.points);
    QChartView view(chart); // owns the chart
    view.resize(Width, Height);
    QImage image(Width, Height, QImage::Format_ARGB32_Premultiplied);
    int step = 0;
    for (auto _ : state) {
        double from = 0;
        double to = 0;
        zoomRanges(step++, &from, &to);
        x->setRange(from, to);
        QPainter painter(&image);
        view.render(&painter);
    }
}
BENCHMARK(BM_QtChartsZoomRedraw)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
