// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/portcontrols.h"

#include <QByteArray>
#include <QStringList>
#include <QWidget>

namespace Ui {
class DoubleWindow;
}

class QTimer;
class ModuleWindow;
class ReceiveBox;
class ZemSerialPort;
class ZemTool;

// The "双串口" tab: two serial ports side by side, typically one wired to the
// MCU (side 1, "COM1", left) and one to the Wi-Fi module (side 2, "COM2",
// right). Whatever a side receives is forwarded unchanged to the other side
// while the bridge is on, and shown as timestamped hex in that side's
// receive box. Preset lines and free hex text can be sent to either side.
//
// Forwarding comes first and never waits for the display: each chunk is
// written to the other port before its text is made. The text (with the
// chunk's arrival time) is made at once; the receive box draws it a little
// later, all chunks of a short span in one edit (see ReceiveBox).
//
// A side whose port fails while open (adapter unplugged, far end gone) says
// so in its own receive box, with the time and the system's reason, and the
// bridge is switched off: the two devices no longer hear each other, and the
// bridge button must not claim they do. The lost port stays that side's
// choice: when it is listed again, its combo selects it, so one click on the
// open button reopens it; bridging is switched back on by the user.
//
// Each side's port choices, the bridge switch and "三版换行" are kept in the
// settings file as the user makes them and restored at the next start. The
// bridge comes back as the switch the user left, but no port is opened by
// itself: at start another program may be using the device, and grabbing
// it unasked would cut that program off. One click per side opens them.
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

    // The ports of side 1 ("COM1") and side 2 ("COM2"), for whoever watches
    // the line (the protocol analyzer's taps).
    ZemSerialPort *port1() const { return m_side1.port; }
    ZemSerialPort *port2() const { return m_side2.port; }

signals:
    // Bytes the user sent by hand (a preset line or a send box) to side 1
    // or 2, as they were written. The bridge's forwarding is not reported:
    // those bytes are the ones the other side already received.
    void ManualDataSent(int side, const QByteArray &bytes);

public slots:
    // The host's port list, offered on both sides.
    void UpdateUi(const QStringList &ports);

private slots:
    void com1OnDataReady(const QByteArray &data);
    void com2OnDataReady(const QByteArray &data);
    void readbuf1();
    void readbuf2();

    void on_pushButton_open1_clicked();
    void on_pushButton_open2_clicked();
    void on_pushButton_double_clicked();
    void on_checkBox_toggled(bool checked);

    void on_pushButton_left1_clicked();
    void on_pushButton_left2_clicked();
    void on_pushButton_left3_clicked();
    void on_pushButton_left4_clicked();
    void on_pushButton_right1_clicked();
    void on_pushButton_right2_clicked();
    void on_pushButton_right3_clicked();
    void on_pushButton_right4_clicked();
    void on_pushButton_send1_clicked();
    void on_pushButton_send2_clicked();
    void on_pushButton_v3_clicked();
    void on_pushButton_v4_clicked();
    // Opens the simulated module's window (created on first use).
    void on_pushButton_module_clicked();

private:
    struct Side
    {
        ZemSerialPort *port = nullptr;
        PortControls *controls = nullptr;
        ReceiveBox *box = nullptr;
        QByteArray held; // received bytes not turned into text yet (at most three)
        QTimer *flush = nullptr;
    };

    void setUpSide(Side &side, int n, const PortControls::Widgets &widgets, ReceiveBox *box);
    void sideLost(Side &side, const QString &name, const QString &reason);
    void setBridge(bool on);
    void received(Side &from, Side &to, const QByteArray &data);
    void flushHeld(Side &side);
    // Writes the hex text (non-hex characters skipped) to the side if it is
    // open; otherwise nothing happens. Nothing is added: no checksum, no
    // escaping.
    void sendToSide(Side &side, const QString &hexText);
    void fillPresets(const QStringList &lines);
    QString presetLine(int line) const;

    Ui::DoubleWindow *ui;
    ZemTool *m_settings = nullptr;
    Side m_side1; // "COM1", left
    Side m_side2; // "COM2", right
    bool m_bridge = true;
    ModuleWindow *m_moduleWindow = nullptr;
};
