// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/hexdumpview.h"

#include <QColor>
#include <QFontDatabase>
#include <QTextBlock>

#include <algorithm>

namespace {

const char HexDigits[] = "0123456789ABCDEF";

int offsetDigits(int byteCount)
{
    return byteCount > 0x10000 ? 8 : 4;
}

} // namespace

HexDumpView::Layout::Layout(int byteCount)
    : hexColumn(offsetDigits(byteCount) + 2)
    , textColumn(hexColumn + 3 * BytesPerRow + 1)
    , rowWidth(textColumn + BytesPerRow)
{ }

HexDumpView::HexDumpView(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

QString HexDumpView::dumpText(const QByteArray &bytes)
{
    const int size = int(bytes.size());
    const int rows = (size + BytesPerRow - 1) / BytesPerRow;
    if (rows == 0)
        return QString();
    const Layout layout(size);
    const int digits = offsetDigits(size);
    const int stride = layout.rowWidth + 1;
    // The whole text is allocated once and each row is written into it in
    // place, a character at a time: no row is assembled from small strings.
    QString text(rows * stride, QLatin1Char(' '));
    QChar *out = text.data();
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    for (int row = 0; row < rows; ++row, out += stride) {
        const int first = row * BytesPerRow;
        for (int k = 0; k < digits; ++k)
            out[k] = QLatin1Char(HexDigits[(first >> (4 * (digits - 1 - k))) & 0xF]);
        const int count = std::min(int(BytesPerRow), size - first);
        for (int k = 0; k < count; ++k) {
            const unsigned char c = data[first + k];
            QChar *hex = out + layout.hexColumn + 3 * k;
            hex[0] = QLatin1Char(HexDigits[c >> 4]);
            hex[1] = QLatin1Char(HexDigits[c & 0xF]);
            out[layout.textColumn + k] = c >= 0x20 && c < 0x7F ? QChar(c) : QChar(QLatin1Char('.'));
        }
        out[layout.rowWidth] = QLatin1Char('\n');
    }
    // The last row ends with its last byte's character: no blanks after it,
    // and no line break.
    const int lastCount = size - (rows - 1) * BytesPerRow;
    text.truncate((rows - 1) * stride + layout.textColumn + lastCount);
    return text;
}

void HexDumpView::setBytes(const QByteArray &bytes)
{
    m_bytes = bytes;
    clearMarks();
    setPlainText(dumpText(bytes));
}

void HexDumpView::addSection(const QString &caption, const QByteArray &bytes)
{
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(QStringLiteral("\n\n") + caption + QLatin1Char('\n') + dumpText(bytes));
}

void HexDumpView::clearMarks()
{
    m_markOffset = -1;
    m_markSize = 0;
    setExtraSelections({});
}

void HexDumpView::markField(int offset, int size)
{
    if (offset < 0 || size <= 0 || offset > m_bytes.size() - size) {
        clearMarks();
        return;
    }
    m_markOffset = offset;
    m_markSize = size;
    const Layout layout(int(m_bytes.size()));
    QTextCharFormat format;
    format.setBackground(QColor(252, 222, 156));
    QList<QTextEdit::ExtraSelection> marks;
    const int last = offset + size - 1;
    // One run per row the field touches in each column: its hex pairs with
    // the blanks between them, and its characters.
    for (int row = offset / BytesPerRow; row <= last / BytesPerRow; ++row) {
        const QTextBlock block = document()->findBlockByNumber(row);
        if (!block.isValid())
            break;
        const int from = std::max(offset, row * BytesPerRow) - row * BytesPerRow;
        const int to = std::min(last, row * BytesPerRow + BytesPerRow - 1) - row * BytesPerRow;
        const std::pair<int, int> runs[] = {
            {layout.hexColumn + 3 * from, layout.hexColumn + 3 * to + 2},
            {layout.textColumn + from, layout.textColumn + to + 1},
        };
        for (const auto &[start, end] : runs) {
            QTextEdit::ExtraSelection mark;
            mark.format = format;
            mark.cursor = QTextCursor(block);
            mark.cursor.setPosition(block.position() + start);
            mark.cursor.setPosition(block.position() + end, QTextCursor::KeepAnchor);
            marks.append(mark);
        }
    }
    if (!marks.isEmpty()) {
        QTextCursor first = marks.first().cursor;
        first.clearSelection();
        setTextCursor(first);
        ensureCursorVisible();
    }
    setExtraSelections(marks);
}
