// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "analyzer/duallinetap.h"
#include "analyzer/liveanalysis.h"
#include "analyzerwindow/analyzerwindow.h"
#include "analyzerwindow/replaydialog.h"
#include "capture/linemonitor.h"
#include "capture/sessionrecorder.h"
#include "dual/doublewindow.h"
#include "mcu/mcuwindow.h"
#include "protocol/zemtool.h"
#include "tools/about.h"
#include "tools/toolwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

namespace {
constexpr int NarrowWidth = 600;
constexpr int WideWidth = 950;
constexpr int WindowHeight = 600;
constexpr int DualTabIndex = 0;
constexpr int McuTabIndex = 1;
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    m_settings = new ZemTool(this);
    // Said once, after the window shows: a file of many megabytes is not
    // this program's (a few kilobytes), and the user should know why the
    // start took long.
    if (!m_settings->settingsWarning().isEmpty()) {
        QTimer::singleShot(0, this, [this] {
            QMessageBox::warning(this, QStringLiteral("设置文件过大"),
                                 m_settings->settingsWarning());
        });
    }
    setWindowTitle(QStringLiteral("Lumo串口调试助手V2.0.2"));
    fixSize(NarrowWidth, WindowHeight);

    // Created in tab order, each owned by its page.
    m_doubleWindow = new DoubleWindow(m_settings, ui->doubleWindow);
    m_mcuWindow = new McuWindow(m_settings, ui->mcuWindow);
    m_toolWindow = new ToolWindow(ui->toolWindow);
    m_about = new About(ui->aboutWindow);
    // Each tab fills its page, so its own layout arranges it to the page's
    // size whatever the font and the tab bar take.
    ui->doubleLayout->addWidget(m_doubleWindow);
    ui->mcuLayout->addWidget(m_mcuWindow);
    ui->toolLayout->addWidget(m_toolWindow);
    ui->aboutLayout->addWidget(m_about);
    setUpAnalyzers();
}

MainWindow::~MainWindow()
{
    // A recording ends with the program: what the taps still hold (a frame
    // half received, the last few milliseconds of the line) goes into the
    // file before the taps themselves are destroyed.
    for (Analyzer &a : m_analyzers)
        if (a.recorder)
            a.recorder->stop();
    // The windows show the live analyses: they go first.
    for (Analyzer &a : m_analyzers) {
        delete a.window;
        a.window = nullptr;
    }
    delete ui;
}

void MainWindow::fixSize(int width, int height)
{
    setFixedSize(width, height);
    ui->tabWidget->resize(width, height);
}

void MainWindow::setUpAnalyzers()
{
    for (int tab : {DualTabIndex, McuTabIndex}) {
        Analyzer &a = m_analyzers[tab];
        a.monitor = new LineMonitor(this);
        a.live = new LiveAnalysis(a.monitor, m_settings, this);
        a.recorder = new SessionRecorder(m_settings, this);
        a.recorder->watch(a.monitor);
    }
    // Dual tab: each side's reads, in the direction the user's choice of MCU
    // side gives them, and what the user sends by hand.
    m_dualTap = new DualLineTap(m_analyzers[DualTabIndex].monitor, m_doubleWindow->line1(),
                                m_doubleWindow->line2(), this);
    connect(m_doubleWindow, &DoubleWindow::ManualDataSent, m_dualTap, &DualLineTap::addSentByHand);
    // Simulated-MCU tab: the module's bytes come in, Lumo's own go out.
    m_analyzers[McuTabIndex].monitor->attach(m_mcuWindow->line(), LineDirection::ModuleToMcu, true);

    // Beside the tabs, not on them: the four tabs keep their widgets and
    // sizes. Only as tall as the tab bar, so the pages keep their height.
    m_analyzerButton = new QPushButton(QStringLiteral("协议分析"), ui->tabWidget);
    m_analyzerButton->setObjectName(QStringLiteral("pushButton_analyzer"));
    m_analyzerButton->setToolTip(QStringLiteral("打开本页串口的协议分析窗口（Ctrl+Shift+A）"));
    m_analyzerButton->setFocusPolicy(Qt::NoFocus);
    m_analyzerButton->setFlat(true);
    ui->tabWidget->setCornerWidget(m_analyzerButton, Qt::TopRightCorner);
    connect(m_analyzerButton, &QPushButton::clicked, this, &MainWindow::openAnalyzer);
    auto *shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+A")), this);
    shortcut->setObjectName(QStringLiteral("shortcut_analyzer"));
    connect(shortcut, &QShortcut::activated, this, &MainWindow::openAnalyzer);
    m_analyzerButton->setEnabled(ui->tabWidget->currentIndex() <= McuTabIndex);
}

