// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/line.h"

#include <QObject>
#include <QPointer>

class QCheckBox;
class QMessageBox;
class QPushButton;
class QWidget;

// The modem-line controls of one line on a form: an RTS and a DTR check box
// and a break button. They work only while the line is open and are
// disabled otherwise; opening shows the device's own RTS and DTR where it
// tells them.
//
// A line that cannot do what was asked (a pseudo-terminal has no modem
// lines, a raw TCP line carries only data) says why in a message box that
// does not block, and the check box goes back to what it showed: it never
// claims a state the line does not have.
class LineControls : public QObject
{
    Q_OBJECT
public:
    struct Widgets
    {
        QCheckBox *rts = nullptr;
        QCheckBox *dtr = nullptr;
        QPushButton *breakButton = nullptr;
    };

    // `window` parents this object and the message box.
    LineControls(Line *line, const Widgets &widgets, QWidget *window);

public slots:
    // Enables the controls while the line is open (and shows its RTS and
    // DTR where known); disables them while it is closed. The owner calls
    // it after closing the line; opening and losing it are followed here.
    void refresh();

private:
    void setModemLine(Line::ModemLine which, QCheckBox *box, bool on);
    void sendBreak();
    void showRefusal(const QString &reason);

    Line *m_line;
    Widgets m_widgets;
    QWidget *m_window;
    QPointer<QMessageBox> m_refusalBox;
};
