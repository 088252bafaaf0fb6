// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QObject>
#include <QString>

#include <functional>

class QLineEdit;
class QTextEdit;
class QWidget;

// Shows, while the user types, whether a hex box holds plain hex pairs.
// When it holds anything else (see HexInput), the box gets a light tint and
// a tooltip with the bytes that a send will actually write; when the text is
// plain again, the box's own colour and tooltip come back. Sending is never
// held back: the hint only informs.
//
// One helper per box, owned by the box.
class HexInputHint : public QObject
{
    Q_OBJECT
public:
    // The tint of a box whose text is not plain hex.
    static const QColor HintColor;

    static HexInputHint *attach(QTextEdit *box);
    static HexInputHint *attach(QLineEdit *box);

    // Whether the box currently shows the hint.
    bool isShown() const { return m_shown; }

    // A box that sends more than its text (a send box completing frames):
    // `preview` gives the tooltip for a text, the bytes that will go out,
    // whatever the text; an empty preview falls back to the plain-hex hint.
    // The tint still marks text that is not plain hex, question marks
    // aside (they stand for a length to fill in).
    using Preview = std::function<QString(const QString &)>;
    void setPreview(Preview preview);
    // Checks the text again (the preview's own settings changed).
    void recheck();

private:
    explicit HexInputHint(QWidget *box);
    void check(const QString &text);
    QString text() const;

    QWidget *m_box;
    QColor m_ownBase;
    QString m_ownToolTip;
    bool m_shown = false;
    bool m_tooltipOwned = false; // the tooltip shows a hint or a preview
    Preview m_preview;
};
