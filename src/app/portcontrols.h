#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QComboBox;
class QPushButton;
class QWidget;
class ZemSerialPort;

// The controls of one serial port on a form: the five combo boxes (port,
// baud rate, data bits, stop bits, parity) and the open button. The window
// owns the port and the widgets; this class keeps them in step:
// - the port combo follows the host's port list and keeps its selection;
// - the open button opens the chosen port with the chosen settings and
//   reads "关闭串口" while it is open, "打开串口" otherwise;
// - a failed open shows "打开失败！" with the system's reason;
// - a port that fails while open (adapter pulled, far end gone) has closed
//   itself; the button says so and `lost` tells the window, which writes its
//   notice and sets its own state. The lost port stays the choice: when it
//   is listed again the combo selects it, so one click reopens the same
//   device, until the user picks another port or opens one.
class PortControls : public QObject
{
    Q_OBJECT
public:
    struct Widgets
    {
        QComboBox *port = nullptr;
        QComboBox *baudRate = nullptr;
        QComboBox *dataBits = nullptr;
        QComboBox *stopBits = nullptr;
        QComboBox *parity = nullptr;
        QPushButton *open = nullptr;
    };

    // `window` parents this object and the failure box.
    PortControls(ZemSerialPort *port, const Widgets &widgets, QWidget *window);

    bool isOpen() const;
    // Opens the chosen port with the chosen settings; a failure is shown in
    // a message box. Returns whether the port is open.
    bool open();
    // Closes the port if open; the button reads "打开串口" in any case.
    // Returns whether the port was open.
    bool close();
    // The open button's click: closes an open port, opens a closed one.
    void toggle();

public slots:
    // Refills the port combo with `ports`, in order. The selected name stays
    // selected while listed, a lost port is selected as soon as it is listed
    // again, and otherwise the first name is.
    void setPortList(const QStringList &ports);

signals:
    // The open port failed and closed itself; `name` is the port, `reason`
    // the system's text (may be empty).
    void lost(const QString &name, const QString &reason);
    // The port lost while open is listed again (not emitted once the user
    // chose another port).
    void returned(const QString &name);

private:
    void onPortLost(const QString &reason);

    ZemSerialPort *m_port;
    Widgets m_widgets;
    QWidget *m_window;
    QString m_openedName;      // the port opened last
    QString m_lostName;        // the port lost while open, until the user picks another
    bool m_lostListed = false; // whether the port list offers m_lostName
};
