#include "mcu/mcuwindow.h"
#include "ui_mcuwindow.h"

#include "engine/settingkeys.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QMessageBox>

McuWindow::McuWindow(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::McuWindow)
{
    ui->setupUi(this);
    m_tool = new ZemTool(this);
    m_port = new ZemSerialPort(this);
    m_framer = new ZemFramer(m_tool, m_port, this);
}

McuWindow::~McuWindow()
{
    delete ui;
}

void McuWindow::clearLog()
{
    ui->listWidget->clear();
}

void McuWindow::closePort()
{
    if (m_port->isOpen()) {
        m_port->Close();
        m_framer->clear();
    }
    ui->pushButton_open3->setText(QStringLiteral("打开串口"));
}

void McuWindow::showProductKeyHint()
{
    if (m_tool->readSetting(SettingKeys::ProductKey) == SettingKeys::PlaceholderProductKey)
        QMessageBox::about(this, QStringLiteral("提示"), QStringLiteral("第一次使用请输入product_key！"));
}
