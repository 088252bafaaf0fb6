// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analyzer/linesegment.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <memory>

namespace Ui {
class AnalyzerWindow;
}

class DataPointDefinition;
class FrameAnalyzer;
class FrameListModel;
class LineMonitor;
class QTimer;
class SessionRecorder;
class ZemTool;

// The protocol analyzer ("协议分析"): every frame that crosses the line of
// one tab, decoded, paired with its reply and checked, in a list with a
// field-by-field detail pane and a bytes pane. A top-level, non-modal window
// that the tab keeps: closing it only hides it, and the analysis goes on.
//
// Live, it takes the segments of the tab's LineMonitor (the monitor exists
// before the window, so a session recorder can run without it). It can also
// open a capture file into an analyzer of its own and show it with the same
// views; "回到实时" goes back to the live line, which kept running meanwhile.
//
// Opened from the dual tab it shows both directions between the two sides;
// which side is wired to the MCU is a choice here (side 1 by default), told
// to whoever taps the ports through mcuSideChanged(). Opened from the
// simulated-MCU tab, the module's frames are 模组→MCU and Lumo's own are
// MCU→模组.
class AnalyzerWindow : public QWidget
{
    Q_OBJECT
public:
    enum class Source { Dual, Mcu };

    AnalyzerWindow(Source source, LineMonitor *monitor, SessionRecorder *recorder,
                   QWidget *parent = nullptr);
    ~AnalyzerWindow() override;

    Source source() const { return m_source; }

    // Offline analysis of a capture file with the same views. On failure a
    // message box says why and the window stays as it was.
    bool openCapture(const QString &path);
    // Back to the live line (also the "回到实时" button).
    void showLive();
    bool showsFile() const { return !m_filePath.isEmpty(); }
    QString filePath() const { return m_filePath; }

    // The analyzer whose rows the list shows now: the live one, or the
    // file's while a capture is open.
    FrameAnalyzer *analyzer() const;
    FrameListModel *model() const;

    // Writes the list as it is filtered now as CSV (UTF-8).
    bool exportCsv(const QString &path, QString *error = nullptr);

    // Which dual-tab side is wired to the MCU: 1 or 2.
    int mcuSide() const { return m_mcuSide; }
    void setMcuSide(int side);

signals:
    void mcuSideChanged(int side);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void onSegments(const QVector<LineSegment> &batch, const QStringList &portNames);
    void onExpireTick();
    void onRateTick();
    void onRowSelected();
    void onFieldSelected();
    void applyFilter();
    void onReplyLimitChanged(int ms);
    void onDefinitionChosen(int index);
    void onRecordingChanged(bool recording, const QString &path);

    void on_pushButton_copyHex_clicked();
    void on_pushButton_copyText_clicked();
    void on_pushButton_exportCsv_clicked();
    void on_pushButton_record_clicked();
    void on_checkBox_autoRecord_toggled(bool checked);
    void on_pushButton_openCapture_clicked();
    void on_pushButton_live_clicked();
    void on_pushButton_clear_clicked();

private:
    void setUpTable();
    void setUpFilters();
    void fillDefinitions();
    void loadDefinition(const QString &productKey);
    void useModel(FrameListModel *model, FrameAnalyzer *analyzer);
    void afterAppend(bool follow);
    void updateCounters();
    void updateSourceLabel();
    void showFields(qint64 id);
    void clearDetail();
    QVector<int> selectedRows() const;
    bool atBottom() const;

    Ui::AnalyzerWindow *ui;
    Source m_source;
    LineMonitor *m_monitor;
    SessionRecorder *m_recorder;
    ZemTool *m_settings = nullptr;

    std::unique_ptr<FrameAnalyzer> m_live;
    FrameListModel *m_liveModel = nullptr;
    std::unique_ptr<FrameAnalyzer> m_file;
    FrameListModel *m_fileModel = nullptr;
    QString m_filePath;
    QString m_fileNote; // why the file's analysis may be incomplete

    std::unique_ptr<DataPointDefinition> m_definition;
    QByteArray m_shownFrame; // unescaped frame of the selected row
    qint64 m_shownId = -1;

    QTimer *m_expireTimer = nullptr;
    QTimer *m_rateTimer = nullptr;
    qint64 m_framesAtLastTick = 0;
    double m_framesPerSecond = 0;
    int m_mcuSide = 1;
};
