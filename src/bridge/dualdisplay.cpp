// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/dualdisplay.h"

namespace {

const char HexDigits[] = "0123456789ABCDEF";

// Writes "XY " for each byte of bytes[0, count) at out; returns the new end.
QChar *putHex(QChar *out, const char *bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        *out++ = QLatin1Char(HexDigits[b >> 4]);
        *out++ = QLatin1Char(HexDigits[b & 0x0F]);
        *out++ = QLatin1Char(' ');
    }
    return out;
}

} // namespace

QString DualDisplay::takeChunk(QByteArray &held, const QByteArray &chunk, bool version3Breaks,
                               const QString &stamp)
{
    // Sharing, not copying, in the common case of nothing held.
    QByteArray pending = held.isEmpty() ? chunk : held + chunk;
    const int size = pending.size();
    if (size <= HeldBytes) {
        held = pending;
        return QString();
    }
    const int shown = size - HeldBytes;
    const char *bytes = pending.constData();

    // First pass: count the line breaks so the text is allocated once.
    int breaks = 0;
    for (int i = 0; i < shown; ++i)
        if (startsLine(bytes + i, version3Breaks))
            ++breaks;

    const int lineHead = 1 + stamp.size() + 1; // "\n" + stamp + ":"
    QString text(shown * 3 + breaks * lineHead, Qt::Uninitialized);
    QChar *out = text.data();
    int runStart = 0;
    if (breaks > 0) {
        for (int i = 0; i < shown; ++i) {
            if (!startsLine(bytes + i, version3Breaks))
                continue;
            out = putHex(out, bytes + runStart, i - runStart);
            *out++ = QLatin1Char('\n');
            for (const QChar c : stamp)
                *out++ = c;
            *out++ = QLatin1Char(':');
            runStart = i;
        }
    }
    out = putHex(out, bytes + runStart, shown - runStart);
    Q_ASSERT(out == text.constData() + text.size());

    held = pending.mid(shown);
    return text;
}

QString DualDisplay::flush(QByteArray &held)
{
    if (held.isEmpty())
        return QString();
    QString text(held.size() * 3, Qt::Uninitialized);
    putHex(text.data(), held.constData(), held.size());
    held.clear();
    return text;
}
