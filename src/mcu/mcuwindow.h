// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/json_struct.h"
#include "engine/mcutransfer.h"
#include "mcu/mcucmdwindow.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QVector>
#include <QWidget>

namespace Ui {
class McuWindow;
}

class QModelIndex;
class QTimer;
class Line;
class McuSimulator;
class ZemTool;
class ZemSerialPort;
class ZemAnalyze;
class DataPointDefinition;
class DefinitionStore;
class ZemJson;
class McuSettingWindow;
class PortControls;
class SendControls;
class CommandListWindow;

// The "模拟V4MCU" tab: plays the device-side MCU against a real Wi-Fi module.
// It is a view over the engine (McuSimulator), which answers every frame the
// module sends; the tab logs the engine's transfers ("WIFI:", "MCU:",
// "SEND:"), shows its data-point values in the table and hands it what the
// user does. The user
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
    // `settings` is the program's one settings object (not owned).
    explicit McuWindow(ZemTool *settings, QWidget *parent = nullptr);
    // A tab used on its own (a tool, a test) with a settings object of its own.
    explicit McuWindow(QWidget *parent = nullptr);
    ~McuWindow() override;

    // Called by the main window on tab changes and F5.
    void clearLog();
    // Closes the port when open (dropping the framer's partial frame); the
    // open button reads "打开串口" in any case. Automatic reports are left as
    // they are: their ticks send nothing while the port is closed. With
    // `why`, a port that was open says so in the log, naming the port.
    void closePort(const QString &why = QString());
    // "第一次使用请输入product_key！" while the stored key is the placeholder.
    void showProductKeyHint();

    // The complete, unescaped status report (command 05) of the engine's
    // values (which the table shows), checksum filled in.
    QByteArray buildStatusReport();
    // Sets and shows the values a control frame (03 with action 01) sets.
    void applyControlFrame(const QByteArray &frame);

    // The engine behind the tab.
    McuSimulator *simulator() const { return m_sim; }
    // The simulated MCU's line and its local port, for whoever watches the
    // line (the protocol analyzer's taps).
    Line *line() const;
    ZemSerialPort *port() const;

public slots:
    void SendCMD(CMD cmd);
    void UpdateUi(const QStringList &ports);
    void on_pushButton_open3_clicked();
    void fromFramer(const QByteArray &frame);
    void fromRespond(const QByteArray &reply);
    void on_pushButton_send3_clicked();
    void on_pushButton_productkey_clicked();
    void on_listWidget_clicked(const QModelIndex &index);
    // A fetch ended: ok, or refused with what the service said.
    void jsonState(bool ok, const QString &detail);
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
    void onPortReconnected(const QString &name);
    void onFetchFailed(const QString &reason);
    void definitionReady(const QString &productKey, const DataPointDefinition &definition);
    void showTransfer(const McuTransfer &transfer);
    void onFirmwareOffered();

private:
    // A one-line notice (time and text) that is no transfer.
    void notice(const QString &text);
    void startFetch();
    void showFetchResult(const QString &text);
    void showMessage(const QString &title, const QString &text, const QString &detail);
    void startAutoUpload();
    void stopAutoUpload();
    void saveDataPointValues();

    Ui::McuWindow *ui;
    ZemTool *m_tool = nullptr;
    McuSimulator *m_sim = nullptr;
    ZemSerialPort *m_port = nullptr;
    ZemAnalyze *m_analyze = nullptr;
    DefinitionStore *m_definitions = nullptr;
    ZemJson *m_json = nullptr; // the store's fetcher
    QTimer *m_uploadTimer = nullptr;
    bool m_autoUpload = false;
    // Reports were on when the network line was lost: they go on once it
    // has reconnected by itself.
    bool m_resumeAutoUpload = false;
    McuCmdWindow *m_cmdWindow = nullptr;
    McuSettingWindow *m_settingWindow = nullptr;
    // The product key whose definition the table shows: its values are kept
    // under this key even after another key was stored and failed to fetch.
    QString m_valuesKey;
    PortControls *m_portControls = nullptr;
    // textEdit_send3's completion, periodic sends and history, and the tab's
    // command list.
    SendControls *m_send = nullptr;
    CommandListWindow *m_commands = nullptr;
};
