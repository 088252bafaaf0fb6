// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/framecompletion.h"

#include "protocol/frameescape.h"
#include "protocol/frameformat.h"
#include "protocol/hexinput.h"
#include "protocol/zemtool.h"

namespace {

constexpr int MaxLength = 0xFFFF;
const QByteArray Header("\xFF\xFF", 2);
const QByteArray V3Header("\x00\x00\x00\x03", 4);

QString hexOf(const QByteArray &bytes)
{
    return ZemTool::hexText(bytes).trimmed();
}

QString lengthText(int length)
{
    return hexOf(ZemTool::numberToBytes(quint32(length), 2));
}

// The typed text cut at its "??": the hex before it and after it, and
// whether there was one. A second run of question marks is an error.
struct Split
{
    QString before;
    QString after;
    bool placeholder = false;
    bool twoPlaceholders = false;
};

Split split(const QString &text)
{
    Split s;
    const int first = text.indexOf(QLatin1Char('?'));
    if (first < 0) {
        s.before = text;
        return s;
    }
    int end = first;
    while (end < text.size() && (text.at(end) == QLatin1Char('?') || text.at(end).isSpace()))
        ++end;
    s.placeholder = true;
    s.before = text.left(first);
    s.after = text.mid(end);
    s.twoPlaceholders = s.after.contains(QLatin1Char('?'));
    return s;
}

// Whether every FF from offset 3 on is followed by 55, and there is one.
bool looksEscaped(const QByteArray &bytes)
{
    bool any = false;
    for (int i = Frame::FirstEscapedOffset; i < bytes.size(); ++i) {
        if (quint8(bytes.at(i)) != Frame::HeaderByte)
            continue;
        if (i + 1 >= bytes.size() || quint8(bytes.at(i + 1)) != Frame::EscapeByte)
            return false;
        any = true;
        ++i;
    }
    return any;
}

// How the length field of a frame with header relates to its size: 0 it
// counts the bytes there (checksum included), 1 it counts one more (the
// checksum is missing), -1 neither.
int lengthMatch(const QByteArray &frame)
{
    const int length = Frame::lengthField(frame);
    if (length < 0)
        return -1;
    const int counted = frame.size() - Frame::LengthFieldOverhead;
    if (length == counted)
        return 0;
    if (length == counted + 1)
        return 1;
    return -1;
}

FrameCompletion::Result asTyped(const QByteArray &bytes)
{
    FrameCompletion::Result r;
    r.wire = bytes;
    return r;
}

FrameCompletion::Result refused(const QString &why)
{
    FrameCompletion::Result r;
    r.error = why;
    return r;
}

} // namespace

