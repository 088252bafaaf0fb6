#pragma once

#include "datapoint/json_struct.h"

#include <QByteArray>
#include <QList>
#include <QWidget>

namespace Ui {
class McuWindow;
}

class ZemTool;
class ZemSerialPort;
class ZemFramer;
class ZemJson;

// The "模拟V4MCU" tab: plays the device-side MCU against a real Wi-Fi module.
class McuWindow : public QWidget
{
    Q_OBJECT
public:
    explicit McuWindow(QWidget *parent = nullptr);
    ~McuWindow() override;

    // Called by the main window on tab changes and F5.
    void clearLog();
    // Closes the port when open (dropping the framer's partial frame); the
    // open button reads "打开串口" in any case.
    void closePort();
    // "第一次使用请输入product_key！" while the stored key is the placeholder.
    void showProductKeyHint();

    ZemTool *tool() const { return m_tool; }
    ZemSerialPort *port() const { return m_port; }
    ZemFramer *framer() const { return m_framer; }
    ZemJson *json() const { return m_json; }

    // The complete, unescaped status report with the table's values.
    QByteArray buildStatusReport();
    // Shows the values a control frame (03, action 01) sets in the table.
    void applyControlFrame(const QByteArray &frame);

public slots:
    // Rebuilds the data-point table from a parsed definition.
    void updateDataPointWindow(QList<json_struct> list);

private:
    Ui::McuWindow *ui;
    ZemTool *m_tool;
    ZemSerialPort *m_port;
    ZemFramer *m_framer;
    ZemJson *m_json;
};
