// SPDX-License-Identifier: GPL-3.0-or-later
// The frame describer on any byte string a log line can hold.
//
// Checked: always twelve texts; every settings key the describer asks for has
// one of its fixed forms (a byte of the line only ever picks among them, it
// never makes up a key); the fields that belong to one command stay empty for
// every other; the command, sequence and length texts are the line's bytes.
#include "fuzzsupport.h"

#include "engine/zemdescriber.h"
#include "protocol/frameformat.h"
#include "protocol/zemtool.h"

#include <QRegularExpression>

namespace {

bool isKnownKey(const QString &key)
{
    static const QRegularExpression forms(QStringLiteral(
        "^(cmd/(0[1-9A-F]|1[0-9A-F]|20|030[12]|040[34])|setmode/0[12]|connect/0[0-9A-F]"
        "|wifistate/0[0-9A-F]|hasconnect/0[01]|product_key/key)$"));
    return forms.match(key).hasMatch();
}

QString lowerHex(int v)
{
    return QString::number(v, 16).rightJustified(2, QLatin1Char('0'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    const QByteArray line = Fuzz::bytes(data, size);

    QStringList asked;
    const QStringList texts = ZemDescriber::describe(line, [&asked](const QString &key) {
        asked.append(key);
        return QStringLiteral("<") + key + QStringLiteral(">");
    });
    if (texts.size() != ZemDescriber::FieldCount)
        Fuzz::fail("not twelve texts", line);
    for (const QString &key : asked)
        if (!isKnownKey(key))
            Fuzz::fail("the describer asked for a key of no known form", line, key.toUtf8());

    const int length = line.size();
    const int command
        = length > Frame::CommandOffset ? ZemTool::byteValue(line, Frame::CommandOffset) : -1;
    const bool described = command >= 0x01 && command <= 0x20;
    if (texts.at(ZemDescriber::Description).isEmpty() == described)
        Fuzz::fail("description present for a command outside 01..20, or missing", line);
    if (length > Frame::LengthOffset + 1
        && texts.at(ZemDescriber::Length) != lowerHex(ZemTool::word16(line, Frame::LengthOffset)))
        Fuzz::fail("length text", line);
    if (command >= 0 && texts.at(ZemDescriber::Command) != lowerHex(command))
        Fuzz::fail("command text", line);
    if (length > Frame::SequenceOffset
        && texts.at(ZemDescriber::Sequence)
            != lowerHex(ZemTool::byteValue(line, Frame::SequenceOffset)))
        Fuzz::fail("sequence text", line);
    if (command >= 0
        && !texts.at(ZemDescriber::Checksum).startsWith(lowerHex(ZemTool::frameChecksum(line))))
        Fuzz::fail("checksum text does not start with the computed sum", line);

    const struct
    {
        ZemDescriber::Field field;
        int command;
    } ownFields[] = {
        {ZemDescriber::SetMode, 0x09},   {ZemDescriber::Connect, 0x0D},
        {ZemDescriber::WifiState, 0x0D}, {ZemDescriber::ProductKey, 0x02},
        {ZemDescriber::Signal, 0x0D},    {ZemDescriber::HasConnect, 0x0D},
        {ZemDescriber::Time, 0x18},
    };
    for (const auto &own : ownFields)
        if (command != own.command && !texts.at(own.field).isEmpty())
            Fuzz::fail("a field of another command is filled", line);
    return 0;
}
