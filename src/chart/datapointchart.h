// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QPoint>
#include <QStringList>
#include <QVector>
#include <QWidget>

class DataPointChangeModel;
class DataPointHistory;
class QCPAxisRect;
class QCPGraph;
class QCPItemStraightLine;
class QCheckBox;
class QCustomPlot;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMouseEvent;
class QTableView;
class QTimer;
class ZemTool;

// The data-point values of a line over time ("数据点曲线"): one lane per
// data point the user ticked in the list, stacked on one time axis; numbers
// as lines, bools and enums as steps (an enum's axis labelled with its item
// names), binary values as marks where they changed. Each sample is marked
// by the frame that carried it: a filled dot for a status report, a ring
// for an answer to a status query, a triangle for a control command.
//
// Beside the chart, every change in a table (time, point, old → new,
// frame). The wheel zooms and dragging pans the time axis; a click puts a
// cursor there, which reads every shown value at that time, and a click on
// a sample (or a row of the table) tells frameClicked().
//
// The history is read, never copied: each redraw takes the samples in view
// and keeps per pixel column the first, lowest, highest and last, so the
// plot holds a few thousand points whatever the history holds. Redraws are
// at most ~30 a second; a live chart follows the newest data until the user
// pans or zooms away from the end, and again once back there.
class DataPointChart : public QWidget
{
    Q_OBJECT
public:
    static constexpr int MinRedrawIntervalMs = 33;
    // Lanes shown for a product the user has not chosen for yet.
    static constexpr int DefaultShownPoints = 6;

    explicit DataPointChart(QWidget *parent = nullptr);
    ~DataPointChart() override;

    // Where the choice of points is remembered, per product key (may be null).
    void setSettings(ZemTool *settings) { m_settings = settings; }
    // The history shown (null: none, with a hint); it must outlive the chart
    // or be replaced first. `productKey` picks the remembered points; `live`
    // lets the chart follow the newest data.
    void setHistory(const DataPointHistory *history, const QString &productKey, bool live);
    const DataPointHistory *history() const { return m_history; }
    // The history gained samples (or was cleared): drawn at the next redraw.
    void historyChanged();

    // Which points have a lane.
    bool isPointShown(int point) const;
    void setPointShown(int point, bool shown);
    QVector<int> shownPoints() const { return m_shown; }

    // The time axis, in microseconds of the history's times.
    void setTimeRange(qint64 fromUs, qint64 toUs);
    qint64 rangeFromUs() const;
    qint64 rangeToUs() const;
    bool isFollowing() const { return m_follow; }

    // The cursor, and the values it reads: one "name value" per shown point.
    void setCursorTime(qint64 timeUs);
    qint64 cursorTimeUs() const { return m_cursorUs; }
    QStringList cursorValues() const;
    // Puts the cursor on a frame's time, bringing it into view.
    void showFrame(qint64 frameId, qint64 timeUs);

    // Where sample `sample` of `point` is drawn, in the plot widget's
    // coordinates (a null point when it is not in view).
    QPoint pixelOf(int point, int sample) const;
    QCustomPlot *plot() const { return m_plot; }

    // Redraws now when one is due (the redraw timer's work).
    void redraw();
    int redrawCount() const { return m_redraws; }
    // The points the plot holds now after decimation, over every lane.
    int drawnPointCount() const { return m_drawnPoints; }

    QImage image();
    bool exportPng(const QString &path, QString *error);
    bool exportCsv(const QString &path, QString *error);

signals:
    void frameClicked(qint64 frameId);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    struct Lane
    {
        int point = -1;
        QCPAxisRect *rect = nullptr;
        QCPGraph *line = nullptr;
        QCPGraph *marks[3] = {}; // per DataPointSource
        QCPItemStraightLine *cursor = nullptr;
    };
    struct Hit
    {
        int point = -1;
        int sample = -1;
    };

    void fillPointList();
    void loadShown();
    void saveShown();
    void buildLanes();
    void scheduleRedraw();
    void fillLane(Lane &lane, double fromKey, double toKey, int width);
    void setLaneValueRange(const Lane &lane);
    void onRangeChanged(QCPAxisRect *source);
    void followEnd();
    void updateCursor();
    void onPointItemChanged(QListWidgetItem *item);
    void onChangeClicked(const QModelIndex &index);
    void onPlotPress(QMouseEvent *event);
    void onPlotRelease(QMouseEvent *event);
    void onPlotMove(QMouseEvent *event);
    Hit hitAt(const QPoint &pos) const;
    const Lane *laneAt(const QPoint &pos) const;
    double keyOf(qint64 timeUs) const;
    qint64 timeOf(double key) const;
    void chooseExportCsv();
    void chooseExportPng();

    QCustomPlot *m_plot;
    QListWidget *m_points;
    QTableView *m_changes;
    DataPointChangeModel *m_changeModel;
    QLabel *m_cursorLabel;
    QLabel *m_hint;
    QCheckBox *m_followBox;
    QTimer *m_redrawTimer;
    QElapsedTimer m_sinceRedraw;
    ZemTool *m_settings = nullptr;

    const DataPointHistory *m_history = nullptr;
    QString m_productKey;
    QVector<int> m_shown;
    QVector<Lane> m_lanes;
    // Each point's value range so far, and how many samples it covers.
    QVector<double> m_min;
    QVector<double> m_max;
    QVector<int> m_scanned;
    qint64 m_originUs = 0; // key 0 of the time axis
    qint64 m_cursorUs = -1;
    bool m_live = false;
    bool m_follow = false;
    bool m_settingRange = false;
    bool m_dirty = false;
    QPoint m_pressPos;
    int m_redraws = 0;
    int m_drawnPoints = 0;
};
