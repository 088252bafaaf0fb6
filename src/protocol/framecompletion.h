// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Hex typed into a send box with "自动补全帧" on: the user writes the part of
// a version 4 frame that carries meaning (command, sequence number, flags,
// payload) and the box adds what only a counting machine should write.
//
// What is added, in this order:
//   1. the header FF FF, when the bytes do not begin with FF FF;
//   2. the length field, when it is written as "??" (any run of question
//      marks, blanks allowed between them, right after the header or at the
//      very start) or left out;
//   3. the checksum;
//   4. the escaping: every FF from offset 3 on is followed by a 55.
//
// How "left out" is told from "written". Call R the bytes after the header.
//   - R begins with two bytes whose value plus 2 is R's size: the length
//     is there and so is the checksum byte, which is recomputed (a wrong
//     checksum is as good as a missing one; sending a broken one is what
//     the box turned off is for).
//   - Their value plus 2 is R's size plus 1: the length is there, the
//     checksum is missing and appended.
//   - Otherwise, when R begins with 00: no command has the code 00, so the
//     two bytes are a length field that does not match; it is rewritten
//     with the right value (and the hint says so).
//   - Otherwise the length was left out: R begins with the command byte,
//     the length is inserted before it and the checksum appended. A frame
//     of 256 bytes or more whose typed length is wrong therefore reads as
//     one without a length; the hint shows the bytes before they go.
// After "??" come the command and what follows; the checksum is always
// appended there.
//
// Text that already is a frame on the wire (a frame copied from a log): when
// every FF from offset 3 on is followed by 55 and the length field matches
// only once those pairs are read as escapes, the bytes are read as the wire
// form and not escaped a second time. Without such pairs the two readings
// are the same bytes, and FF 55 in a frame that is not whole is taken as
// two bytes the user meant.
//
// Left as typed: the empty text, text beginning with 00 00 00 03 (a
// version 3 frame, which has no such fields), and a header without a command
// byte. Refused (nothing is sent, `error` says why): "??" anywhere but at
// the length, and frames whose length does not fit in 16 bits.
//
// Every function is linear in its input and never reads past an array's end.
namespace FrameCompletion {

struct Result
{
    // The bytes a send writes.
    QByteArray wire;
    // The frame before escaping; empty when the text was left as typed.
    QByteArray frame;
    // What was added or rewritten, for the hint ("帧头 FF FF", "校验和 14").
    QStringList added;
    // Not empty: the text cannot be completed and nothing is sent.
    QString error;
    bool ok() const { return error.isEmpty(); }
};

Result complete(const QString &text);

// The wire bytes with the sequence number (offset 5) set to `sequence` and
// the checksum recomputed, escaped anew. Bytes that are no whole version 4
// frame once unescaped are returned unchanged, with *changed false.
QByteArray withSequence(const QByteArray &wire, int sequence, bool *changed = nullptr);

// The sequence number of the frame these wire bytes carry; -1 when they hold
// no whole version 4 frame.
int sequenceOf(const QByteArray &wire);

// The hint for the box: the bytes that will go out, spelt out (up to
// HintBytes of them, 16 a line) with their count and what was added; or why
// nothing will be sent. Empty for empty text.
constexpr int HintBytes = 128;
QString hint(const QString &text);

} // namespace FrameCompletion
