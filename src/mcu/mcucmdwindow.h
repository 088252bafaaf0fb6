// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/cmd.h"

#include <QWidget>

namespace Ui {
class McuCmdWindow;
}

// The "指令界面" dialog: seven buttons, each naming one module request. It only
// names the request; the simulated-MCU tab builds and sends the frame.
class McuCmdWindow : public QWidget
{
    Q_OBJECT
public:
    explicit McuCmdWindow(QWidget *parent = nullptr);
    ~McuCmdWindow() override;

signals:
    void SENDCMD(CMD cmd);

private slots:
    void on_pushButton_airlink_clicked();
    void on_pushButton_softap_clicked();
    void on_pushButton_reset_clicked();
    void on_pushButton_gettime_clicked();
    void on_pushButton_onbording_clicked();
    void on_pushButton_startota_clicked();
    void on_pushButton_test_clicked();

private:
    Ui::McuCmdWindow *ui;
};
