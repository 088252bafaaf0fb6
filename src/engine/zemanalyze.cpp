// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/zemanalyze.h"

#include "base/apppaths.h"
#include "engine/zemdescriber.h"
#include "engine/zemreply.h"
#include "protocol/frameformat.h"
#include "protocol/settingkeys.h"
#include "protocol/zemframer.h"
#include "protocol/zemproductkey.h"
#include "protocol/zemtool.h"

#include <QDebug>

ZemAnalyze::ZemAnalyze(ZemFramer *framer, ZemTool *tool, QObject *parent)
    : QObject(parent)
    , m_framer(framer)
    , m_tool(tool)
    , m_firmware(AppPaths::binDir() + QStringLiteral("/mcu.bin"),
                 AppPaths::binDir() + QStringLiteral("/mcu.hex"))
{
    if (!framer) {
        qDebug() << "error ZemFramer";
        return;
    }
    connect(framer, &ZemFramer::LineDataReady, this, &ZemAnalyze::FindRespond);
}

ZemAnalyze::ZemAnalyze(ZemTool *tool, QObject *parent)
    : QObject(parent)
    , m_tool(tool)
    , m_firmware(AppPaths::binDir() + QStringLiteral("/mcu.bin"),
                 AppPaths::binDir() + QStringLiteral("/mcu.hex"))
{ }

void ZemAnalyze::FindRespond(const QByteArray &frame)
{
    const std::optional<Frame::Command> request = Frame::command(frame);
    const std::optional<Frame::Command> replyCommand
        = request ? ZemReply::replyTo(*request) : std::nullopt;
    if (!replyCommand)
        return;
    if (!m_tool) {
        qDebug() << "no reply: no settings";
        return;
    }
    if (frame.size() < ZemReply::requestSizeNeeded(frame)) {
        qDebug() << "no reply: request too short" << ZemTool::hexText(frame);
        return;
    }
    if (!checksumOk(frame)) {
        // The module repeats a request it gets no answer to.
        qDebug() << "no reply: wrong checksum" << ZemTool::hexText(frame);
        return;
    }
    const QString key = SettingKeys::respondKey(*replyCommand);
    QByteArray reply = m_tool->readSettingHex(key);
    if (reply.size() < ZemReply::templateSizeNeeded(*request)) {
        qDebug() << "no reply: template too short" << key << reply.size();
        return;
    }
    ZemReply::copySequence(reply, frame);

    using C = Frame::Command;
    switch (*request) {
    case C::ProductInfo: {
        ZemReply::DeviceInfo device;
        device.hardVersion = ZemReply::versionField(m_tool->readSetting(SettingKeys::HardVersion));
        device.softVersion = ZemReply::versionField(m_tool->readSetting(SettingKeys::SoftVersion));
        device.bindingTime = m_tool->readSettingNumber(SettingKeys::BindingTime);
        device.central
            = m_tool->readSetting(SettingKeys::ModuleType) == SettingKeys::ModuleTypeCentral;
        ZemReply::patchProductInfo(reply, device);
        break;
    }
    case C::Status:
        if (Frame::isStatusRead(frame)) {
            ZemReply::markStatusReply(reply);
            if (m_statusSource) {
                emit RespondReady(ZemReply::statusAnswer(reply, m_statusSource()));
                return;
            }
            break;
        }
        break;
    case C::FirmwareStart: {
        QByteArray count;
        QByteArray field;
        ZemReply::firmwareFields(frame, &count, &field);
        // Files that cannot be created would lose every piece: no
        // acknowledgement, so the module does not start sending.
        if (!m_firmware.start(count, field))
            return;
        break;
    }
    case C::FirmwarePiece: {
        int number = 0;
        QByteArray data;
        ZemReply::firmwarePiece(frame, &number, &data);
        const bool hex = m_tool->readSetting(SettingKeys::OtaType) == SettingKeys::OtaTypeHex;
        // A piece that could not be written is not acknowledged: the module
        // sends it again.
        if (!m_firmware.storePiece(number, data, hex))
            return;
        break;
    }
    // Answered with the stored template as it is.
    case C::Heartbeat:
    case C::WifiStatus:
    case C::McuRestart:
    case C::IllegalFrame:
    case C::TestMode:
    case C::BindingMode:
        break;
    case C::FirmwareEnd:
        // The image is whole: its marker goes.
        m_firmware.finish();
        break;
    // No reply (replyTo said so above).
    case C::ProductInfoReply:
    case C::StatusReply:
    case C::StatusReport:
    case C::StatusReportReply:
    case C::HeartbeatReply:
    case C::ConfigMode:
    case C::ConfigModeReply:
    case C::ModuleReset:
    case C::ModuleResetReply:
    case C::WifiStatusReply:
    case C::McuRestartReply:
    case C::IllegalFrameReply:
    case C::TestModeReply:
    case C::BindingModeReply:
    case C::NetworkTime:
    case C::NetworkTimeReply:
    case C::FirmwareStartReply:
    case C::FirmwareReady:
    case C::FirmwareReadyReply:
    case C::FirmwarePieceReply:
    case C::FirmwareEndReply:
        return;
    }

    ZemTool::setFrameChecksum(reply);
    emit RespondReady(reply);
}

bool ZemAnalyze::checksumOk(const QByteArray &frame)
{
    return frame.size() >= Frame::MinFrameSize
        && quint8(frame.at(frame.size() - 1)) == ZemTool::frameChecksum(frame);
}

bool ZemAnalyze::checkProductKey(const QString &text)
{
    const QByteArray key = ZemProductKey::normalize(text);
    if (key.isEmpty() || !m_tool)
        return false;
    m_tool->writeSetting(SettingKeys::ProductKey, QString::fromLatin1(key));

    const QString respond = SettingKeys::respondKey(Frame::Command::ProductInfoReply);
    QByteArray reply = m_tool->readSettingHex(respond);
    if (ZemReply::writeProductKey(reply, key))
        m_tool->writeSettingHex(respond, reply);
    else
        qDebug() << "product key not written into" << respond << "template too short";
    return true;
}

QStringList ZemAnalyze::describe(const QByteArray &frame) const
{
    ZemTool *tool = m_tool;
    return ZemDescriber::describe(
        frame, [tool](const QString &key) { return tool ? tool->readSetting(key) : QString(); });
}
