// SPDX-License-Identifier: GPL-3.0-or-later
#include "chart/datapointchart.h"

#include "analyzer/datapointhistory.h"
#include "capture/sessionrecorder.h"
#include "chart/datapointchangemodel.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "widgets/exportfile.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace {

// How near a click or the mouse must come to a sample to mean it.
constexpr int HitRadius = 8;
// Samples looked at around the mouse before giving up (a dense stretch).
constexpr int HitScanLimit = 20000;
// Marks of one source on one lane come at least this many pixels apart.
constexpr int MarkSpacing = 4;
// A live chart's first window of time, until the user zooms.
constexpr double DefaultLiveSpanS = 60.0;

QPoint eventPos(const QMouseEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->position().toPoint();
#else
    return event->pos();
#endif
}

QColor laneColor(int point)
{
    static const QColor colors[]
        = {QColor(31, 119, 180), QColor(214, 39, 40),  QColor(44, 160, 44), QColor(148, 103, 189),
           QColor(255, 127, 14), QColor(23, 190, 207), QColor(140, 86, 75), QColor(227, 119, 194)};
    return colors[point % int(sizeof colors / sizeof colors[0])];
}

QString sourceText(DataPointSource source)
{
    switch (source) {
    case DataPointSource::Report:
        return QStringLiteral("状态上报");
    case DataPointSource::Answer:
        return QStringLiteral("查询应答");
    case DataPointSource::Control:
        return QStringLiteral("控制命令");
    }
    return QString();
}

// Time-of-day labels for the time axis, whose keys are seconds after the
// chart's origin.
class TimeTicker : public QCPAxisTicker
{
public:
    qint64 originUs = 0;

protected:
    QString getTickLabel(double tick, const QLocale &, QChar, int) override
    {
        const qint64 ms = (originUs + qint64(std::llround(tick * 1e6))) / 1000;
        // Whole seconds without the milliseconds, so that labels stay short.
        return QDateTime::fromMSecsSinceEpoch(ms).toString(
            ms % 1000 == 0 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm:ss.zzz"));
    }
};

} // namespace

