// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/presetframes.h"

#include "protocol/zemtool.h"

namespace {

// "00 28 03" style: lower-case pairs separated by single blanks.
QString lowerHexPairs(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

// "FF FF 00" style: upper-case pairs separated by single blanks.
QString upperHexPairs(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace

QStringList PresetFrames::version3()
{
    // Version 3: 00 00 00 03, a 16-bit length (bytes after it), then the
    // command. The product reply carries a 0x20-byte key and two trailing
    // words.
    QByteArray reply = QByteArray::fromHex("00000003 0028 03 07 0020");
    reply += SampleProductKey;
    reply += QByteArray::fromHex("0002 0001");
    return {QStringLiteral("00 00 00 03 00 02 03 0b"), QStringLiteral("00 00 00 03 00 02 03 08"),
            QStringLiteral("00 00 00 03 00 02 03 06"), lowerHexPairs(reply)};
}

QStringList PresetFrames::version4()
{
    // Product information reply, sequence number 01: protocol version and
    // second protocol version "00000004", hardware and software version
    // "00000001", the product key, binding time 00 00, then the checksum.
    QByteArray reply = QByteArray::fromHex("FFFF 0047 02 01 0000");
    reply += QByteArrayLiteral("00000004") + QByteArrayLiteral("00000004");
    reply += QByteArrayLiteral("00000001") + QByteArrayLiteral("00000001");
    reply += SampleProductKey;
    reply += QByteArray::fromHex("0000");
    reply.append('\0');
    ZemTool::setFrameChecksum(reply);
    return {QStringLiteral("FF FF 00 05 0B 00 00 00 10"),
            QStringLiteral("FF FF 00 06 09 00 00 00 02 11"),
            QStringLiteral("FF FF 00 05 01 00 00 00 06"), upperHexPairs(reply)};
}
