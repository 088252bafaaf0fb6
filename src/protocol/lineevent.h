// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// What the program did to a line besides sending bytes, as an event segment
// (SegmentKind::Event) carries it: four bytes
//
//   byte 0      what: 1 RTS, 2 DTR, 3 break
//   byte 1      RTS and DTR: 1 on, 0 off; break: 1
//   bytes 2..3  break: its duration in milliseconds, big-endian; otherwise 0
//
// Readers take the first four bytes and pass over any that follow, so an
// event may grow fields at its end; an unknown code is shown by its number.
namespace LineEvent {

enum Code : quint8 { Rts = 1, Dtr = 2, Break = 3 };
constexpr int Size = 4;

QByteArray modemLine(Code line, bool on);
QByteArray breakSent(int durationMs);

struct Event
{
    int code = -1; // -1: too short to be an event
    bool on = false;
    int durationMs = 0;
};
Event decode(const char *data, qsizetype size);
inline Event decode(const QByteArray &bytes)
{
    return decode(bytes.constData(), bytes.size());
}

// "RTS 有效", "DTR 无效", "BREAK 250 毫秒"; English for the shell:
// "RTS on", "DTR off", "break 250 ms".
QString text(const Event &event, bool english = false);

} // namespace LineEvent
