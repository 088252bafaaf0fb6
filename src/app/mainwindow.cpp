#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "dual/doublewindow.h"
#include "mcu/mcuwindow.h"
#include "tools/about.h"
#include "tools/toolwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>

namespace {
constexpr int NarrowWidth = 600;
constexpr int WideWidth = 950;
constexpr int WindowHeight = 600;
constexpr int McuTabIndex = 1;
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Lumo串口调试助手V2.0.2"));
    fixSize(NarrowWidth, WindowHeight);

    // Created in tab order, each owned by its page.
    m_doubleWindow = new DoubleWindow(ui->doubleWindow);
    m_mcuWindow = new McuWindow(ui->mcuWindow);
    m_toolWindow = new ToolWindow(ui->toolWindow);
    m_about = new About(ui->aboutWindow);
    // Each tab fills its page, so its own layout arranges it to the page's
    // size whatever the font and the tab bar take.
    ui->doubleLayout->addWidget(m_doubleWindow);
    ui->mcuLayout->addWidget(m_mcuWindow);
    ui->toolLayout->addWidget(m_toolWindow);
    ui->aboutLayout->addWidget(m_about);
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::fixSize(int width, int height)
{
    setFixedSize(width, height);
    ui->tabWidget->resize(width, height);
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
    if (index == McuTabIndex) {
        fixSize(WideWidth, WindowHeight);
        m_doubleWindow->closeBothPorts();
        m_mcuWindow->showProductKeyHint();
    } else {
        fixSize(NarrowWidth, WindowHeight);
        m_mcuWindow->closePort();
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
