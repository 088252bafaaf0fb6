// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QPlainTextEdit>
#include <QString>

// A read-only hex dump, 16 bytes a row:
//
//   0000  FF FF 00 0C 05 02 00 00  ...  ..........
//
// offset (four hex digits, eight past 64 KiB), the bytes in hex, then the same bytes as text
// (printable ASCII,
// '.' for the rest). markField() highlights a run of bytes in both columns,
// as a protocol view marks the field selected in its detail pane.
//
// Below the main dump there may be one more section with a caption of its
// own (the line's bytes when they differ from what the receiver reads);
// marks always refer to the main dump.
class HexDumpView : public QPlainTextEdit
{
    Q_OBJECT
public:
    static constexpr int BytesPerRow = 16;

    explicit HexDumpView(QWidget *parent = nullptr);

    // Shows `bytes` (nothing but the main dump) and drops any mark.
    void setBytes(const QByteArray &bytes);
    // Adds a second dump under the main one, headed by `caption`.
    void addSection(const QString &caption, const QByteArray &bytes);
    QByteArray bytes() const { return m_bytes; }

    // Highlights bytes [offset, offset + size) of the main dump in the hex
    // and the text column and scrolls to them; one mark per column and row.
    // A run that does not lie wholly inside the bytes (a field with no bytes
    // of its own has offset -1) only clears the marks.
    void markField(int offset, int size);
    void clearMarks();
    int markedOffset() const { return m_markOffset; }
    int markedSize() const { return m_markSize; }

    // The dump of `bytes` as text, rows separated by '\n', no trailing one.
    static QString dumpText(const QByteArray &bytes);

private:
    // Where a row's columns start: the offset and two blanks, then "XX "
    // per byte, one blank, then the text column.
    struct Layout
    {
        explicit Layout(int byteCount);
        int hexColumn;
        int textColumn;
        int rowWidth;
    };

    QByteArray m_bytes;
    int m_markOffset = -1;
    int m_markSize = 0;
};
