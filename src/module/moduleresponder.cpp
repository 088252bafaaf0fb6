// SPDX-License-Identifier: GPL-3.0-or-later
#include "module/moduleresponder.h"

#include "module/modulerequests.h"
#include "protocol/frameformat.h"
#include "protocol/zemtool.h"

bool ModuleResponder::isMcuRequest(const QByteArray &frame)
{
    using Frame::Command;
    if (frame.size() < Frame::MinFrameSize)
        return false;
    const auto command = Frame::command(frame);
    if (!command)
        return false;
    switch (*command) {
    case Command::StatusReport:
    case Command::ConfigMode:
    case Command::ModuleReset:
    case Command::TestMode:
    case Command::BindingMode:
    case Command::NetworkTime:
    case Command::FirmwareReady:
        return true;
    default:
        return false;
    }
}

QByteArray ModuleResponder::timePayload(const QDateTime &when)
{
    const QDate d = when.date();
    const QTime t = when.time();
    QByteArray p = ZemTool::numberToBytes(quint32(d.year()), 2);
    for (int v : {d.month(), d.day(), t.hour(), t.minute(), t.second()})
        p.append(char(v));
    return p;
}

QByteArray ModuleResponder::reply(const QByteArray &request)
{
    if (Frame::isCommand(request, Frame::Command::NetworkTime))
        return reply(request, QDateTime::currentDateTime());
    return reply(request, QDateTime());
}

QByteArray ModuleResponder::reply(const QByteArray &request, const QDateTime &now)
{
    if (!isMcuRequest(request))
        return QByteArray();
    const int code = Frame::commandCode(request) + 1;
    const int sequence = Frame::sequence(request);
    if (Frame::isCommand(request, Frame::Command::NetworkTime))
        return ModuleRequests::frame(code, sequence, timePayload(now));
    return ModuleRequests::frame(code, sequence);
}