DataPointChart::DataPointChart(QWidget *parent)
    : QWidget(parent)
    , m_plot(new QCustomPlot(this))
    , m_points(new QListWidget(this))
    , m_changes(new QTableView(this))
    , m_changeModel(new DataPointChangeModel(this))
    , m_cursorLabel(new QLabel(this))
    , m_hint(new QLabel(this))
    , m_followBox(new QCheckBox(QStringLiteral("跟随最新数据"), this))
    , m_redrawTimer(new QTimer(this))
{
    m_plot->setObjectName(QStringLiteral("plot_dataPoints"));
    m_points->setObjectName(QStringLiteral("listWidget_dataPoints"));
    m_changes->setObjectName(QStringLiteral("tableView_dataPointChanges"));
    m_cursorLabel->setObjectName(QStringLiteral("label_chartCursor"));
    m_hint->setObjectName(QStringLiteral("label_chartHint"));
    m_followBox->setObjectName(QStringLiteral("checkBox_chartFollow"));

    m_plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    m_plot->setNoAntialiasingOnDrag(true);
    m_plot->setMinimumSize(320, 200);
    m_plot->plotLayout()->clear();
    m_plot->installEventFilter(this);
    connect(m_plot, &QCustomPlot::mousePress, this, &DataPointChart::onPlotPress);
    connect(m_plot, &QCustomPlot::mouseRelease, this, &DataPointChart::onPlotRelease);
    connect(m_plot, &QCustomPlot::mouseMove, this, &DataPointChart::onPlotMove);

    m_points->setToolTip(QStringLiteral("勾选要画出的数据点（按产品记住）"));
    connect(m_points, &QListWidget::itemChanged, this, &DataPointChart::onPointItemChanged);

    m_changes->setModel(m_changeModel);
    m_changes->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_changes->setSelectionMode(QAbstractItemView::SingleSelection);
    m_changes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_changes->setWordWrap(false);
    m_changes->verticalHeader()->setVisible(false);
    m_changes->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_changes->verticalHeader()->setDefaultSectionSize(m_changes->fontMetrics().height() + 6);
    m_changes->horizontalHeader()->setStretchLastSection(true);
    const QFontMetrics fm = m_changes->fontMetrics();
    m_changes->setColumnWidth(DataPointChangeModel::TimeColumn,
                              fm.horizontalAdvance(QStringLiteral("00:00:00.000000")) + 16);
    m_changes->setColumnWidth(DataPointChangeModel::PointColumn,
                              fm.horizontalAdvance(QStringLiteral("累计运行时长")) + 16);
    m_changes->setColumnWidth(DataPointChangeModel::ChangeColumn,
                              fm.horizontalAdvance(QStringLiteral("100000 → 100000")) + 16);
    connect(m_changes, &QAbstractItemView::clicked, this, &DataPointChart::onChangeClicked);
    connect(m_changes, &QAbstractItemView::activated, this, &DataPointChart::onChangeClicked);

    m_hint->setText(
        QStringLiteral("选择数据点定义后，这里按时间画出状态上报、查询应答和控制命令中的数据点"));
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setWordWrap(true);
    m_cursorLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_cursorLabel->setWordWrap(true);
    m_cursorLabel->setText(QStringLiteral("点击曲线放置光标；滚轮缩放时间轴，拖动平移"));

    m_followBox->setToolTip(
        QStringLiteral("实时数据到来时时间轴随最新数据滚动；往回拖动即停止跟随"));
    m_followBox->setEnabled(false);
    connect(m_followBox, &QCheckBox::toggled, this, [this](bool on) {
        if (on == m_follow)
            return;
        m_follow = on && m_live;
        if (m_follow) {
            m_dirty = true;
            scheduleRedraw();
        }
    });

    auto *exportCsv = new QPushButton(QStringLiteral("导出数据CSV…"), this);
    exportCsv->setObjectName(QStringLiteral("pushButton_exportDataPointCsv"));
    exportCsv->setToolTip(QStringLiteral("每个数据点一列、每帧一行，UTF-8 带BOM"));
    connect(exportCsv, &QPushButton::clicked, this, &DataPointChart::chooseExportCsv);
    auto *exportPng = new QPushButton(QStringLiteral("导出PNG…"), this);
    exportPng->setObjectName(QStringLiteral("pushButton_exportChartPng"));
    exportPng->setToolTip(QStringLiteral("把曲线按当前的样子保存为PNG图片"));
    connect(exportPng, &QPushButton::clicked, this, &DataPointChart::chooseExportPng);
    auto *legend = new QLabel(QStringLiteral("●状态上报　○查询应答　▲控制命令"), this);

    auto *plotPane = new QWidget(this);
    auto *plotLayout = new QVBoxLayout(plotPane);
    plotLayout->setContentsMargins(0, 0, 0, 0);
    plotLayout->addWidget(m_hint);
    plotLayout->addWidget(m_plot, 1);
    plotLayout->addWidget(m_cursorLabel);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(legend);
    buttons->addStretch(1);
    buttons->addWidget(m_followBox);
    buttons->addWidget(exportCsv);
    buttons->addWidget(exportPng);
    plotLayout->addLayout(buttons);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("splitter_chart"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(m_points);
    splitter->addWidget(plotPane);
    splitter->addWidget(m_changes);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 3);
    splitter->setStretchFactor(2, 1);
    splitter->setSizes({140, 620, 420});
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    m_redrawTimer->setSingleShot(true);
    connect(m_redrawTimer, &QTimer::timeout, this, &DataPointChart::redraw);
    setHistory(nullptr, QString(), false);
}

DataPointChart::~DataPointChart() = default;

// --- the history --------------------------------------------------------------

void DataPointChart::setHistory(const DataPointHistory *history, const QString &productKey,
                                bool live)
{
    m_history = history;
    m_productKey = productKey;
    m_live = live;
    m_follow = live;
    m_cursorUs = -1;
    const int points = history ? history->pointCount() : 0;
    m_min = QVector<double>(points, 0.0);
    m_max = QVector<double>(points, 0.0);
    m_scanned = QVector<int>(points, 0);
    m_originUs = history && history->firstTimeUs() >= 0 ? history->firstTimeUs() : 0;
    m_changeModel->setHistory(history);
    {
        const QSignalBlocker blocker(m_followBox);
        m_followBox->setChecked(m_follow);
        m_followBox->setEnabled(live && history);
    }
    m_hint->setVisible(!history || points == 0);
    m_cursorLabel->setText(QStringLiteral("点击曲线放置光标；滚轮缩放时间轴，拖动平移"));
    fillPointList();
    loadShown();
    buildLanes();
    if (history && !live && history->frameCount() > 0)
        setTimeRange(history->firstTimeUs(), history->lastTimeUs());
    m_dirty = true;
    redraw();
}

