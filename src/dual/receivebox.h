// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTextEdit>

class QTimer;

// A receive box of the dual tab: read-only hex text that grows at the end.
//
// Text handed to the box is drawn at most every DrawDelayMs, everything of
// that span in one edit, so a busy line costs the GUI thread a few layouts
// and paints a second instead of one per received chunk. The text not drawn
// yet belongs to the box: clearing the box drops it as well.
//
// The box keeps its history bounded, so that a session of hours at full line
// speed keeps a steady memory footprint and the box stays quick to lay out:
// - at most MaxLines lines and at most MaxChars characters: when either is
//   exceeded, the oldest lines are dropped until about three quarters of
//   both remain;
// - a running line that grows past MaxLineChars (bytes that never contain a
//   frame header) loses its beginning down to its last KeptLineChars
//   characters, cut between two bytes.
class ReceiveBox : public QTextEdit
{
    Q_OBJECT
public:
    static constexpr int DrawDelayMs = 20;
    static constexpr int MaxLines = 5000;
    static constexpr int MaxChars = 1200000;
    static constexpr int MaxLineChars = 3 * 8192;
    static constexpr int KeptLineChars = 3 * 4096;

    explicit ReceiveBox(QWidget *parent = nullptr);

    // Queues `text` ("\n" starts a new paragraph) to be drawn within
    // DrawDelayMs. After a notice line, text starts a line of its own.
    void addText(QString text);
    // Draws what was queued, then `line` on a line of its own, at once.
    // Text added afterwards starts a new line, whatever it begins with.
    void addNotice(const QString &line);
    // Draws what was queued now, as one edit, and leaves the cursor at the
    // end (also when nothing was queued).
    void drawNow();
    // Empties the box, the queued text included (F5).
    void clearAll();

private:
    QTimer *m_drawTimer;
    QString m_undrawn;
    bool m_afterNotice = false; // the box ends with a notice line
};
