// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QComboBox;
class QPushButton;
class QWidget;
class Line;
class ZemTool;

// The controls of one line on a form: the five combo boxes (port, baud
// rate, data bits, stop bits, parity) and the open button. The window owns
// the line and the widgets; this class keeps them in step:
// - the port combo follows the host's port list and keeps its selection;
// - the open button opens the chosen port with the chosen settings and
//   reads "关闭串口" while it is open, "打开串口" otherwise;
// - a failed open shows "打开失败！" with the system's reason;
// - a port that fails while open (adapter pulled, far end gone) has closed
//   itself; the button says so and `lost` tells the window, which writes its
//   notice and sets its own state. The lost port stays the choice: when it
//   is listed again the combo selects it, so one click reopens the same
//   device, until the user picks another port or opens one.
// - with remember(), the choices are kept in the settings file as they are
//   made and restored at the next start. A remembered port that is not
//   plugged in is shown as "<name>（未连接）" and selected, and taken as
//   soon as it is listed, the same way as a lost port (but without the
//   `returned` notice: nothing was lost in this run). A selected port that
//   vanishes while closed is kept the same way: the choice never changes
//   behind the user's back.
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
    PortControls(Line *line, const Widgets &widgets, QWidget *window);

    bool isOpen() const;
    // Opens the chosen port with the chosen settings; a failure is shown in
    // a message box. Returns whether the port is open.
    bool open();
    // Closes the port if open; the button reads "打开串口" in any case.
    // Returns whether the port was open.
    bool close();
    // The open button's click: closes an open port, opens a closed one.
    void toggle();

    // Restores the choices stored under `group` (see SettingKeys) and stores
    // each new choice there from now on: the baud rate, data bits, stop bits
    // and parity when they change, the port when the user picks one or a
    // port is opened. Odd stored values (an unknown baud rate, an index out
    // of range) leave the form's own choice. Lists the host's ports at once,
    // so that the remembered port is shown from the first moment.
    void remember(ZemTool *settings, const QString &group);
    // The port that the open button opens: the selected name (for the item
    // of a remembered port that is not plugged in, the port's bare name).
    QString chosenName() const;

public slots:
    // Refills the port combo with `ports`, in order. The selected name stays
    // selected while listed; a selected or lost port that is not listed
    // stays selected as "<name>（未连接）" and is selected as soon as it is
    // listed again. Only with nothing chosen yet is the first name selected.
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
    void onPortActivated(int index);
    void forgetAwaited();
    void showChosenAsToolTip();
    void store(const QString &key, const QString &value);

    Line *m_line;
    Widgets m_widgets;
    QWidget *m_window;
    ZemTool *m_settings = nullptr; // where the choices are kept, if anywhere
    QString m_group;
    QString m_openedName; // the port opened last
    QString m_choice;     // the port the user picked, opened or had remembered
    // The port to select as soon as it is listed, until the user picks
    // another or opens one: the port lost while open, or the port
    // remembered from the last run.
    QString m_awaitedName;
    bool m_awaitedLost = false;   // lost in this run: say so when it returns
    bool m_awaitedListed = false; // whether the port list offers m_awaitedName
    bool m_absentShown = false;   // the last combo item marks m_awaitedName as not plugged in
};
