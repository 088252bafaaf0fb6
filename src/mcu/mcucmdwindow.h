#pragma once

#include <QMetaType>
#include <QWidget>

namespace Ui {
class McuCmdWindow;
}

// A request the simulated MCU sends to the Wi-Fi module on the user's demand.
enum CMD {
    CMD_AIRLINK = 0,   // configuration request, mode 02
    CMD_SOFTAP = 1,    // configuration request, mode 01
    CMD_RESET = 2,     // module reset
    CMD_GETTIME = 3,   // network time request
    CMD_ONBORDING = 4, // binding mode
    CMD_STARTOTA = 5,  // ready to receive firmware
    CMD_TEST = 6,      // production-test mode
};
Q_DECLARE_METATYPE(CMD)

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