void DataPointChart::historyChanged()
{
    m_dirty = true;
    scheduleRedraw();
}

void DataPointChart::scheduleRedraw()
{
    if (m_redrawTimer->isActive())
        return;
    const qint64 since = m_sinceRedraw.isValid() ? m_sinceRedraw.elapsed() : MinRedrawIntervalMs;
    m_redrawTimer->start(int(std::max<qint64>(0, MinRedrawIntervalMs - since)));
}

void DataPointChart::fillPointList()
{
    const QSignalBlocker blocker(m_points);
    m_points->clear();
    if (!m_history)
        return;
    for (int p = 0; p < m_history->pointCount(); ++p) {
        auto *item = new QListWidgetItem(m_history->series(p).name, m_points);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        item->setCheckState(Qt::Unchecked);
        item->setForeground(laneColor(p));
    }
}

// The names the user ticked for this product, as a JSON array of names (the
// definition may gain or lose points between revisions; names survive that).
void DataPointChart::loadShown()
{
    m_shown.clear();
    if (!m_history)
        return;
    bool stored = false;
    if (m_settings && !m_productKey.isEmpty()) {
        const QString text = m_settings->readSetting(SettingKeys::dataPointChartKey(m_productKey));
        const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
        if (doc.isArray()) {
            stored = true;
            for (const QJsonValue &v : doc.array()) {
                const int p = m_history->indexOf(v.toString());
                if (p >= 0 && !m_shown.contains(p))
                    m_shown.append(p);
            }
        }
    }
    if (!stored)
        for (int p = 0; p < std::min(DefaultShownPoints, m_history->pointCount()); ++p)
            m_shown.append(p);
    std::sort(m_shown.begin(), m_shown.end());
    const QSignalBlocker blocker(m_points);
    for (int p : m_shown)
        m_points->item(p)->setCheckState(Qt::Checked);
}

void DataPointChart::saveShown()
{
    if (!m_settings || m_productKey.isEmpty() || !m_history)
        return;
    QJsonArray names;
    for (int p : m_shown)
        names.append(m_history->series(p).name);
    m_settings->writeSetting(
        SettingKeys::dataPointChartKey(m_productKey),
        QString::fromUtf8(QJsonDocument(names).toJson(QJsonDocument::Compact)));
}

bool DataPointChart::isPointShown(int point) const
{
    return m_shown.contains(point);
}

void DataPointChart::setPointShown(int point, bool shown)
{
    if (point < 0 || point >= m_points->count())
        return;
    m_points->item(point)->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
}

void DataPointChart::onPointItemChanged(QListWidgetItem *item)
{
    const int point = m_points->row(item);
    const bool shown = item->checkState() == Qt::Checked;
    if (shown == m_shown.contains(point))
        return;
    if (shown) {
        m_shown.append(point);
        std::sort(m_shown.begin(), m_shown.end());
    } else {
        m_shown.removeAll(point);
    }
    saveShown();
    const qint64 from = rangeFromUs();
    const qint64 to = rangeToUs();
    const bool hadLanes = !m_lanes.isEmpty();
    buildLanes();
    if (hadLanes)
        setTimeRange(from, to);
    else if (m_history && m_history->frameCount() > 0)
        setTimeRange(m_history->firstTimeUs(), m_history->lastTimeUs());
    m_dirty = true;
    redraw();
}

// --- lanes --------------------------------------------------------------------

