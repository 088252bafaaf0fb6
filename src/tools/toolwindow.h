// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class ToolWindow;
}

// The "小工具" tab: the checksum calculator. The user pastes a frame's bytes
// as hex text and reads back their 8-bit sum, e.g. to finish a frame typed
// by hand for the dual tab (the frame checksum covers the bytes from the
// length field up to the last payload byte, without the FF FF header).
class ToolWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ToolWindow(QWidget *parent = nullptr);
    ~ToolWindow() override;

    // The sum modulo 256 of the bytes of the hex text (non-hex characters
    // skipped) as two upper-case hex digits; "00" for no bytes.
    static QString checksumText(const QString &hexText);
    // For text whose bytes start with FF FF, the checksum of that frame as a
    // receiver checks it: FF 55 read as FF, summed from the first length byte.
    // When the length field says the last byte is the frame's checksum, that
    // byte is left out and compared. The text names the bytes summed, so it
    // is not taken for the plain sum; empty for text of no frame.
    static QString frameChecksumText(const QString &hexText);

private slots:
    void on_pushButton_run_clicked();

private:
    Ui::ToolWindow *ui;
};