FrameCompletion::Result FrameCompletion::complete(const QString &text)
{
    const Split s = split(text);
    if (s.twoPlaceholders)
        return refused(QStringLiteral("“??”只能出现一处，写在长度字段的位置"));
    QByteArray bytes = HexInput::toBytes(s.before);
    if (!s.placeholder && (bytes.isEmpty() || bytes.startsWith(V3Header)))
        return asTyped(bytes);
    if (s.placeholder && !bytes.isEmpty() && bytes != Header)
        return refused(QStringLiteral("“??”只能写在帧头 FF FF 之后、长度字段的位置"));

    Result r;
    if (!bytes.startsWith(Header)) {
        bytes.prepend(Header);
        r.added << QStringLiteral("帧头 FF FF");
    }

    QByteArray frame;
    bool appendChecksum = true;
    QString wrongLength; // a typed length field that did not match
    if (s.placeholder) {
        const QByteArray body = HexInput::toBytes(s.after);
        if (body.isEmpty())
            return refused(QStringLiteral("“??”之后没有命令字节"));
        frame.reserve(Header.size() + 2 + body.size() + 1);
        frame.append(Header).append(2, '\0').append(body);
    } else {
        if (bytes.size() <= Header.size())
            return asTyped(HexInput::toBytes(s.before));
        // Already the wire form of a frame: read the escapes back.
        if (looksEscaped(bytes)) {
            const QByteArray unescaped = Frame::unescape(bytes);
            if (lengthMatch(unescaped) >= 0)
                bytes = unescaped;
        }
        const int match = lengthMatch(bytes);
        if (match == 0) {
            frame = bytes;
            appendChecksum = false;
        } else if (match == 1) {
            frame = bytes;
        } else if (bytes.size() >= Header.size() + 2 && bytes.at(Header.size()) == '\0') {
            // No command is 00: this is a length field, and a wrong one.
            frame = bytes;
            wrongLength = hexOf(bytes.mid(Frame::LengthOffset, 2));
        } else {
            // The length was left out: the command follows the header.
            frame.reserve(bytes.size() + 3);
            frame.append(Header).append(2, '\0');
            frame.append(bytes.constData() + Header.size(), bytes.size() - Header.size());
        }
    }
    if (frame.size() <= Frame::CommandOffset)
        return asTyped(HexInput::toBytes(s.before));
    if (appendChecksum)
        frame.append('\0');

    const int length = frame.size() - Frame::LengthFieldOverhead;
    if (length > MaxLength)
        return refused(QStringLiteral("帧太长：长度 %1 超出 16 位长度字段").arg(length));
    if (Frame::lengthField(frame) != length) {
        Frame::setLengthField(frame, length);
        r.added << (wrongLength.isEmpty() ? QStringLiteral("长度 %1").arg(lengthText(length))
                                          : QStringLiteral("长度 %1（原为 %2，与帧不符）")
                                                .arg(lengthText(length), wrongLength));
    }
    const quint8 before = quint8(frame.at(frame.size() - 1));
    ZemTool::setFrameChecksum(frame);
    const quint8 sum = quint8(frame.at(frame.size() - 1));
    if (appendChecksum || sum != before)
        r.added << QStringLiteral("校验和 %1").arg(hexOf(frame.right(1)));
    r.wire = ZemTool::escape(frame);
    const int escapes = r.wire.size() - frame.size();
    if (escapes > 0)
        r.added << QStringLiteral("转义 %1 处 FF 55").arg(escapes);
    r.frame = frame;
    return r;
}

QByteArray FrameCompletion::withSequence(const QByteArray &wire, int sequence, bool *changed)
{
    if (changed)
        *changed = false;
    QByteArray frame = Frame::unescape(wire);
    if (!frame.startsWith(Header) || !Frame::isWhole(frame))
        return wire;
    frame[Frame::SequenceOffset] = char(sequence & 0xFF);
    ZemTool::setFrameChecksum(frame);
    if (changed)
        *changed = true;
    return ZemTool::escape(frame);
}

int FrameCompletion::sequenceOf(const QByteArray &wire)
{
    const QByteArray frame = Frame::unescape(wire);
    if (!frame.startsWith(Header) || !Frame::isWhole(frame))
        return -1;
    return Frame::sequence(frame);
}

QString FrameCompletion::hint(const QString &text)
{
    if (text.trimmed().isEmpty())
        return QString();
    const Result r = complete(text);
    if (!r.ok())
        return QStringLiteral("无法自动补全，不会发送：%1").arg(r.error);
    if (r.wire.isEmpty())
        return QStringLiteral("输入中没有十六进制数字，不会发送任何字节。");
    QStringList lines;
    const int shown = qMin(int(r.wire.size()), HintBytes);
    for (int i = 0; i < shown; i += 16)
        lines << hexOf(r.wire.mid(i, qMin(16, shown - i)));
    if (r.wire.size() > HintBytes)
        lines.last() += QStringLiteral(" …");
    QString head = r.frame.isEmpty()
        ? QStringLiteral("自动补全帧：不是 4 版帧，按原样发送（%1 字节）：").arg(r.wire.size())
        : QStringLiteral("自动补全帧后实际发送（%1 字节）：").arg(r.wire.size());
    QString tail;
    if (!r.frame.isEmpty())
        tail = r.added.isEmpty() ? QStringLiteral("\n无需补全")
                                 : QStringLiteral("\n已补：") + r.added.join(QStringLiteral("，"));
    return head + QLatin1Char('\n') + lines.join(QLatin1Char('\n')) + tail;
}
