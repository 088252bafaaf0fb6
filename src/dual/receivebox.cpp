#include "dual/receivebox.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

void ReceiveBox::prepare(QTextEdit *box)
{
    QTextDocument *doc = box->document();
    doc->setUndoRedoEnabled(false);
    doc->setMaximumBlockCount(MaxLines);
}

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

// Drops whole lines from the top until about three quarters of MaxChars are
// left; the last line is never dropped (it is bounded on its own).
void trimOldLines(QTextDocument *doc)
{
    const int count = doc->characterCount();
    if (count <= ReceiveBox::MaxChars)
        return;
    const int excess = count - ReceiveBox::MaxChars * 3 / 4;
    const QTextBlock last = doc->lastBlock();
    QTextBlock block = doc->findBlock(excess);
    int end = block.isValid() ? block.position() + block.length() : last.position();
    if (end > last.position())
        end = last.position();
    if (end <= 0)
        return;
    QTextCursor cut(doc);
    cut.setPosition(0);
    cut.setPosition(end, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
}

} // namespace

void ReceiveBox::append(QTextEdit *box, const QString &text)
{
    QTextCursor cursor = box->textCursor();
    cursor.movePosition(QTextCursor::End);
    if (!text.isEmpty()) {
        // One edit block: the layout hears of the insert and the trims as a
        // single change.
        cursor.beginEditBlock();
        cursor.insertText(text);
        QTextDocument *doc = box->document();
        trimRunningLine(doc);
        trimOldLines(doc);
        cursor.endEditBlock();
        cursor.movePosition(QTextCursor::End);
    }
    box->setTextCursor(cursor);
}
