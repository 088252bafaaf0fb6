#pragma once

#include <QByteArray>
#include <QString>

// Checks a product key typed or pasted by the user.
//
// The key ends up in a file name ("json/<key>.json"), in the query of the
// data-point URL and in the product-information reply, so only ASCII letters
// and digits pass: nothing that could climb out of the cache folder or change
// the meaning of a URL. Accepted forms, after every blank is removed:
//   - 32 letters and digits: the key itself;
//   - 64 hex digits: the ASCII bytes of such a key, as hex.
class ZemProductKey
{
public:
    static constexpr int KeyLength = 32;

    // The 32-byte key, or an empty array when the text is no valid key.
    static QByteArray normalize(const QString &text);
    static bool isValidKey(const QByteArray &key);
};
