// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"

#include <QObject>
#include <QStringList>
#include <QVector>

#include <memory>

class FrameAnalyzer;
class FrameListModel;
class LineMonitor;
class QTimer;
class ZemTool;

// The live analysis of one tab's line: every segment the tab's LineMonitor
// hands on is decoded, paired and checked by a FrameAnalyzer, and its rows
// go into a FrameListModel, from the moment the tab's ports open. It is
// made beside the monitor and lives as long as it; the analyzer window
// only shows it, so frames that crossed the line before the window was
// first opened are in its list.
//
// Requests still waiting are checked against the reply limit on a timer of
// its own, so a missing reply is marked with no further traffic; the frame
// rate is measured once a second.
class LiveAnalysis : public QObject
{
    Q_OBJECT
public:
    // The list keeps this many rows; older ones are dropped a block at a
    // time (a recording keeps everything).
    static constexpr qint64 MaxRows = 500000;
    static constexpr int DefaultReplyLimitMs = 200;

    // `settings` gives the command descriptions; `monitor` may be null (the
    // rows then come only through addSegments()).
    LiveAnalysis(LineMonitor *monitor, ZemTool *settings, QObject *parent = nullptr);
    ~LiveAnalysis() override;

    LineMonitor *monitor() const { return m_monitor; }
    ZemTool *settings() const { return m_settings; }
    FrameAnalyzer *analyzer() const { return m_analyzer.get(); }
    FrameListModel *model() const { return m_model; }

    int replyLimitMs() const;
    void setReplyLimitMs(int ms);
    // Frames (v4 and v3) per second over the last whole second.
    double framesPerSecond() const { return m_framesPerSecond; }

    // Forgets every row and count.
    void clear();

public slots:
    void addSegments(const QVector<LineSegment> &batch, const QStringList &portNames);
    // Marks the requests whose reply limit has passed by now.
    void expire();

signals:
    // Around each batch of new rows: a view that follows the bottom of the
    // list looks where it is before, and scrolls after.
    void aboutToAppend();
    void appended();
    // After each reply-limit check (ten times a second): counts may have
    // changed.
    void checked();
    void cleared();

private:
    void measureRate();

    LineMonitor *m_monitor;
    ZemTool *m_settings;
    std::unique_ptr<FrameAnalyzer> m_analyzer;
    FrameListModel *m_model = nullptr;
    QTimer *m_expireTimer = nullptr;
    QTimer *m_rateTimer = nullptr;
    qint64 m_framesAtLastTick = 0;
    double m_framesPerSecond = 0;
};
