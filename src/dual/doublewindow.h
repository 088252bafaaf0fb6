// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "widgets/portcontrols.h"

#include <QByteArray>
#include <QStringList>
#include <QWidget>

namespace Ui {
class DoubleWindow;
}

class QTimer;
class Line;
class LineBridge;
class ModuleWindow;
class ReceiveBox;
class AnyLine;
class ZemSerialPort;
class ZemTool;
class SendControls;
class CommandListWindow;

// The "双串口" tab: two serial ports side by side, typically one wired to the
// MCU (side 1, "COM1", left) and one to the Wi-Fi module (side 2, "COM2",
// right). Whatever a side receives is forwarded unchanged to the other side
// while the bridge is on, and shown as timestamped hex in that side's
// receive box. Preset lines and free hex text can be sent to either side.
//
// The forwarding itself is the core's LineBridge: each chunk is written to
// the other line before the tab sees it. The text (with the
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
// Each send box completes frames, sends periodically and keeps its history
// (SendControls); the tab's command list sends through either box.
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
    // `settings` is the program's one settings object.
    explicit DoubleWindow(ZemTool *settings, QWidget *parent = nullptr);
    // A tab used on its own (a tool, a test) with a settings object of its own.
    explicit DoubleWindow(QWidget *parent = nullptr);
    ~DoubleWindow() override;

    // Closes whichever side is open; both open buttons read "打开串口".
    // With `why`, each side closed says so in its receive box, naming its
    // port ("串口 X 已关闭：why").
    void closeBothPorts(const QString &why = QString());
    // Empties both receive boxes (F5).
    void clearReceiveBoxes();

    // The lines of side 1 ("COM1") and side 2 ("COM2"), for whoever watches
    // them (the protocol analyzer's taps, the recorder).
    Line *line1() const;
    Line *line2() const;
    // Their local serial ports, for what only a local port has.
    ZemSerialPort *port1() const;
    ZemSerialPort *port2() const;
    LineBridge *bridge() const { return m_bridge; }

signals:
    // Bytes the user sent by hand (a preset line or a send box) to side 1
    // or 2, as they were written. The bridge's forwarding is not reported:
    // those bytes are the ones the other side already received.
    void ManualDataSent(int side, const QByteArray &bytes);

public slots:
    // The host's port list, offered on both sides.
    void UpdateUi(const QStringList &ports);

private slots:
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
        AnyLine *line = nullptr;
        PortControls *controls = nullptr;
        ReceiveBox *box = nullptr;
        QByteArray held; // received bytes not turned into text yet (at most three)
        QTimer *flush = nullptr;
        // The bridge was on when this side's network line was lost: it is
        // switched on again when the line reconnects by itself.
        bool bridgeCut = false;
        // The send box's completion, periodic sends and history.
        SendControls *send = nullptr;
    };

    void setUp();
    void setUpSide(Side &side, int n, const PortControls::Widgets &widgets, ReceiveBox *box);
    void setUpSending();
    Side &side(int n) { return n == 2 ? m_side2 : m_side1; }
    void sideLost(int side, const QString &name, const QString &reason, bool bridgeWasOn);
    void sideReconnected(Side &side, const QString &name);
    void addNotice(Side &side, const QString &text);
    void showBridge(bool on);
    void received(int side, const QByteArray &data);
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
    LineBridge *m_bridge = nullptr;
    ModuleWindow *m_moduleWindow = nullptr;
    CommandListWindow *m_commands = nullptr;
};
