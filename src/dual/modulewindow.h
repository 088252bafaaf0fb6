// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "module/conformancereport.h"
#include "module/conformancerun.h"

#include <QWidget>

namespace Ui {
class ModuleWindow;
}

class ConformanceRun;
class PortControls;
class ZemFramer;
class DataPointDefinition;
class DefinitionStore;
class AnyLine;
class ZemTool;

// The simulated Wi-Fi module as a window, opened from the dual tab: a port,
// the options of a conformance run, the run button, the results (one row a
// step, with the frames of the selected step below) and the JUnit report.
// While no run is going on, the MCU's own frames are still answered as a
// module would (ModuleResponder), so the MCU sees a live module.
class ModuleWindow : public QWidget
{
    Q_OBJECT
public:
    // `settings` is the program's one settings object.
    explicit ModuleWindow(ZemTool *settings, QWidget *parent = nullptr);
    // A window used on its own (a tool, a test) with a settings object of its own.
    explicit ModuleWindow(QWidget *parent = nullptr);
    ~ModuleWindow() override;

    bool isRunning() const;
    const ConformanceReport &report() const { return m_report; }
    // Writes the report of the last run as JUnit XML and says how it went
    // in a message box.
    void saveJUnit(const QString &path);

protected:
    // Closing the window ends a run and frees the port for the other tabs.
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_pushButton_open_clicked();
    void on_pushButton_run_clicked();
    void on_pushButton_firmware_clicked();
    void on_pushButton_savejunit_clicked();
    void on_tableWidget_results_currentCellChanged(int row, int column, int previousRow,
                                                   int previousColumn);

private:
    // Takes the options and gets the definition; beginRun starts the run.
    void startRun();
    void beginRun(const DataPointDefinition &definition);
    void addResult(const StepResult &step);
    void runFinished();
    void answerIdle(const QByteArray &frame);

    Ui::ModuleWindow *ui;
    ZemTool *m_tool;
    DefinitionStore *m_definitions;
    AnyLine *m_line;
    PortControls *m_controls;
    ZemFramer *m_idleFramer; // frames while no run owns the line
    ConformanceRun *m_run = nullptr;
    ConformanceReport m_report;
    ConformanceOptions m_options; // of the run waiting for its definition
    bool m_waiting = false;       // for the definition of the next run
};
