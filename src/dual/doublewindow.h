#pragma once

#include <QWidget>

namespace Ui {
class DoubleWindow;
}

class ZemSerialPort;

// The "双串口" tab: two serial ports side by side, bridged to each other.
class DoubleWindow : public QWidget
{
    Q_OBJECT
public:
    explicit DoubleWindow(QWidget *parent = nullptr);
    ~DoubleWindow() override;

    // Closes whichever side is open; both open buttons read "打开串口".
    void closeBothPorts();
    // Empties both receive boxes (F5).
    void clearReceiveBoxes();

    ZemSerialPort *port1() const { return m_port1; }
    ZemSerialPort *port2() const { return m_port2; }

private:
    Ui::DoubleWindow *ui;
    ZemSerialPort *m_port1;
    ZemSerialPort *m_port2;
};