void DataPointChart::buildLanes()
{
    m_plot->clearItems();
    m_plot->clearGraphs();
    m_plot->plotLayout()->clear();
    m_lanes.clear();
    if (!m_history)
        return;
    auto *margins = new QCPMarginGroup(m_plot);
    auto ticker = QSharedPointer<TimeTicker>::create();
    ticker->originUs = m_originUs;
    ticker->setTickCount(4);
    const QFont small(font().family(), std::max(7, font().pointSize() - 1));
    for (int row = 0; row < m_shown.size(); ++row) {
        const int point = m_shown[row];
        const DataPointSeries &series = m_history->series(point);
        Lane lane;
        lane.point = point;
        lane.rect = new QCPAxisRect(m_plot);
        m_plot->plotLayout()->addElement(row, 0, lane.rect);
        lane.rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
        // Only the lowest lane has time labels below it; the others stay
        // close together.
        const bool lowest = row == m_shown.size() - 1;
        lane.rect->setAutoMargins(lowest ? QCP::msLeft | QCP::msRight | QCP::msBottom
                                         : QCP::msLeft | QCP::msRight);
        lane.rect->setMargins(QMargins(0, 6, 0, 6));
        lane.rect->setRangeDrag(Qt::Horizontal);
        lane.rect->setRangeZoom(Qt::Horizontal);
        QCPAxis *x = lane.rect->axis(QCPAxis::atBottom);
        QCPAxis *y = lane.rect->axis(QCPAxis::atLeft);
        x->setTicker(ticker);
        x->setTickLabels(lowest);
        x->setTickLabelFont(small);
        y->setTickLabelFont(small);
        y->setLabel(series.name);
        y->setLabelColor(laneColor(point));
        if (series.style == DataPointStyle::Step) {
            auto text = QSharedPointer<QCPAxisTickerText>::create();
            const QStringList labels = series.labels.isEmpty()
                ? QStringList{QStringLiteral("0"), QStringLiteral("1")}
                : series.labels;
            for (int i = 0; i < labels.size(); ++i)
                text->addTick(i, labels[i]);
            y->setTicker(text);
        } else {
            y->ticker()->setTickCount(3);
        }
        connect(x, QOverload<const QCPRange &>::of(&QCPAxis::rangeChanged), this,
                [this, rect = lane.rect](const QCPRange &) { onRangeChanged(rect); });

        lane.line = m_plot->addGraph(x, y);
        // A one-pixel pen: wider ones go through the stroker, many times
        // slower on thousands of points.
        lane.line->setPen(QPen(laneColor(point)));
        lane.line->setAdaptiveSampling(false); // already one point per pixel column
        lane.line->setLineStyle(series.style == DataPointStyle::Step        ? QCPGraph::lsStepLeft
                                    : series.style == DataPointStyle::Marks ? QCPGraph::lsNone
                                                                            : QCPGraph::lsLine);
        const struct
        {
            QCPScatterStyle::ScatterShape shape;
            double size;
            bool filled;
        } marks[3] = {{QCPScatterStyle::ssDisc, 5, true},
                      {QCPScatterStyle::ssCircle, 6, false},
                      {QCPScatterStyle::ssTriangle, 9, true}};
        for (int s = 0; s < 3; ++s) {
            QCPGraph *g = m_plot->addGraph(x, y);
            g->setLineStyle(QCPGraph::lsNone);
            QColor c = s == int(DataPointSource::Control) ? QColor(230, 120, 0) : laneColor(point);
            g->setScatterStyle(
                QCPScatterStyle(marks[s].shape, c, marks[s].filled ? c : Qt::white, marks[s].size));
            g->setAdaptiveSampling(false);
            lane.marks[s] = g;
        }
        lane.cursor = new QCPItemStraightLine(m_plot);
        lane.cursor->setClipAxisRect(lane.rect);
        lane.cursor->point1->setAxes(x, y);
        lane.cursor->point2->setAxes(x, y);
        lane.cursor->setPen(QPen(QColor(90, 90, 90), 1, Qt::DashLine));
        lane.cursor->setVisible(false);
        m_lanes.append(lane);
    }
    if (m_lanes.isEmpty())
        return;
    // The time axis starts as the whole history (or a live window).
    const qint64 last = m_history->lastTimeUs();
    const double end = last >= 0 ? keyOf(last) : 0.0;
    m_settingRange = true;
    for (Lane &lane : m_lanes) {
        lane.rect->axis(QCPAxis::atBottom)
            ->setRange(m_live ? end - DefaultLiveSpanS : 0.0, std::max(end, 1e-3));
        setLaneValueRange(lane);
    }
    m_settingRange = false;
}

