// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/linecontrols.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>

LineControls::LineControls(Line *line, const Widgets &widgets, QWidget *window)
    : QObject(window)
    , m_line(line)
    , m_widgets(widgets)
    , m_window(window)
{
    connect(m_widgets.rts, &QCheckBox::toggled, this,
            [this](bool on) { setModemLine(Line::Rts, m_widgets.rts, on); });
    connect(m_widgets.dtr, &QCheckBox::toggled, this,
            [this](bool on) { setModemLine(Line::Dtr, m_widgets.dtr, on); });
    connect(m_widgets.breakButton, &QPushButton::clicked, this, &LineControls::sendBreak);
    connect(m_line, &Line::Opened, this, &LineControls::refresh);
    connect(m_line, &Line::Lost, this, &LineControls::refresh);
    connect(m_line, &Line::OpenFailed, this, &LineControls::refresh);
    refresh();
}

void LineControls::refresh()
{
    // A network line still connecting takes no control yet.
    const bool open = m_line->isLineOpen() && !m_line->isLineConnecting();
    for (QWidget *w : {static_cast<QWidget *>(m_widgets.rts), static_cast<QWidget *>(m_widgets.dtr),
                       static_cast<QWidget *>(m_widgets.breakButton)})
        w->setEnabled(open);
    if (!open)
        return;
    const struct
    {
        Line::ModemLine which;
        QCheckBox *box;
    } lines[] = {{Line::Rts, m_widgets.rts}, {Line::Dtr, m_widgets.dtr}};
    for (const auto &l : lines) {
        const int state = m_line->modemLineState(l.which);
        if (state < 0)
            continue;
        const QSignalBlocker quiet(l.box);
        l.box->setChecked(state == 1);
    }
}

void LineControls::setModemLine(Line::ModemLine which, QCheckBox *box, bool on)
{
    if (m_line->setModemLine(which, on))
        return;
    {
        const QSignalBlocker quiet(box);
        box->setChecked(!on);
    }
    showRefusal(m_line->controlFailureReason());
}

void LineControls::sendBreak()
{
    if (!m_line->sendBreak())
        showRefusal(m_line->controlFailureReason());
}

void LineControls::showRefusal(const QString &reason)
{
    // Not modal, one box at a time: the line goes on as it was.
    if (!m_refusalBox) {
        m_refusalBox = new QMessageBox(QMessageBox::Warning, QStringLiteral("错误"),
                                       QStringLiteral("线路控制失败！"), QMessageBox::Ok, m_window);
        m_refusalBox->setObjectName(QStringLiteral("lineControlRefusedBox"));
        m_refusalBox->setWindowModality(Qt::NonModal);
        m_refusalBox->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_refusalBox->setInformativeText(reason);
    m_refusalBox->show();
}
