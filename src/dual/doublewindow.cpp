#include "dual/doublewindow.h"
#include "ui_doublewindow.h"

#include "serial/zemserialport.h"

DoubleWindow::DoubleWindow(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::DoubleWindow)
    , m_port1(new ZemSerialPort(this))
    , m_port2(new ZemSerialPort(this))
{
    ui->setupUi(this);
}

DoubleWindow::~DoubleWindow()
{
    delete ui;
}

void DoubleWindow::closeBothPorts()
{
    m_port1->Close();
    m_port2->Close();
    ui->pushButton_open1->setText(QStringLiteral("打开串口"));
    ui->pushButton_open2->setText(QStringLiteral("打开串口"));
}

void DoubleWindow::clearReceiveBoxes()
{
    ui->textEdit_rec1->clear();
    ui->textEdit_rec2->clear();
}
