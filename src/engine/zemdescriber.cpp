#include "engine/zemdescriber.h"

#include "engine/settingkeys.h"
#include "protocol/frameformat.h"
#include "protocol/zemtool.h"

namespace {

bool holds(const QByteArray &frame, int offset)
{
    return offset >= 0 && offset < frame.size();
}

int at(const QByteArray &frame, int offset)
{
    return ZemTool::byteValue(frame, offset);
}

// "%02x": lower-case, at least two digits.
QString lowerHex(int value)
{
    return QString::number(value, 16).rightJustified(2, QLatin1Char('0'));
}

QString upperHex(int value)
{
    return SettingKeys::hexCode(value);
}

constexpr int StatusOffset = Frame::PayloadOffset;     // 0x0D: signal and app bits
constexpr int StateOffset = Frame::PayloadOffset + 1;  // 0x0D: connection and Wi-Fi state
constexpr int TimeLastOffset = Frame::PayloadOffset + 6; // 0x18: seconds

} // namespace

QString ZemDescriber::descriptionKey(const QByteArray &frame)
{
    if (!holds(frame, Frame::CommandOffset))
        return QString();
    const int command = at(frame, Frame::CommandOffset);
    if (command < 0x01 || command > 0x20)
        return QString();

    QString suffix = upperHex(command);
    if (command == 0x03 && holds(frame, Frame::PayloadOffset)) {
        // Control (01) or status read (02).
        const int action = at(frame, Frame::PayloadOffset);
        if (action == 0x01 || action == 0x02)
            suffix += upperHex(action);
    } else if (command == 0x04) {
        // Without payload it acknowledges a control, otherwise it carries the status.
        suffix += ZemTool::word16(frame, Frame::LengthOffset) == Frame::MinLength
                      ? QStringLiteral("04")
                      : QStringLiteral("03");
    }
    return SettingKeys::commandDescriptionKey(suffix);
}

bool ZemDescriber::hasWrongChecksum(const QByteArray &frame)
{
    // Only a whole frame (its length field + 4 is its size) has a checksum
    // byte of its own; in a cut or run-together line the last byte is
    // something else.
    if (frame.size() < Frame::MinFrameSize
        || ZemTool::word16(frame, Frame::LengthOffset) + Frame::LengthFieldOverhead != frame.size())
        return false;
    return at(frame, frame.size() - 1) != ZemTool::frameChecksum(frame);
}

QStringList ZemDescriber::describe(const QByteArray &frame, const Lookup &lookup)
{
    QStringList texts;
    texts.reserve(FieldCount);
    for (int i = 0; i < FieldCount; ++i)
        texts.append(QString());

    const QString key = descriptionKey(frame);
    if (!key.isEmpty())
        texts[Description] = lookup(key);
    if (holds(frame, Frame::LengthOffset + 1))
        texts[Length] = lowerHex(ZemTool::word16(frame, Frame::LengthOffset));
    if (!holds(frame, Frame::CommandOffset))
        return texts;

    const int command = at(frame, Frame::CommandOffset);
    texts[Command] = lowerHex(command);
    // The sum the frame should carry in its last byte; a whole frame that
    // carries another value shows both, so a damaged frame stands out.
    texts[Checksum] = lowerHex(ZemTool::frameChecksum(frame));
    if (hasWrongChecksum(frame))
        texts[Checksum] += QStringLiteral("（帧中%1）").arg(lowerHex(at(frame, frame.size() - 1)));
    if (holds(frame, Frame::SequenceOffset))
        texts[Sequence] = lowerHex(at(frame, Frame::SequenceOffset));

    switch (command) {
    case 0x02:
        texts[ProductKey] = lookup(SettingKeys::ProductKey);
        break;
    case 0x09:
        if (holds(frame, Frame::PayloadOffset)) {
            const int mode = at(frame, Frame::PayloadOffset);
            if (mode == 0x01 || mode == 0x02)
                texts[SetMode] = lookup(SettingKeys::setModeKey(mode));
        }
        break;
    case 0x0D:
        // Offset 8: bits 0-2 signal strength, bit 3 an app is connected.
        // Offset 9: high nibble connection state, low nibble Wi-Fi mode state.
        if (holds(frame, StatusOffset)) {
            const int status = at(frame, StatusOffset);
            texts[Signal] = upperHex(status & 0x07);
            texts[HasConnect] = lookup(SettingKeys::hasConnectKey((status >> 3) & 0x01));
        }
        if (holds(frame, StateOffset)) {
            const int state = at(frame, StateOffset);
            texts[Connect] = lookup(SettingKeys::connectKey(state >> 4));
            texts[WifiState] = lookup(SettingKeys::wifiStateKey(state & 0x0F));
        }
        break;
    case 0x18:
        if (holds(frame, TimeLastOffset)) {
            texts[Time] = QString::asprintf("%d年%d月%d日%d时%d分%d秒",
                                            ZemTool::word16(frame, 8), at(frame, 10),
                                            at(frame, 11), at(frame, 12), at(frame, 13),
                                            at(frame, 14));
        }
        break;
    default:
        break;
    }
    return texts;
}
