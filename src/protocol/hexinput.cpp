// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/hexinput.h"

#include "protocol/zemtool.h"

namespace {

bool isHexDigit(QChar c)
{
    const ushort u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

} // namespace

bool HexInput::isPlain(const QString &text)
{
    int run = 0; // digits since the last blank
    for (const QChar c : text) {
        if (isHexDigit(c)) {
            ++run;
        } else if (c.isSpace()) {
            // An odd run would borrow a digit from its neighbour: "A BC"
            // becomes AB 0C, not 0A BC.
            if (run % 2 != 0)
                return false;
            run = 0;
        } else {
            return false;
        }
    }
    return run % 2 == 0;
}

QByteArray HexInput::toBytes(const QString &text)
{
    return QByteArray::fromHex(text.toLatin1());
}

QString HexInput::hint(const QString &text)
{
    if (isPlain(text))
        return QString();
    const QByteArray bytes = toBytes(text);
    if (bytes.isEmpty())
        return QStringLiteral("输入中没有十六进制数字，不会发送任何字节。");
    QString shown = ZemTool::hexText(bytes.left(HintBytes)).trimmed();
    if (bytes.size() > HintBytes)
        shown += QStringLiteral(" …");
    return QStringLiteral("输入中含有十六进制数字对和空白以外的内容，其他字符将被跳过，"
                          "数字从末尾起两两成字节。\n实际发送（%1 字节）：%2")
        .arg(bytes.size())
        .arg(shown);
}
