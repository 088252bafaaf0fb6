// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "send/commandlist.h"

#include <QList>
#include <QString>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QPushButton;
class SendControls;
class ZemTool;

// The command list of a tab, in a window of its own: named frames that the
// user adds (from the send box or typed), edits, reorders, deletes, sends
// with one click (a button per send box of the tab, or a double click to the
// box that opened the window) or with Ctrl+1 … Ctrl+9 (the first nine
// commands, to that box), and exports to or imports from a JSON file (see
// CommandList). Every change is stored at once under the tab's key.
//
// Commands go out through a send box, so that box's "自动补全帧" and
// "序号自增" apply to them.
class CommandListWindow : public QWidget
{
    Q_OBJECT
public:
    struct Target
    {
        QString caption; // of its send button: "发送左", "发送"
        SendControls *box;
    };

    CommandListWindow(ZemTool *settings, const QString &key, const QList<Target> &targets,
                      QWidget *parent = nullptr);

    const CommandList &commands() const { return m_list; }
    // Shows the window with `box` as the one a double click or a shortcut
    // sends to, and the one "取发送框" reads.
    void showFor(SendControls *box);
    // Ctrl+1 … Ctrl+9 on `widget` (a tab) send to the current box too.
    void addShortcutsTo(QWidget *widget);
    // Sends command `row` through the current box.
    bool sendRow(int row);

    // The export and import behind the buttons' file dialogs. A failure is
    // shown in a message box ("错误") and changes nothing.
    bool exportFile(const QString &path);
    bool importFile(const QString &path);

private:
    void refill(int current);
    void save();
    int currentRow() const;
    void onRowChanged(int row);
    void addCommand();
    void saveEdit();
    void removeCommand();
    void moveCommand(int by);
    void fromBox();

    ZemTool *m_settings;
    QString m_key;
    QList<Target> m_targets;
    SendControls *m_current = nullptr;
    CommandList m_list;
    QListWidget *m_view;
    QLineEdit *m_name;
    QLineEdit *m_hex;
};
