// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>

// The module's side of the frames an MCU sends on its own: a status report
// (05), a configuration request (09), a module reset (0B), production test
// (13) and binding mode (15) requests, a network-time request (17) and the
// firmware-ready frame (1B). Each is answered with the reply code (request
// + 1) and the request's sequence number, so that an MCU under test sees a
// well-behaved module. The network-time answer carries the local time.
//
// Replies are unescaped; the caller escapes them for the wire. Anything
// else (the MCU's replies to the module's requests, unknown codes, frames
// too short to carry a sequence number) gets no reply.
class ModuleResponder
{
public:
    // The reply to `request`, or an empty array when none is due. A
    // network-time answer carries the current local time (read only then:
    // it costs more than all the rest).
    static QByteArray reply(const QByteArray &request);
    // The same, with `now` as the time a network-time answer carries.
    static QByteArray reply(const QByteArray &request, const QDateTime &now);
    // Whether a frame is one of the MCU's own requests that reply() answers.
    static bool isMcuRequest(const QByteArray &frame);
    // The 7 bytes of a network-time answer: year (big-endian), month, day,
    // hour, minute, second.
    static QByteArray timePayload(const QDateTime &when);
};
