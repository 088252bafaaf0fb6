#pragma once

#include <QString>

class QTextEdit;

// Appends text to a receive box of the dual tab and keeps the box's history
// bounded, so that a session of hours at full line speed keeps a steady
// memory footprint and the box stays quick to lay out.
//
// What a box keeps:
// - at most MaxLines lines and at most MaxChars characters: when either is
//   exceeded, the oldest lines are dropped until about three quarters of
//   both remain;
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

    // Sets the box up for appending: no undo history.
    static void prepare(QTextEdit *box);

    // Inserts `text` at the end ("\n" starts a new paragraph) as one edit,
    // leaves the box's cursor at the end and trims the history.
    static void append(QTextEdit *box, const QString &text);
};