void DataPointChart::setLaneValueRange(const Lane &lane)
{
    const DataPointSeries &series = m_history->series(lane.point);
    QCPAxis *y = lane.rect->axis(QCPAxis::atLeft);
    const double lo = m_min.value(lane.point);
    const double hi = m_max.value(lane.point);
    switch (series.style) {
    case DataPointStyle::Step: {
        const int levels = std::max<int>(2, series.labels.size());
        y->setRange(-0.3, std::max(double(levels) - 0.7, hi + 0.3));
        break;
    }
    case DataPointStyle::Marks:
        y->setRange(-0.5, hi + 1.5);
        break;
    case DataPointStyle::Line: {
        const double pad = hi > lo ? (hi - lo) * 0.08 : 1.0;
        y->setRange(lo - pad, hi + pad);
        break;
    }
    }
}

double DataPointChart::keyOf(qint64 timeUs) const
{
    return double(timeUs - m_originUs) / 1e6;
}

qint64 DataPointChart::timeOf(double key) const
{
    return m_originUs + qint64(std::llround(key * 1e6));
}

void DataPointChart::setTimeRange(qint64 fromUs, qint64 toUs)
{
    if (toUs <= fromUs)
        toUs = fromUs + 1000;
    m_settingRange = true;
    for (Lane &lane : m_lanes)
        lane.rect->axis(QCPAxis::atBottom)->setRange(keyOf(fromUs), keyOf(toUs));
    m_settingRange = false;
    m_dirty = true;
    scheduleRedraw();
}

qint64 DataPointChart::rangeFromUs() const
{
    return m_lanes.isEmpty() ? 0 : timeOf(m_lanes[0].rect->axis(QCPAxis::atBottom)->range().lower);
}

qint64 DataPointChart::rangeToUs() const
{
    return m_lanes.isEmpty() ? 0 : timeOf(m_lanes[0].rect->axis(QCPAxis::atBottom)->range().upper);
}

// The user dragged or zoomed one lane: the others follow it, and a live
// chart follows the newest data only while the view reaches the end.
void DataPointChart::onRangeChanged(QCPAxisRect *source)
{
    if (m_settingRange)
        return;
    const QCPRange range = source->axis(QCPAxis::atBottom)->range();
    m_settingRange = true;
    for (Lane &lane : m_lanes)
        if (lane.rect != source)
            lane.rect->axis(QCPAxis::atBottom)->setRange(range);
    m_settingRange = false;
    if (m_live && m_history) {
        const qint64 last = m_history->lastTimeUs();
        const bool atEnd = last < 0 || range.upper >= keyOf(last) - range.size() * 0.01;
        if (atEnd != m_follow) {
            m_follow = atEnd;
            const QSignalBlocker blocker(m_followBox);
            m_followBox->setChecked(m_follow);
        }
    }
    m_dirty = true;
    scheduleRedraw();
}

void DataPointChart::followEnd()
{
    if (m_lanes.isEmpty() || m_history->lastTimeUs() < 0)
        return;
    const QCPRange range = m_lanes[0].rect->axis(QCPAxis::atBottom)->range();
    const double end = keyOf(m_history->lastTimeUs());
    const double span = range.size() > 0 ? range.size() : DefaultLiveSpanS;
    m_settingRange = true;
    for (Lane &lane : m_lanes)
        lane.rect->axis(QCPAxis::atBottom)->setRange(end - span * 0.98, end + span * 0.02);
    m_settingRange = false;
}

// --- drawing ------------------------------------------------------------------

