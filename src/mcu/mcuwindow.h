// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointvalues.h"
#include "datapoint/json_struct.h"
#include "mcu/mcucmdwindow.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QWidget>

namespace Ui {
class McuWindow;
}

class QModelIndex;
class QTimer;
class ZemTool;
class ZemSerialPort;
class ZemFramer;
class ZemAnalyze;
class ZemJson;
class McuSettingWindow;
class PortControls;

// The "模拟V4MCU" tab: plays the device-side MCU against a real Wi-Fi module.
// Frames from the module are logged ("WIFI:") and answered by the responder;
// the replies are completed, escaped, written and logged ("MCU:"). The user
// can send raw hex, report the data-point status once or on a timer, send
// module commands, and click any logged frame to read it decoded.
//
// The port choices, the text of the product-key field and the data-point
// values set for each product are kept in the settings file as they change
// and restored at the next start; the port is never opened by itself.
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

    // The simulated MCU's port, for whoever watches the line (the protocol
    // analyzer's taps).
    ZemSerialPort *port() const { return m_port; }

public slots:
    void SendCMD(CMD cmd);
    void UpdateUi(const QStringList &ports);
    void on_pushButton_open3_clicked();
    void fromFramer(const QByteArray &frame);
    void fromRespond(const QByteArray &reply);
    void on_pushButton_send3_clicked();
    void on_pushButton_productkey_clicked();
    void on_listWidget_clicked(const QModelIndex &index);
    void jsonState(bool ok);
    void updateDataPointWindow(const QList<json_struct> &list);
    void autoUpLoad();
    void on_pushButton_updatejson_clicked();
    void on_pushButton_upload_clicked();
    void on_pushButton_autoupload_clicked();
    void on_pushButton_showcmd_clicked();
    void on_pushButton_setting_clicked();

private slots:
    void onPortLost(const QString &name, const QString &reason);
    void onPortReturned(const QString &name);
    void onFetchFailed(const QString &reason);

private:
    // Logs a transfer (see TrafficLog::addTransfer): `frame` is what the
    // receiver decodes from `wire`.
    void log(const QString &tag, const QByteArray &wire, const QByteArray &frame);
    // A one-line notice (time and text) that is no transfer.
    void notice(const QString &text);
    void startFetch();
    void showFetchResult(const QString &text);
    void showMessage(const QString &title, const QString &text, const QString &detail);
    void writeToPort(const QByteArray &bytes);
    void stopAutoUpload();
    QByteArray firmwareRequest() const;
    void sendStatusReport();
    void saveDataPointValues();

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
    // The data points' values; the table shows them.
    DataPointValues m_values;
    // The product key whose definition the table shows: its values are kept
    // under this key even after another key was stored and failed to fetch.
    QString m_valuesKey;
    PortControls *m_portControls = nullptr;
};
