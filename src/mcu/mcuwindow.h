#pragma once

#include "datapoint/json_struct.h"
#include "mcu/mcucmdwindow.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QWidget>

namespace Ui {
class McuWindow;
}

class QListWidgetItem;
class QTimer;
class ZemTool;
class ZemSerialPort;
class ZemFramer;
class ZemAnalyze;
class ZemJson;
class McuSettingWindow;

// The "模拟V4MCU" tab: plays the device-side MCU against a real Wi-Fi module.
// Frames from the module are logged ("WIFI:") and answered by the responder;
// the replies are completed, escaped, written and logged ("MCU:"). The user
// can send raw hex, report the data-point status once or on a timer, send
// module commands, and click any logged frame to read it decoded.
class McuWindow : public QWidget
{
    Q_OBJECT
public:
    explicit McuWindow(QWidget *parent = nullptr);
    ~McuWindow() override;

    // Called by the main window on tab changes and F5.
    void clearLog();
    // Closes the port when open (dropping the framer's partial frame); the
    // open button reads "打开串口" in any case. Automatic reports are left as
    // they are: their ticks send nothing while the port is closed.
    void closePort();
    // "第一次使用请输入product_key！" while the stored key is the placeholder.
    void showProductKeyHint();

    // The complete, unescaped status report (command 05) built from the
    // data-point table, checksum filled in.
    QByteArray buildStatusReport();
    // Shows the values a control frame (03 with action 01) sets.
    void applyControlFrame(const QByteArray &frame);

    ZemTool *tool() const { return m_tool; }
    ZemSerialPort *port() const { return m_port; }
    ZemFramer *framer() const { return m_framer; }
    ZemAnalyze *analyze() const { return m_analyze; }
    ZemJson *json() const { return m_json; }
    McuCmdWindow *cmdWindow() const { return m_cmdWindow; }
    McuSettingWindow *settingWindow() const { return m_settingWindow; }
    QTimer *uploadTimer() const { return m_uploadTimer; }
    bool isAutoUploading() const { return m_autoUpload; }
    // Puts the log entries collected since the last batch into the list now.
    void flushLog();

public slots:
    void SendCMD(CMD cmd);
    void UpdateUi(const QStringList &ports);
    void on_pushButton_open3_clicked();
    void fromFramer(const QByteArray &frame);
    void fromRespond(const QByteArray &reply);
    void on_pushButton_send3_clicked();
    void on_pushButton_productkey_clicked();
    void on_listWidget_itemClicked(QListWidgetItem *item);
    void jsonState(bool ok);
    void updateDataPointWindow(const QList<json_struct> &list);
    void autoUpLoad();
    void on_pushButton_updatejson_clicked();
    void on_pushButton_upload_clicked();
    void on_pushButton_autoupload_clicked();
    void on_pushButton_showcmd_clicked();
    void on_pushButton_setting_clicked();

private slots:
    void onPortLost();

private:
    void log(const QString &tag, const QByteArray &bytes);
    void writeToPort(const QByteArray &bytes);
    void stopAutoUpload();
    QByteArray firmwareRequest() const;
    void sendStatusReport();

    Ui::McuWindow *ui;
    ZemTool *m_tool = nullptr;
    ZemSerialPort *m_port = nullptr;
    ZemFramer *m_framer = nullptr;
    ZemAnalyze *m_analyze = nullptr;
    ZemJson *m_json = nullptr;
    QTimer *m_uploadTimer = nullptr;
    bool m_autoUpload = false;
    McuCmdWindow *m_cmdWindow = nullptr;
    McuSettingWindow *m_settingWindow = nullptr;
    QStringList m_pendingLog;
    QTimer *m_logFlushTimer = nullptr;
};
