// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/zemdescriber.h"

#include "protocol/frameformat.h"
#include "protocol/settingkeys.h"
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

} // namespace

QString ZemDescriber::descriptionKey(const QByteArray &frame)
{
    const std::optional<Frame::Command> command = Frame::command(frame);
    if (!command)
        return QString();

    QString suffix = upperHex(Frame::code(*command));
    if (*command == Frame::Command::Status) {
        // Control (01) or status read (02). A log line may be cut short, so
        // the byte counts wherever it stands.
        const int action = Frame::byteAt(frame, Frame::ActionOffset);
        if (action == Frame::code(Frame::StatusAction::Control)
            || action == Frame::code(Frame::StatusAction::Read))
            suffix += upperHex(action);
    } else if (*command == Frame::Command::StatusReply) {
        // Without payload it acknowledges a control ("0404"), otherwise it
        // carries the status (action 03, "0403").
        suffix += ZemTool::word16(frame, Frame::LengthOffset) == Frame::MinLength
            ? QStringLiteral("04")
            : upperHex(Frame::code(Frame::StatusAction::Answer));
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

    const std::optional<Frame::Command> known = Frame::command(frame);
    if (!known)
        return texts;
    using C = Frame::Command;
    switch (*known) {
    case C::ProductInfoReply:
        texts[ProductKey] = lookup(SettingKeys::ProductKey);
        break;
    case C::ConfigMode:
        if (holds(frame, Frame::ConfigModeOffset)) {
            const int mode = at(frame, Frame::ConfigModeOffset);
            if (mode == Frame::ModeSoftAp || mode == Frame::ModeAirLink)
                texts[SetMode] = lookup(SettingKeys::setModeKey(mode));
        }
        break;
    case C::WifiStatus:
        // Offset 8: bits 0-2 signal strength, bit 3 an app is connected.
        // Offset 9: high nibble connection state, low nibble Wi-Fi mode state.
        if (holds(frame, Frame::WifiSignalOffset)) {
            const int status = at(frame, Frame::WifiSignalOffset);
            texts[Signal] = upperHex(status & 0x07);
            texts[HasConnect] = lookup(SettingKeys::hasConnectKey((status >> 3) & 0x01));
        }
        if (holds(frame, Frame::WifiStateOffset)) {
            const int state = at(frame, Frame::WifiStateOffset);
            texts[Connect] = lookup(SettingKeys::connectKey(state >> 4));
            texts[WifiState] = lookup(SettingKeys::wifiStateKey(state & 0x0F));
        }
        break;
    case C::NetworkTimeReply:
        if (holds(frame, Frame::TimeSecondOffset)) {
            const int y = Frame::TimeYearOffset;
            texts[Time] = QString::asprintf("%d年%d月%d日%d时%d分%d秒", ZemTool::word16(frame, y),
                                            at(frame, y + 2), at(frame, y + 3), at(frame, y + 4),
                                            at(frame, y + 5), at(frame, y + 6));
        }
        break;
    // Nothing beyond the common fields.
    case C::ProductInfo:
    case C::Status:
    case C::StatusReply:
    case C::StatusReport:
    case C::StatusReportReply:
    case C::Heartbeat:
    case C::HeartbeatReply:
    case C::ConfigModeReply:
    case C::ModuleReset:
    case C::ModuleResetReply:
    case C::WifiStatusReply:
    case C::McuRestart:
    case C::McuRestartReply:
    case C::IllegalFrame:
    case C::IllegalFrameReply:
    case C::TestMode:
    case C::TestModeReply:
    case C::BindingMode:
    case C::BindingModeReply:
    case C::NetworkTime:
    case C::FirmwareStart:
    case C::FirmwareStartReply:
    case C::FirmwareReady:
    case C::FirmwareReadyReply:
    case C::FirmwarePiece:
    case C::FirmwarePieceReply:
    case C::FirmwareEnd:
    case C::FirmwareEndReply:
        break;
    }
    return texts;
}
