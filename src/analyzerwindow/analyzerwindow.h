// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analyzerwindow/replaydialog.h"
#include "protocol/linesegment.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class AnalyzerWindow;
}

class DataPointChart;
class DataPointDefinition;
class DataPointHistory;
class FrameAnalyzer;
class FrameFieldModel;
class FrameListModel;
class LiveAnalysis;
class QTabWidget;
class SessionRecorder;
class DefinitionStore;
class ZemTool;

// The protocol analyzer ("协议分析"): every frame that crosses the line of
// one tab, decoded, paired with its reply and checked, in a list with a
// field-by-field detail pane and a bytes pane. A top-level, non-modal window
// that the tab keeps: closing it only hides it, and the analysis goes on.
//
// The window is wiring: the frame list is a FrameListModel, the detail pane
// a FrameFieldModel of the selected frame, the bytes pane a HexDumpView that
// marks the selected field. Live, it shows the tab's LiveAnalysis, which
// the main window made beside the tab's LineMonitor and SessionRecorder and
// which runs whether the window is open or not. It can also open a capture
// file into an analyzer of its own and show it with the same views;
// "回到实时" goes back to the live line, which kept running meanwhile.
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

    // `live` is the tab's live analysis (null: only capture files, with an
    // empty live list of the window's own); `recorder` may be null (no
    // recording then). `settings` is the program's one settings object, for
    // the command names and the tab's product key; it must outlive the
    // window.
    AnalyzerWindow(Source source, LiveAnalysis *live, SessionRecorder *recorder, ZemTool *settings,
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

    // Where "回放" plays an opened capture: the tab's lines, asked for when
    // a replay starts. Without them the dialog says that no line is there.
    void setReplayTargets(std::function<ReplayTargets()> targets);
    ReplayDialog *replayDialog() const { return m_replay; }

signals:
    void mcuSideChanged(int side);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void onAboutToAppend();
    void onAppended();
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
    void on_pushButton_statistics_clicked();
    void on_pushButton_replay_clicked();

private:
    void setUpViews();
    void setUpTable();
    void selectFrame(qint64 id);
    void rebuildHistories();
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
    // Double-click or Enter on a pairing cell: selects the paired row.
    void goToPair(const QModelIndex &index);
    void setNotice(const QString &text);
    // The command column as wide as the longest name when the window
    // allows; the bytes pane as wide as one dump row.
    void fitColumns();
    QString shortCommandName(int code) const;
    void refreshStatistics();

    Ui::AnalyzerWindow *ui;
    Source m_source;
    LiveAnalysis *m_live;
    SessionRecorder *m_recorder;
    ZemTool *m_settings;
    DefinitionStore *m_definitions; // reads json/ for the detail pane
    FrameListModel *m_liveModel = nullptr;
    FrameFieldModel *m_fields = nullptr;
    bool m_follow = false; // the list was at its bottom when rows came

    std::unique_ptr<FrameAnalyzer> m_file;
    FrameListModel *m_fileModel = nullptr;
    QString m_filePath;
    QString m_fileNote; // why the file's analysis may be incomplete

    std::unique_ptr<DataPointDefinition> m_definition;
    // The values over time for the chart, with the definition chosen: the
    // live line's, fed as rows come, and the open file's.
    std::unique_ptr<DataPointHistory> m_liveHistory;
    std::unique_ptr<DataPointHistory> m_fileHistory;
    QString m_historyKey; // the product key they were read with
    QTabWidget *m_views = nullptr;
    DataPointChart *m_chart = nullptr;
    qint64 m_shownId = -1;
    QString m_clearNote;             // the live list was cleared: numbers go on
    int m_commandWidth = 0;          // the widest command text the settings give
    QWidget *m_statistics = nullptr; // the 统计 dialog, made when first asked for
    int m_mcuSide = 1;
    std::function<ReplayTargets()> m_replayTargets;
    QPointer<ReplayDialog> m_replay;
};
