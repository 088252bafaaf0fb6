// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/lineevent.h"

namespace LineEvent {

namespace {
    QByteArray make(Code code, bool on, int durationMs)
    {
        const int ms = qBound(0, durationMs, 0xFFFF);
        QByteArray out(Size, '\0');
        out[0] = char(code);
        out[1] = char(on ? 1 : 0);
        out[2] = char(ms >> 8);
        out[3] = char(ms & 0xFF);
        return out;
    }
} // namespace

QByteArray modemLine(Code line, bool on)
{
    return make(line, on, 0);
}

QByteArray breakSent(int durationMs)
{
    return make(Break, true, durationMs);
}

Event decode(const char *data, qsizetype size)
{
    Event e;
    if (size < Size)
        return e;
    const auto *b = reinterpret_cast<const quint8 *>(data);
    e.code = b[0];
    e.on = b[1] != 0;
    e.durationMs = (b[2] << 8) | b[3];
    return e;
}

QString text(const Event &event, bool english)
{
    switch (event.code) {
    case Rts:
    case Dtr: {
        const QString name = event.code == Rts ? QStringLiteral("RTS") : QStringLiteral("DTR");
        if (english)
            return name + (event.on ? QStringLiteral(" on") : QStringLiteral(" off"));
        return name + (event.on ? QStringLiteral(" 有效") : QStringLiteral(" 无效"));
    }
    case Break:
        return english ? QStringLiteral("break %1 ms").arg(event.durationMs)
                       : QStringLiteral("BREAK %1 毫秒").arg(event.durationMs);
    case -1:
        return english ? QStringLiteral("event (too short)") : QStringLiteral("事件（不完整）");
    default:
        return english ? QStringLiteral("event %1").arg(event.code)
                       : QStringLiteral("事件 %1").arg(event.code);
    }
}

} // namespace LineEvent
