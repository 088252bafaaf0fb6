#pragma once

#include "datapoint/json_struct.h"
#include "mcu/mcucmdwindow.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QVector>
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
class PortControls;

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

    // Each byte line of the log keeps, under this role, the frame it shows
    // as the receiver reads it (unescaped): clicking decodes those bytes, not
    // the text. Header and notice lines carry nothing and decode to nothing.
    static constexpr int FrameRole = Qt::UserRole + 1;

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
    void onPortLost(const QString &name, const QString &reason);
    void onPortReturned(const QString &name);
    void onFetchFailed(const QString &reason);

private:
    // Logs a transfer: the header, then the wire bytes as hex text, keeping
    // `frame` (the bytes the receiver decodes) with the hex line.
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
    // Log lines not yet in the list: their texts, the frame each byte line
    // keeps (null for headers and notices), and which ones are notices.
    QStringList m_pendingLog;
    QVector<QByteArray> m_pendingFrames;
    QVector<int> m_pendingNotices;
    PortControls *m_portControls = nullptr;
    QTimer *m_logFlushTimer = nullptr;
};
