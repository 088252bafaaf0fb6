// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/zemtool.h"

#include <QMainWindow>

namespace Ui {
class MainWindow;
}

class DoubleWindow;
class McuWindow;
class ToolWindow;
class About;
class AnalyzerWindow;
class DualLineTap;
class LineMonitor;
class LiveAnalysis;
class QPushButton;
struct ReplayTargets;
class SessionRecorder;
class ZemTool;

// The one top-level window: four tabs (dual port, simulated MCU, checksum
// tool, about), the window-wide keys Esc and F5, and the rule that the dual
// tab and the simulated-MCU tab never hold serial ports at the same time.
//
// The program ends when this window closes. The simulated MCU's command and
// settings dialogs are top-level windows of their own: left open, they would
// keep the event loop (and with it the responder, the bridge and every open
// port) running after the main window is gone, and a second instance could
// not open the port. Closing this window therefore closes the ports first,
// so nothing more is written, and then every other window, so that Qt's
// "last window closed" ends the event loop.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    DoubleWindow *doubleWindow() const { return m_doubleWindow; }
    McuWindow *mcuWindow() const { return m_mcuWindow; }
    ToolWindow *toolWindow() const { return m_toolWindow; }
    About *about() const { return m_about; }

    // The protocol analyzer of the dual tab (index 0) and of the simulated-MCU
    // tab (index 1). Each tab's line monitor, live analysis and session
    // recorder exist from the start, so frames are analysed and recorded
    // with the window closed; the window only shows them. It is made the
    // first time it is opened, and null until then.
    LineMonitor *lineMonitor(int tab) const;
    LiveAnalysis *liveAnalysis(int tab) const;
    SessionRecorder *sessionRecorder(int tab) const;
    AnalyzerWindow *analyzerWindow(int tab) const;
    // Opens (or raises) the analyzer of the current tab, when it has one: the
    // "协议分析" button beside the tabs and Ctrl+Shift+A.
    void openAnalyzer();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // Closing the main window (Esc included) ends the program: every port is
    // released and every other window of the program closes with it.
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_tabWidget_currentChanged(int index);

private:
    void fixSize(int width, int height);
    void setUpAnalyzers();
    // The lines "回放" of the tab's analyzer plays onto.
    ReplayTargets replayTargets(int tab) const;

    // One analyzer per line-watching tab: its taps, recording and window.
    struct Analyzer
    {
        LineMonitor *monitor = nullptr;
        LiveAnalysis *live = nullptr;
        SessionRecorder *recorder = nullptr;
        AnalyzerWindow *window = nullptr;
    };
    Analyzer m_analyzers[2];
    DualLineTap *m_dualTap = nullptr;
    QPushButton *m_analyzerButton = nullptr;

    Ui::MainWindow *ui;
    // The program's one settings object, handed to whoever reads settings.
    ZemTool *m_settings = nullptr;
    DoubleWindow *m_doubleWindow = nullptr;
    McuWindow *m_mcuWindow = nullptr;
    ToolWindow *m_toolWindow = nullptr;
    About *m_about = nullptr;
};