void DataPointChart::redraw()
{
    m_redrawTimer->stop();
    // A hidden chart (the other tab, a closed window) draws when shown.
    if (!m_dirty || !isVisible())
        return;
    m_dirty = false;
    m_sinceRedraw.restart();
    ++m_redraws;
    m_changeModel->sync();
    if (m_history) {
        if (m_history->frameCount() == 0) {
            m_scanned.fill(0);
        } else if (m_originUs == 0 && m_history->firstTimeUs() > 0 && m_live) {
            // The first samples of a live line: the axis starts at them.
            m_originUs = m_history->firstTimeUs();
            buildLanes();
        }
        // The value ranges grow with the samples not looked at yet.
        for (int p = 0; p < m_history->pointCount(); ++p) {
            const DataPointSeries &series = m_history->series(p);
            int &scanned = m_scanned[p];
            if (scanned > series.size())
                scanned = 0;
            const std::vector<double> &values = series.values();
            for (int i = scanned; i < series.size(); ++i) {
                const double v = values[size_t(i)];
                if (i == 0) {
                    m_min[p] = m_max[p] = v;
                } else {
                    m_min[p] = std::min(m_min[p], v);
                    m_max[p] = std::max(m_max[p], v);
                }
            }
            scanned = series.size();
        }
        if (m_follow && m_live)
            followEnd();
    }
    m_drawnPoints = 0;
    for (Lane &lane : m_lanes) {
        const QCPRange range = lane.rect->axis(QCPAxis::atBottom)->range();
        setLaneValueRange(lane);
        // A width to each side besides the view, so that a drag shows data
        // until the next redraw.
        // The plot's width: the lanes' own is known only after a replot.
        fillLane(lane, range.lower - range.size(), range.upper + range.size(),
                 3 * std::max(100, m_plot->width()));
    }
    if (m_follow && m_live && m_changeModel->rowCount() > 0)
        m_changes->scrollToBottom();
    updateCursor();
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

// The samples between two keys, at most four per pixel column for the line
// (first, lowest, highest, last) and one per column and source for the marks.
void DataPointChart::fillLane(Lane &lane, double fromKey, double toKey, int width)
{
    const DataPointSeries &series = m_history->series(lane.point);
    const std::vector<qint64> &times = series.times();
    const std::vector<double> &values = series.values();
    int first = series.lowerBound(timeOf(fromKey));
    if (first > 0)
        --first; // the line comes in from the left edge
    const int end = std::min(series.size(), series.lowerBound(timeOf(toKey)) + 1);
    QVector<QCPGraphData> line;
    QVector<QCPGraphData> marks[3];
    const bool changesOnly = series.style == DataPointStyle::Marks;
    const double scale = double(width) / std::max(1e-9, toKey - fromKey);
    const bool dense = end - first > 2 * width;
    line.reserve(dense ? 4 * width : std::max(0, end - first));
    int column = INT_MIN;
    const bool sparse = (end - first) * MarkSpacing <= width;
    int lastMark[3] = {INT_MIN, INT_MIN, INT_MIN};
    double low = 0, high = 0, lastKey = 0, lastValue = 0;
    int lowAt = 0, highAt = 0;
    // A column's extremes in the order they came, then its last value.
    const auto flush = [&] {
        if (column == INT_MIN)
            return;
        const double a = lowAt <= highAt ? low : high;
        const double b = lowAt <= highAt ? high : low;
        if (a != line.last().value)
            line.append({lastKey, a});
        if (b != line.last().value)
            line.append({lastKey, b});
        if (lastValue != line.last().value || line.last().key != lastKey)
            line.append({lastKey, lastValue});
    };
    for (int i = first; i < end; ++i) {
        const double key = keyOf(times[size_t(i)]);
        const double value = values[size_t(i)];
        const int c = int(std::floor((key - fromKey) * scale));
        if (!changesOnly) {
            if (!dense) {
                line.append({key, value});
            } else if (c != column) {
                flush();
                column = c;
                line.append({key, value});
                low = high = lastValue = value;
                lowAt = highAt = i;
                lastKey = key;
            } else {
                if (value < low) {
                    low = value;
                    lowAt = i;
                }
                if (value > high) {
                    high = value;
                    highAt = i;
                }
                lastKey = key;
                lastValue = value;
            }
        }
        if (changesOnly && i > 0 && values[size_t(i - 1)] == value)
            continue;
        const int s = int(series.source(i));
        // Reports and answers are marked once they stand apart; controls
        // (few, and what one looks for) always, a few pixels apart.
        if (s < 0 || s >= 3 || (!changesOnly && !sparse && s != int(DataPointSource::Control)))
            continue;
        const int markColumn = c / MarkSpacing;
        if (markColumn != lastMark[s]) {
            lastMark[s] = markColumn;
            marks[s].append({key, value});
        }
    }
    if (dense && !changesOnly)
        flush();
    // A live step line reaches the present, not only its last sample.
    if (!changesOnly && !line.isEmpty() && series.style == DataPointStyle::Step)
        line.append({std::max(line.last().key, keyOf(m_history->lastTimeUs())), line.last().value});
    m_drawnPoints += line.size();
    // A line of one point per pixel column gains nothing from smoothing,
    // which costs several times the drawing.
    lane.line->setAntialiased(!dense);
    lane.line->data()->set(line, true);
    for (int s = 0; s < 3; ++s) {
        m_drawnPoints += marks[s].size();
        lane.marks[s]->data()->set(marks[s], true);
    }
}

QImage DataPointChart::image()
{
    redraw();
    return m_plot->toPixmap().toImage();
}

// --- cursor and clicks --------------------------------------------------------

void DataPointChart::setCursorTime(qint64 timeUs)
{
    m_cursorUs = timeUs;
    updateCursor();
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

QStringList DataPointChart::cursorValues() const
{
    QStringList out;
    if (!m_history || m_cursorUs < 0)
        return out;
    for (int p : m_shown) {
        const DataPointSeries &series = m_history->series(p);
        const int i = series.valueAt(m_cursorUs);
        out << series.name + QLatin1Char(' ') + (i >= 0 ? series.text(i) : QStringLiteral("—"));
    }
    return out;
}

void DataPointChart::updateCursor()
{
    for (Lane &lane : m_lanes) {
        lane.cursor->setVisible(m_cursorUs >= 0);
        const double key = keyOf(m_cursorUs);
        lane.cursor->point1->setCoords(key, 0);
        lane.cursor->point2->setCoords(key, 1);
    }
    if (m_cursorUs >= 0)
        m_cursorLabel->setText(QStringLiteral("光标 %1　%2")
                                   .arg(DataPointChangeModel::timeText(m_cursorUs),
                                        cursorValues().join(QStringLiteral("　"))));
}

void DataPointChart::showFrame(qint64 frameId, qint64 timeUs)
{
    Q_UNUSED(frameId)
    if (m_lanes.isEmpty()) {
        m_cursorUs = timeUs;
        return;
    }
    const qint64 from = rangeFromUs();
    const qint64 to = rangeToUs();
    if (timeUs < from || timeUs > to) {
        const qint64 half = (to - from) / 2;
        m_follow = false;
        const QSignalBlocker blocker(m_followBox);
        m_followBox->setChecked(false);
        setTimeRange(timeUs - half, timeUs + half);
    }
    setCursorTime(timeUs);
}

const DataPointChart::Lane *DataPointChart::laneAt(const QPoint &pos) const
{
    for (const Lane &lane : m_lanes)
        if (lane.rect->rect().contains(pos))
            return &lane;
    return nullptr;
}

DataPointChart::Hit DataPointChart::hitAt(const QPoint &pos) const
{
    Hit hit;
    const Lane *lane = laneAt(pos);
    if (!lane || !m_history)
        return hit;
    const DataPointSeries &series = m_history->series(lane->point);
    const QCPAxis *x = lane->rect->axis(QCPAxis::atBottom);
    const QCPAxis *y = lane->rect->axis(QCPAxis::atLeft);
    const qint64 from = timeOf(x->pixelToCoord(pos.x() - HitRadius));
    const qint64 to = timeOf(x->pixelToCoord(pos.x() + HitRadius));
    const int end = std::min(series.lowerBound(to + 1), series.lowerBound(from) + HitScanLimit);
    double best = HitRadius * HitRadius + 1;
    for (int i = series.lowerBound(from); i < end; ++i) {
        const double dx = x->coordToPixel(keyOf(series.timeUs(i))) - pos.x();
        const double dy = y->coordToPixel(series.value(i)) - pos.y();
        const double d = dx * dx + dy * dy;
        if (d < best) {
            best = d;
            hit.point = lane->point;
            hit.sample = i;
        }
    }
    return hit;
}

QPoint DataPointChart::pixelOf(int point, int sample) const
{
    if (!m_history || point < 0 || point >= m_history->pointCount() || sample < 0
        || sample >= m_history->series(point).size())
        return QPoint();
    for (const Lane &lane : m_lanes) {
        if (lane.point != point)
            continue;
        const DataPointSeries &series = m_history->series(point);
        const double px
            = lane.rect->axis(QCPAxis::atBottom)->coordToPixel(keyOf(series.timeUs(sample)));
        const double py = lane.rect->axis(QCPAxis::atLeft)->coordToPixel(series.value(sample));
        const QPoint p(int(std::lround(px)), int(std::lround(py)));
        return lane.rect->rect().contains(p) ? p : QPoint();
    }
    return QPoint();
}

void DataPointChart::onPlotPress(QMouseEvent *event)
{
    m_pressPos = eventPos(event);
}

void DataPointChart::onPlotRelease(QMouseEvent *event)
{
    const QPoint pos = eventPos(event);
    if (event->button() != Qt::LeftButton || (pos - m_pressPos).manhattanLength() > 3)
        return;
    const Hit hit = hitAt(pos);
    if (hit.point >= 0) {
        const DataPointSeries &series = m_history->series(hit.point);
        setCursorTime(series.timeUs(hit.sample));
        emit frameClicked(series.frameId(hit.sample));
        return;
    }
    if (const Lane *lane = laneAt(pos))
        setCursorTime(timeOf(lane->rect->axis(QCPAxis::atBottom)->pixelToCoord(pos.x())));
}

void DataPointChart::onPlotMove(QMouseEvent *event)
{
    if (event->buttons() != Qt::NoButton)
        return;
    const QPoint pos = eventPos(event);
    const Hit hit = hitAt(pos);
    if (hit.point < 0) {
        QToolTip::hideText();
        return;
    }
    const DataPointSeries &series = m_history->series(hit.point);
    const QString text = QStringLiteral("%1 = %2\n#%3 %4 %5")
                             .arg(series.name, series.text(hit.sample))
                             .arg(series.frameId(hit.sample))
                             .arg(sourceText(series.source(hit.sample)),
                                  DataPointChangeModel::timeText(series.timeUs(hit.sample)));
    QToolTip::showText(m_plot->mapToGlobal(pos), text, m_plot);
}

void DataPointChart::onChangeClicked(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const qint64 id = index.data(DataPointChangeModel::FrameIdRole).toLongLong();
    showFrame(id, index.data(DataPointChangeModel::TimeUsRole).toLongLong());
    emit frameClicked(id);
}

bool DataPointChart::eventFilter(QObject *watched, QEvent *event)
{
    // Lanes are laid out anew at each size: the decimation follows.
    if (watched == m_plot && event->type() == QEvent::Resize) {
        m_dirty = true;
        scheduleRedraw();
    }
    return QWidget::eventFilter(watched, event);
}

void DataPointChart::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_dirty)
        scheduleRedraw();
}

// --- export -------------------------------------------------------------------

bool DataPointChart::exportCsv(const QString &path, QString *error)
{
    if (!m_history) {
        if (error)
            *error = QStringLiteral("没有数据点");
        return false;
    }
    return m_history->writeCsv(path, error);
}

bool DataPointChart::exportPng(const QString &path, QString *error)
{
    if (image().save(path, "PNG"))
        return true;
    if (error)
        *error = QStringLiteral("无法写入 ") + QDir::toNativeSeparators(path);
    return false;
}

void DataPointChart::chooseExportCsv()
{
    ExportFile::choose(
        this, QStringLiteral("导出数据点CSV"), SessionRecorder::captureDir(),
        QStringLiteral("lumo-datapoints"), QStringLiteral("csv"), QStringLiteral("CSV文件 (*.csv)"),
        [this](const QString &path, QString *error) { return exportCsv(path, error); });
}

void DataPointChart::chooseExportPng()
{
    ExportFile::choose(
        this, QStringLiteral("导出PNG"), SessionRecorder::captureDir(),
        QStringLiteral("lumo-chart"), QStringLiteral("png"), QStringLiteral("PNG图片 (*.png)"),
        [this](const QString &path, QString *error) { return exportPng(path, error); });
}
