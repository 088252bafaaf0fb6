// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QObject>
#include <QString>

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

private:
    explicit HexInputHint(QWidget *box);
    void check(const QString &text);

    QWidget *m_box;
    QColor m_ownBase;
    QString m_ownToolTip;
    bool m_shown = false;
};
