// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/frameescape.h"

QByteArray Frame::unescape(const QByteArray &wire)
{
    QByteArray frame(wire.size(), Qt::Uninitialized);
    char *out = frame.data();
    forEachUnescaped(wire.constData(), wire.size(), [&out](quint8 b, bool) {
        *out++ = char(b);
        return true;
    });
    frame.truncate(int(out - frame.constData()));
    return frame;
}
