// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/framecompletion.h"
#include "send/sendhistory.h"

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <functional>

class QCheckBox;
class QPushButton;
class QSpinBox;
class QTextEdit;
class HexInputHint;
class Line;
class PeriodicSender;
class ZemTool;

// The controls of one send box, shared by the dual tab's two boxes and the
// simulated-MCU tab's: "自动补全帧", "序号自增", periodic sending (interval
// in ms, count or endless, start and stop), the history on Up and Down, and
// the button that opens the tab's command list.
//
// The box and its send button stay the window's (their object names are
// the form's); this widget sits beside them, decides what a send writes and
// hands the bytes to the window's writer, which logs or reports them as
// every send of that tab.
//
// Kept in the settings under the box's group: "GROUP/autocomplete" and
// "GROUP/sequence" ("true"/"false"; completion is on when the key is
// missing), "GROUP/interval" and "GROUP/count" (decimal; count 0 is
// endless), "GROUP/history" (see SendHistory).
//
// Object names of the controls end in the box's suffix: checkBox_complete1,
// checkBox_sequence1, spinBox_interval1, spinBox_count1, pushButton_periodic1,
// pushButton_commands1.
class SendControls : public QWidget
{
    Q_OBJECT
public:
    using Writer = std::function<bool(const QByteArray &)>;

    // `columns`: how many of the six controls go in a row (2 or 3).
    SendControls(QTextEdit *box, const QString &suffix, ZemTool *settings, const QString &group,
                 int columns = 2, QWidget *parent = nullptr);

    // Writes bytes to the box's line; false when nothing was written (closed).
    void setWriter(Writer writer) { m_write = std::move(writer); }
    // The box's line: its loss ends a periodic run.
    void watch(Line *line);

    QTextEdit *box() const { return m_box; }
    // What a send of `text` writes with the box set as it is (the sequence
    // number aside): completed, or as typed.
    FrameCompletion::Result prepare(const QString &text) const;

    // The send button: sends the box's text once and keeps it in the history.
    bool sendBoxText();
    // A command of the list, sent through this box once.
    bool sendText(const QString &text);
    // Starts the periodic run of the box's text; stops a run under way.
    void togglePeriodic();
    void stopPeriodic();
    PeriodicSender *periodic() const { return m_periodic; }
    const SendHistory &history() const { return m_history; }

signals:
    // "指令列表" was clicked.
    void commandsRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool writeOnce(const QString &text);
    void remember(const QString &text);
    void showRunning(bool running);
    QString key(const char *name) const;
    void store(const char *name, const QString &value);

    QTextEdit *m_box;
    ZemTool *m_settings;
    QString m_group;
    Writer m_write;
    HexInputHint *m_hint;
    QCheckBox *m_complete;
    QCheckBox *m_sequence;
    QSpinBox *m_interval;
    QSpinBox *m_count;
    QPushButton *m_periodicButton;
    QPushButton *m_commands;
    PeriodicSender *m_periodic;
    SendHistory m_history;
    QString m_periodicText;  // the text of the run under way
    int m_nextSequence = -1; // -1: the typed frame's own
    bool m_recalling = false;
};
