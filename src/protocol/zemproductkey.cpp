// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/zemproductkey.h"

namespace ZemProductKey {

namespace {

    bool isHexDigit(ushort c)
    {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    }

    bool allKeyCharacters(const QString &text)
    {
        for (const QChar c : text)
            if (!isKeyCharacter(c))
                return false;
        return true;
    }

} // namespace

bool isKeyCharacter(QChar c)
{
    const ushort u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
}

bool isValidKey(const QByteArray &key)
{
    if (key.size() != KeyLength)
        return false;
    // Byte by byte: a NUL inside the key must count, not end it.
    for (const char c : key)
        if (!isKeyCharacter(QLatin1Char(c)))
            return false;
    return true;
}

bool isUsableKey(const QString &key)
{
    return !key.isEmpty() && key.size() <= MaxUsableLength && allKeyCharacters(key);
}

QByteArray normalize(const QString &text)
{
    QString compact;
    compact.reserve(text.size());
    for (const QChar c : text)
        if (!c.isSpace())
            compact.append(c);

    if (compact.size() == KeyLength)
        return allKeyCharacters(compact) ? compact.toLatin1() : QByteArray();
    if (compact.size() == 2 * KeyLength) {
        for (const QChar c : compact)
            if (!isHexDigit(c.unicode()))
                return QByteArray();
        const QByteArray key = QByteArray::fromHex(compact.toLatin1());
        return isValidKey(key) ? key : QByteArray();
    }
    return QByteArray();
}

} // namespace ZemProductKey
