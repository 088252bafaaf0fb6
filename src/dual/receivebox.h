#pragma once

#include <QString>

class QTextEdit;

// Appends text to a receive box of the dual tab and keeps the box's history
// bounded, so that a session of hours at full line speed keeps a steady
// memory footprint and the box stays quick to lay out.
//
// What a box keeps:
// - at most MaxLines lines (the oldest lines go first);
// - at most MaxChars characters in all: when more pile up, the oldest lines
//   are dropped until about three quarters of that remain;
// - a running line that grows past MaxLineChars (bytes that never contain a
//   frame header) loses its beginning down to its last KeptLineChars
//   characters, cut between two bytes.
class ReceiveBox
{
public:
    static constexpr int MaxLines = 5000;
    static constexpr int MaxChars = 1200000;
    static constexpr int MaxLineChars = 3 * 8192;
    static constexpr int KeptLineChars = 3 * 4096;

    // Sets the box up for appending: line limit on, undo history off.
    static void prepare(QTextEdit *box);

    // Inserts `text` at the end ("\n" starts a new paragraph) as one edit,
    // leaves the box's cursor at the end and trims the history.
    static void append(QTextEdit *box, const QString &text);
};
