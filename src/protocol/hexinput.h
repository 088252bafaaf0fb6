// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Hex text typed by the user (manual send boxes, the preset lines, the
// checksum tool) and what it turns into.
//
// Typed hex is converted by QByteArray::fromHex on its Latin-1 form: every
// character that is not a hex digit is skipped and the remaining digits are
// paired from the end, so an odd digit count leaves the first digit alone as
// a low nibble. The conversion never refuses anything, which is what a user
// pasting a frame from a log wants; but it also means that "0x01 0x02" goes
// out as 00 10 02 and "hello" as 0E. These functions tell those texts apart from
// plain hex so the box can show, before anything is sent, what will be sent.
namespace HexInput {

// At most this many bytes are spelt out in a hint; longer texts give
// their start and the byte count.
constexpr int HintBytes = 48;

// True when `text` holds nothing but pairs of hex digits and blanks
// (spaces, tabs, line breaks): every run of digits between blanks has an
// even length, so the bytes are exactly the pairs as written. The empty
// text is plain. Linear in the text.
bool isPlain(const QString &text);

// The bytes the text stands for, as every send of typed hex converts it.
QByteArray toBytes(const QString &text);

// For a text that is not plain, the hint for the user: that the text
// holds more than hex pairs, and the hex of the bytes that will actually
// be sent. Empty for a plain text.
QString hint(const QString &text);

} // namespace HexInput
