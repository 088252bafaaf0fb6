// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The one rule for product keys, used by the check of a typed key, the
// data-point fetch and the definition service.
//
// The key ends up in a file name ("json/<key>.json"), in the query of the
// data-point URL and in the product-information reply, so only ASCII letters
// and digits pass: nothing that could climb out of the cache folder or change
// the meaning of a URL.
namespace ZemProductKey {

// The key the product-information reply carries: 32 characters.
constexpr int KeyLength = 32;
// The longest key the fetch and the service accept. They take any length up
// to this, so that a key stored by hand in the settings file, or asked for by
// another client, is still served.
constexpr int MaxUsableLength = 128;

// An ASCII letter or digit.
bool isKeyCharacter(QChar c);

// The 32-byte key of a text the user typed or pasted, or an empty array when
// the text is no valid key. Accepted forms, after every blank is removed:
//   - 32 letters and digits: the key itself;
//   - 64 hex digits: the ASCII bytes of such a key, as hex.
QByteArray normalize(const QString &text);
// 32 letters and digits.
bool isValidKey(const QByteArray &key);
// 1 to MaxUsableLength letters and digits: a key the fetch sends and the
// service looks up.
bool isUsableKey(const QString &key);

} // namespace ZemProductKey
