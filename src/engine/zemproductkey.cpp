#include "engine/zemproductkey.h"

namespace {

bool isAsciiAlnum(ushort c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isHexDigit(ushort c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

} // namespace

bool ZemProductKey::isValidKey(const QByteArray &key)
{
    if (key.size() != KeyLength)
        return false;
    for (const char c : key)
        if (!isAsciiAlnum(static_cast<unsigned char>(c)))
            return false;
    return true;
}

QByteArray ZemProductKey::normalize(const QString &text)
{
    QString compact;
    compact.reserve(text.size());
    for (const QChar c : text)
        if (!c.isSpace())
            compact.append(c);

    if (compact.size() == KeyLength) {
        for (const QChar c : compact)
            if (!isAsciiAlnum(c.unicode()))
                return QByteArray();
        return compact.toLatin1();
    }
    if (compact.size() == 2 * KeyLength) {
        for (const QChar c : compact)
            if (!isHexDigit(c.unicode()))
                return QByteArray();
        const QByteArray key = QByteArray::fromHex(compact.toLatin1());
        return isValidKey(key) ? key : QByteArray();
    }
    return QByteArray();
}
