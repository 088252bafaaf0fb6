// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/frameescape.h"

QByteArray Frame::unescape(const QByteArray &wire)
{
    // Nothing escaped: the same bytes, shared rather than copied.
    if (wire.indexOf(char(HeaderByte), FirstEscapedOffset) < 0)
        return wire;
    QByteArray frame(wire.size(), Qt::Uninitialized);
    char *out = frame.data();
    forEachUnescaped(wire.constData(), wire.size(), [&out](quint8 b, bool) {
        *out++ = char(b);
        return true;
    });
    frame.truncate(int(out - frame.constData()));
    return frame;
}
