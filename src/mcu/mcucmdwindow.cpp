// SPDX-License-Identifier: GPL-3.0-or-later
#include "mcu/mcucmdwindow.h"
#include "ui_mcucmdwindow.h"

McuCmdWindow::McuCmdWindow(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::McuCmdWindow)
{
    qRegisterMetaType<CMD>("CMD");
    ui->setupUi(this);
}

McuCmdWindow::~McuCmdWindow()
{
    delete ui;
}

void McuCmdWindow::on_pushButton_airlink_clicked()
{
    emit SENDCMD(CMD_AIRLINK);
}

void McuCmdWindow::on_pushButton_softap_clicked()
{
    emit SENDCMD(CMD_SOFTAP);
}

void McuCmdWindow::on_pushButton_reset_clicked()
{
    emit SENDCMD(CMD_RESET);
}

void McuCmdWindow::on_pushButton_gettime_clicked()
{
    emit SENDCMD(CMD_GETTIME);
}

void McuCmdWindow::on_pushButton_onbording_clicked()
{
    emit SENDCMD(CMD_ONBORDING);
}

void McuCmdWindow::on_pushButton_startota_clicked()
{
    emit SENDCMD(CMD_STARTOTA);
}

void McuCmdWindow::on_pushButton_test_clicked()
{
    emit SENDCMD(CMD_TEST);
}
