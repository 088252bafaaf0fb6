// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/hexinputhint.h"

#include "protocol/hexinput.h"

#include <QLineEdit>
#include <QTextEdit>

const QColor HexInputHint::HintColor = QColor(0xFF, 0xF1, 0xC4);

HexInputHint::HexInputHint(QWidget *box)
    : QObject(box)
    , m_box(box)
    , m_ownBase(box->palette().color(QPalette::Base))
    , m_ownToolTip(box->toolTip())
{ }

HexInputHint *HexInputHint::attach(QTextEdit *box)
{
    auto *hint = new HexInputHint(box);
    connect(box, &QTextEdit::textChanged, hint, [hint, box] { hint->check(box->toPlainText()); });
    hint->check(box->toPlainText());
    return hint;
}

HexInputHint *HexInputHint::attach(QLineEdit *box)
{
    auto *hint = new HexInputHint(box);
    // textChanged, not textEdited: lines filled by the program (the preset
    // buttons) are checked as well.
    connect(box, &QLineEdit::textChanged, hint, &HexInputHint::check);
    hint->check(box->text());
    return hint;
}

void HexInputHint::setPreview(Preview preview)
{
    m_preview = std::move(preview);
    recheck();
}

QString HexInputHint::text() const
{
    if (auto *edit = qobject_cast<QTextEdit *>(m_box))
        return edit->toPlainText();
    if (auto *line = qobject_cast<QLineEdit *>(m_box))
        return line->text();
    return QString();
}

void HexInputHint::recheck()
{
    check(text());
}

void HexInputHint::check(const QString &text)
{
    const QString preview = m_preview ? m_preview(text) : QString();
    QString hint;
    bool show = false;
    if (!preview.isEmpty()) {
        hint = preview;
        show = !HexInput::isPlain(QString(text).remove(QLatin1Char('?')));
    } else {
        hint = HexInput::hint(text);
        show = !hint.isEmpty();
    }
    if (!hint.isEmpty()) {
        m_box->setToolTip(hint);
    } else if (m_tooltipOwned) {
        m_box->setToolTip(m_ownToolTip);
    }
    m_tooltipOwned = !hint.isEmpty();
    if (show != m_shown) {
        // A text edit's viewport inherits the palette: the whole text area
        // takes the tint.
        QPalette palette = m_box->palette();
        palette.setColor(QPalette::Base, show ? HintColor : m_ownBase);
        m_box->setPalette(palette);
    }
    m_shown = show;
}
