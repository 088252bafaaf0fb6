#pragma once

#include <QByteArray>
#include <QStringList>
#include <QWidget>

namespace Ui {
class DoubleWindow;
}

class QPushButton;
class QTextEdit;
class QTimer;
class ZemSerialPort;

// The "双串口" tab: two serial ports side by side, typically one wired to the
// MCU (side 1, "COM1", left) and one to the Wi-Fi module (side 2, "COM2",
// right). Whatever a side receives is forwarded unchanged to the other side
// while the bridge is on, and shown as timestamped hex in that side's
// receive box. Preset lines and free hex text can be sent to either side.
//
// Forwarding comes first and never waits for the display: each chunk is
// written to the other port before its text is made. The text (with the
// chunk's arrival time) is made at once but drawn at most every DrawDelayMs,
// all chunks of that span in one edit of the box, so a busy line costs the
// GUI thread a few layouts and paints a second instead of one per chunk.
//
// A side whose port fails while open (adapter unplugged, far end gone) says
// so in its own receive box, with the time and the system's reason, and the
// bridge is switched off: the two devices no longer hear each other, and the
// bridge button must not claim they do. The lost port stays that side's
// choice: when it is listed again, its combo selects it, so one click on the
// open button reopens it; bridging is switched back on by the user.
class DoubleWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int DrawDelayMs = 20;

    explicit DoubleWindow(QWidget *parent = nullptr);
    ~DoubleWindow() override;

    // Closes whichever side is open; both open buttons read "打开串口".
    void closeBothPorts();
    // Empties both receive boxes (F5).
    void clearReceiveBoxes();

    ZemSerialPort *port1() const { return m_side1.port; }
    ZemSerialPort *port2() const { return m_side2.port; }
    bool bridgeOn() const { return m_bridge; }
    // The periodic flush of each side's held bytes (1 or 2).
    QTimer *flushTimer(int side) const;

    // Writes the hex text (non-hex characters skipped) to side "COM1" or
    // "COM2" if that side is open; otherwise nothing happens. Nothing is
    // added: no checksum, no escaping.
    void sendToSide(const QString &side, const QString &hexText);

public slots:
    void UpdateUi(const QStringList &ports);
    void com1OnDataReady(const QByteArray &data);
    void com2OnDataReady(const QByteArray &data);
    void readbuf1();
    void readbuf2();

private slots:
    void on_pushButton_open1_clicked();
    void on_pushButton_open2_clicked();
    void on_pushButton_double_clicked();

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

    void port1Lost(const QString &reason);
    void port2Lost(const QString &reason);

private:
    struct Side
    {
        ZemSerialPort *port = nullptr;
        QByteArray held;    // received bytes not turned into text yet (at most three)
        QString undrawn;    // text made but not in the box yet
        QTimer *flush = nullptr;
        QTimer *draw = nullptr;
        QString openedName; // the port this side opened last
        QString lostName;   // the port this side lost, until the user picks another
        bool afterNotice = false; // the box ends with a notice line
    };

    void toggleOpen(int side);
    void portLost(Side &side, QTextEdit *box, QPushButton *button, const QString &reason);
    void setBridge(bool on);
    void addText(Side &side, QString text);
    void received(Side &from, Side &to, const QByteArray &data);
    void flushHeld(Side &side, QTextEdit *box);
    void draw(Side &side, QTextEdit *box);
    void fillPresets(const QStringList &lines);
    QString presetLine(int line) const;

    Ui::DoubleWindow *ui;
    Side m_side1;
    Side m_side2;
    bool m_bridge = true;
};