LineMonitor *MainWindow::lineMonitor(int tab) const
{
    return tab == DualTabIndex || tab == McuTabIndex ? m_analyzers[tab].monitor : nullptr;
}

LiveAnalysis *MainWindow::liveAnalysis(int tab) const
{
    return tab == DualTabIndex || tab == McuTabIndex ? m_analyzers[tab].live : nullptr;
}

SessionRecorder *MainWindow::sessionRecorder(int tab) const
{
    return tab == DualTabIndex || tab == McuTabIndex ? m_analyzers[tab].recorder : nullptr;
}

AnalyzerWindow *MainWindow::analyzerWindow(int tab) const
{
    return tab == DualTabIndex || tab == McuTabIndex ? m_analyzers[tab].window : nullptr;
}

void MainWindow::openAnalyzer()
{
    const int tab = ui->tabWidget->currentIndex();
    if (tab != DualTabIndex && tab != McuTabIndex)
        return;
    Analyzer &a = m_analyzers[tab];
    if (!a.window) {
        const auto source
            = tab == DualTabIndex ? AnalyzerWindow::Source::Dual : AnalyzerWindow::Source::Mcu;
        // Owned by this window, shown as a window of its own.
        a.window = new AnalyzerWindow(source, a.live, a.recorder, m_settings, this);
        if (tab == DualTabIndex) {
            a.window->setMcuSide(m_dualTap->mcuSide());
            connect(a.window, &AnalyzerWindow::mcuSideChanged, m_dualTap, &DualLineTap::setMcuSide);
        }
        a.window->setReplayTargets([this, tab] { return replayTargets(tab); });
    }
    a.window->show();
    a.window->raise();
    a.window->activateWindow();
}

ReplayTargets MainWindow::replayTargets(int tab) const
{
    ReplayTargets t;
    constexpr int ToMcu = int(LineDirection::ModuleToMcu);
    constexpr int ToModule = int(LineDirection::McuToModule);
    if (tab == McuTabIndex) {
        // The simulated MCU's one port: whatever is played goes out there.
        t.lines[ToMcu] = t.lines[ToModule] = m_mcuWindow->line();
        t.names[ToMcu] = t.names[ToModule] = QStringLiteral("“模拟V4MCU”页的串口");
        return t;
    }
    // The dual tab: what the module sent goes to the side wired to the MCU,
    // what the MCU sent to the other, as in the recording.
    const int mcuSide = m_dualTap->mcuSide();
    const int moduleSide = mcuSide == 1 ? 2 : 1;
    auto lineOf = [this](int side) {
        return side == 1 ? m_doubleWindow->line1() : m_doubleWindow->line2();
    };
    t.lines[ToMcu] = lineOf(mcuSide);
    t.lines[ToModule] = lineOf(moduleSide);
    t.names[ToMcu] = QStringLiteral("串口%1（接MCU）").arg(mcuSide);
    t.names[ToModule] = QStringLiteral("串口%1（接模组）").arg(moduleSide);
    // The tab's taps hear only what the ports read; replayed bytes are new
    // on the line, as if sent by hand.
    t.sent = [tap = QPointer<DualLineTap>(m_dualTap), mcuSide,
              moduleSide](LineDirection d, const QByteArray &bytes) {
        if (tap)
            tap->addSentByHand(d == LineDirection::ModuleToMcu ? mcuSide : moduleSide, bytes);
    };
    return t;
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        close();
        break;
    case Qt::Key_F5:
        m_doubleWindow->clearReceiveBoxes();
        m_mcuWindow->clearLog();
        break;
    default:
        QMainWindow::keyPressEvent(event);
        break;
    }
}

void MainWindow::on_tabWidget_currentChanged(int index)
{
    // Created before the tab objects exist? setupUi does not switch tabs, but
    // be safe against a signal during construction.
    if (!m_doubleWindow || !m_mcuWindow)
        return;
    if (m_analyzerButton)
        m_analyzerButton->setEnabled(index == DualTabIndex || index == McuTabIndex);
    if (index == McuTabIndex) {
        fixSize(WideWidth, WindowHeight);
        // The two tabs never hold one port: whatever the dual tab had open
        // is closed, and it says so, or a bridge the user left running
        // would stop without a word.
        m_doubleWindow->closeBothPorts(QStringLiteral("切换到“模拟V4MCU”页，两页不同时占用串口"));
        m_mcuWindow->showProductKeyHint();
    } else {
        fixSize(NarrowWidth, WindowHeight);
        m_mcuWindow->closePort(QStringLiteral("离开“模拟V4MCU”页，两页不同时占用串口"));
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    m_doubleWindow->closeBothPorts();
    m_mcuWindow->closePort();
    // The dialogs of the simulated-MCU tab and any other window the program
    // shows; hidden ones do not keep the event loop alive.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows)
        if (window != this && window->isVisible())
            window->close();
}
