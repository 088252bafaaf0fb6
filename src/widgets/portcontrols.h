// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/linesettings.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QComboBox;
class QMessageBox;
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
// - with offerNetworkLines(), the network lines kept in the settings file
//   (see NetworkPortList) follow the local ports, and a last entry
//   "添加网络串口…" opens NetworkPortDialog to add or remove one; a line
//   added in one field is offered in every field at once.
// - a network line connects in the background: its failure to get there
//   arrives later (OpenFailed) and is shown in the same "打开失败！" box. Lost
//   while open, it is reported like an unplugged port and reconnects by
//   itself; when it is back the button reads "关闭串口" again and
//   `reconnected` tells the window.
// - a baud rate, data bits, stop bits or parity changed while the line is
//   open is applied to it at once (an RFC 2217 line sends it to the remote
//   port); a refusal is shown in a message box that does not block.
// - the baud combo takes a rate typed into it (250000, 1500000: whatever
//   the device accepts), a positive whole number; it joins the combo's
//   list in order and is remembered like a picked one. A rate the device
//   refuses, when opening or while open, is shown in the same box, never
//   replaced by another behind the user's back.
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
    // Offers the network lines kept in `settings` after the local ports, and
    // the entry that adds one. Called before the first port list.
    void offerNetworkLines(ZemTool *settings);

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
    // The network line lost while open is connected again, by itself.
    void reconnected(const QString &name);

private:
    void onPortLost(const QString &reason);
    void onLineOpened();
    void onPortActivated(int index);
    // The user picked `name` in the combo or added it as a network line.
    void takeChoice(const QString &name);
    void askForNetworkLine();
    void applyFormSettings();
    // Takes the rate typed into the baud combo as its choice; false (and
    // says why) when the text is no positive whole number.
    bool commitTypedRate();
    // Selects `rate` in the baud combo, adding it in order when missing.
    void selectRate(qint32 rate);
    void showRefusal(const QString &text);
    LineSettings::Settings formSettings() const;
    void showOpenFailure(const QString &reason);
    // Indexes of the marked remembered port and of the add entry; -1 when
    // the combo has none.
    int absentIndex() const;
    int addIndex() const;
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
    bool m_absentShown = false;   // the last port item marks m_awaitedName as not plugged in
    ZemTool *m_networkSettings = nullptr; // where the network lines are kept, when offered
    QStringList m_localPorts;             // the host's ports, as last listed
    int m_previousIndex = -1;             // the selection before the add entry was picked
    bool m_reconnecting = false;          // a network line lost while open, retrying
    QPointer<QMessageBox> m_refusalBox;   // says that the line refused new settings
};
