#include "mcu/mcuwindow.h"
#include "ui_mcuwindow.h"

#include "datapoint/datapointtable.h"
#include "datapoint/zemjson.h"
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
    m_json = new ZemJson(this);
    connect(m_json, &ZemJson::ListOk, this, &McuWindow::updateDataPointWindow);
    m_json->loadJson(m_tool->readSetting(SettingKeys::ProductKey));
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

void McuWindow::updateDataPointWindow(QList<json_struct> list)
{
    DataPointTable::rebuild(ui->datapoint_table, list, this);
}

QByteArray McuWindow::buildStatusReport()
{
    return DataPointTable::buildStatusReport(ui->datapoint_table, m_json);
}

void McuWindow::applyControlFrame(const QByteArray &frame)
{
    DataPointTable::applyControlFrame(ui->datapoint_table, m_json, frame);
}
