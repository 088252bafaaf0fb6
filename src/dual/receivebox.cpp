// SPDX-License-Identifier: GPL-3.0-or-later
#include "dual/receivebox.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace {

// The running line keeps its newest bytes. Every byte is three characters
// ("XY ") and the line ends right after a byte, so keeping a multiple of
// three characters from the end cuts between two bytes.
void trimRunningLine(QTextDocument *doc)
{
    const QTextBlock last = doc->lastBlock();
    const int length = last.length() - 1; // without the block separator
    if (length <= ReceiveBox::MaxLineChars)
        return;
    QTextCursor cut(doc);
    cut.setPosition(last.position());
    cut.setPosition(last.position() + length - ReceiveBox::KeptLineChars, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
}

// Drops whole lines from the top once the box holds more than MaxLines lines
// or MaxChars characters, down to about three quarters of both, so that the
// relayout a removal at the top causes happens seldom and not per insert.
// The last line is never dropped (it is bounded on its own).
void trimOldLines(QTextDocument *doc)
{
    const int chars = doc->characterCount();
    const int lines = doc->blockCount();
    if (chars <= ReceiveBox::MaxChars && lines <= ReceiveBox::MaxLines)
        return;
    const QTextBlock last = doc->lastBlock();
    int end = 0;
    if (lines > ReceiveBox::MaxLines) {
        // Keep the newest three quarters of MaxLines lines.
        const QTextBlock firstKept = doc->findBlockByNumber(lines - ReceiveBox::MaxLines * 3 / 4);
        end = firstKept.position();
    }
    if (chars > ReceiveBox::MaxChars) {
        // Everything up to the end of the line holding this position goes.
        const QTextBlock block = doc->findBlock(chars - ReceiveBox::MaxChars * 3 / 4);
        end = qMax(end, block.position() + block.length());
    }
    end = qMin(end, last.position());
    if (end <= 0)
        return;
    QTextCursor cut(doc);
    cut.setPosition(0);
    cut.setPosition(end, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
}

} // namespace

ReceiveBox::ReceiveBox(QWidget *parent)
    : QTextEdit(parent)
    , m_drawTimer(new QTimer(this))
{
    // A receive box is read-only: an undo history would only keep a copy of
    // everything ever shown.
    setUndoRedoEnabled(false);
    setReadOnly(true);
    setAcceptRichText(false);
    m_drawTimer->setObjectName(QStringLiteral("drawTimer"));
    m_drawTimer->setSingleShot(true);
    m_drawTimer->setInterval(DrawDelayMs);
    connect(m_drawTimer, &QTimer::timeout, this, &ReceiveBox::drawNow);
}

void ReceiveBox::addText(QString text)
{
    if (text.isEmpty())
        return;
    if (m_afterNotice && !text.startsWith(QLatin1Char('\n')))
        text.prepend(QLatin1Char('\n'));
    m_afterNotice = false;
    m_undrawn += text;
    if (!m_drawTimer->isActive())
        m_drawTimer->start();
}

void ReceiveBox::addNotice(const QString &line)
{
    m_undrawn += QLatin1Char('\n') + line;
    drawNow();
    m_afterNotice = true;
}

void ReceiveBox::clearAll()
{
    m_drawTimer->stop();
    m_undrawn.clear();
    m_afterNotice = false;
    clear();
}

void ReceiveBox::drawNow()
{
    m_drawTimer->stop();
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    if (!m_undrawn.isEmpty()) {
        // Insert and trims stay separate changes on purpose: inside one edit
        // block the layout would see a single change from the top line to
        // the bottom one and lay out the whole box again.
        cursor.insertText(m_undrawn);
        m_undrawn.clear();
        QTextDocument *doc = document();
        trimRunningLine(doc);
        trimOldLines(doc);
        cursor.movePosition(QTextCursor::End);
    }
    setTextCursor(cursor);
}
