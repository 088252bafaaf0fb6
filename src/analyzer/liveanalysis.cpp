// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyzer/liveanalysis.h"

#include "analyzer/frameanalyzer.h"
#include "analyzer/framelistmodel.h"
#include "capture/linemonitor.h"
#include "protocol/zemtool.h"

#include <QTimer>

#include <algorithm>

namespace {

constexpr int ExpireIntervalMs = 100;
constexpr int RateIntervalMs = 1000;
// Rows an answered request may lie back and still be redrawn at once; an
// older one is redrawn when it is next painted.
constexpr qint64 MaxRefreshBack = 8192;

} // namespace

LiveAnalysis::LiveAnalysis(LineMonitor *monitor, ZemTool *settings, QObject *parent)
    : QObject(parent)
    , m_monitor(monitor)
    , m_settings(settings)
    , m_analyzer(std::make_unique<FrameAnalyzer>())
{
    m_analyzer->setMaxRows(MaxRows);
    m_analyzer->setReplyLimitUs(qint64(DefaultReplyLimitMs) * 1000);
    m_model = new FrameListModel(this);
    m_model->setObjectName(QStringLiteral("liveModel"));
    if (m_settings)
        m_model->setDescriptionLookup(
            [tool = m_settings](const QString &key) { return tool->readSetting(key); });
    m_model->reset(m_analyzer.get());

    if (m_monitor)
        connect(m_monitor, &LineMonitor::segments, this, &LiveAnalysis::addSegments);
    m_expireTimer = new QTimer(this);
    m_expireTimer->setObjectName(QStringLiteral("expireTimer"));
    connect(m_expireTimer, &QTimer::timeout, this, &LiveAnalysis::expire);
    m_expireTimer->start(ExpireIntervalMs);
    m_rateTimer = new QTimer(this);
    connect(m_rateTimer, &QTimer::timeout, this, &LiveAnalysis::measureRate);
    m_rateTimer->start(RateIntervalMs);
}

LiveAnalysis::~LiveAnalysis()
{
    // The model goes first: it reads the analyzer's rows to the end.
    delete m_model;
    m_model = nullptr;
}

int LiveAnalysis::replyLimitMs() const
{
    return int(m_analyzer->replyLimitUs() / 1000);
}

void LiveAnalysis::setReplyLimitMs(int ms)
{
    m_analyzer->setReplyLimitUs(qint64(ms) * 1000);
}

void LiveAnalysis::addSegments(const QVector<LineSegment> &batch, const QStringList &portNames)
{
    Q_UNUSED(portNames)
    if (batch.isEmpty())
        return;
    emit aboutToAppend();
    const qint64 oldEnd = m_analyzer->endId();
    for (const LineSegment &segment : batch)
        m_analyzer->add(segment);
    m_model->appendFrom(*m_analyzer);
    // Earlier rows that this batch answered (a reply pairs with its
    // request) are redrawn.
    const qint64 changedFrom = std::max(m_analyzer->takeChangedFrom(), oldEnd - MaxRefreshBack);
    QVector<qint64> changed;
    for (qint64 id = std::max(changedFrom, m_analyzer->firstId()); id < oldEnd; ++id)
        changed.append(id);
    if (!changed.isEmpty())
        m_model->refreshIds(changed);
    emit appended();
}

void LiveAnalysis::expire()
{
    QVector<qint64> changed;
    m_analyzer->expire(LineMonitor::nowUs(), &changed);
    if (!changed.isEmpty())
        m_model->refreshIds(changed);
    emit checked();
}

void LiveAnalysis::measureRate()
{
    const qint64 frames = m_analyzer->counters().framesTotal();
    m_framesPerSecond
        = double(std::max<qint64>(0, frames - m_framesAtLastTick)) * 1000.0 / RateIntervalMs;
    m_framesAtLastTick = frames;
}

void LiveAnalysis::clear()
{
    m_analyzer->clear();
    m_model->reset(m_analyzer.get());
    m_framesAtLastTick = 0;
    m_framesPerSecond = 0;
    emit cleared();
}
