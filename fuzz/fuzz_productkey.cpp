// SPDX-License-Identifier: GPL-3.0-or-later
// The product-key check on any text the user can type or paste.
//
// The input is read as UTF-8 (what a paste most often is) and as Latin-1
// (every byte a character). An accepted key ends up in a file name, a URL and
// the product-information reply, so checked: an accepted key is exactly 32
// ASCII letters and digits; the fetch and parse accept it too and its cache
// file lies directly in json/; a text of 32 letters and digits once blanks
// are removed is always accepted as itself; and storing it writes the key
// into the setting and into bytes 40..71 of the product-information reply.
// The fetch-side check is run on the raw text as well: whatever it accepts is
// letters and digits only.
#include "fuzzsupport.h"

#include "base/apppaths.h"
#include "datapoint/zemjson.h"
#include "engine/zemanalyze.h"
#include "engine/zemreply.h"
#include "protocol/settingkeys.h"
#include "protocol/zemproductkey.h"
#include "protocol/zemtool.h"

#include <QFileInfo>

namespace {

bool isAsciiAlnum(uint c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool allAlnum(const QString &text)
{
    for (const QChar c : text)
        if (!isAsciiAlnum(c.unicode()))
            return false;
    return true;
}

void checkText(const QString &text, const QByteArray &input)
{
    const QByteArray key = ZemProductKey::normalize(text);
    if (!key.isEmpty()) {
        if (key.size() != ZemProductKey::KeyLength || !allAlnum(QString::fromLatin1(key)))
            Fuzz::fail("an accepted key holds more than 32 letters and digits", input, key);
        if (!ZemProductKey::isValidKey(key)
            || !ZemProductKey::isUsableKey(QString::fromLatin1(key)))
            Fuzz::fail("an accepted key is refused by the fetch", input, key);
        const QFileInfo cache(ZemJson::cachePath(QString::fromLatin1(key)));
        if (cache.absolutePath() != QFileInfo(AppPaths::jsonDir()).absoluteFilePath())
            Fuzz::fail("the key's cache file lies outside json/", input, key);
    }

    QString compact;
    for (const QChar c : text)
        if (!c.isSpace())
            compact.append(c);
    if (compact.size() == ZemProductKey::KeyLength && allAlnum(compact)
        && key != compact.toLatin1())
        Fuzz::fail("32 letters and digits not accepted as the key", input);

    if (ZemProductKey::isUsableKey(text) && !allAlnum(text))
        Fuzz::fail("the fetch accepts a key with other characters", input);

    if (key.isEmpty())
        return;
    // Storing writes the settings file: only for accepted keys, which are rare.
    ZemTool tool;
    ZemAnalyze analyze(nullptr, &tool);
    if (!analyze.checkProductKey(text))
        Fuzz::fail("an accepted key is not stored", input, key);
    if (tool.readSetting(SettingKeys::ProductKey) != QString::fromLatin1(key))
        Fuzz::fail("the stored key differs", input, key);
    const QByteArray reply
        = tool.readSettingHex(SettingKeys::respondKey(Frame::Command::ProductInfoReply));
    if (reply.mid(Frame::ProductKeyOffset, Frame::ProductKeyWidth) != key)
        Fuzz::fail("the product-information reply does not carry the key", input, reply);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    Fuzz::programFolder();
    const QByteArray input = Fuzz::bytes(data, size);
    checkText(QString::fromUtf8(input), input);
    checkText(QString::fromLatin1(input), input);
    return 0;
}
