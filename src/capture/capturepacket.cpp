// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/capturepacket.h"

#include <cstring>

namespace CapturePacket {

QByteArray portNameBytes(const QString &portName)
{
    QByteArray utf8 = portName.toUtf8();
    if (utf8.size() <= MaxPortNameBytes)
        return utf8;
    // Cut before the character whose bytes would cross the limit: UTF-8
    // continuation bytes are 10xxxxxx.
    int end = MaxPortNameBytes;
    while (end > 0 && (quint8(utf8.at(end)) & 0xC0) == 0x80)
        --end;
    utf8.truncate(end);
    return utf8;
}

void encode(const LineSegment &segment, const QByteArray &portName, QByteArray &out)
{
    const int nameSize = int(qMin<qsizetype>(portName.size(), MaxPortNameBytes));
    const qsizetype total = HeaderSize + nameSize + segment.wire.size();
    out.resize(total);
    char *p = out.data();
    p[0] = char(Version);
    p[1] = char(segment.direction);
    p[2] = char(segment.kind);
    p[3] = char(nameSize);
    if (nameSize > 0)
        std::memcpy(p + HeaderSize, portName.constData(), size_t(nameSize));
    if (!segment.wire.isEmpty())
        std::memcpy(p + HeaderSize + nameSize, segment.wire.constData(),
                    size_t(segment.wire.size()));
}

bool decode(const char *data, qsizetype size, LineSegment &segment, QByteArray &portName,
            QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (size < HeaderSize)
        return fail(QStringLiteral("数据包只有 %1 字节，短于 4 字节的伪头部").arg(size));
    const quint8 version = quint8(data[0]);
    const quint8 direction = quint8(data[1]);
    const quint8 kind = quint8(data[2]);
    const int nameSize = quint8(data[3]);
    if (version != Version)
        return fail(QStringLiteral("伪头部版本为 %1，应为 %2").arg(version).arg(Version));
    if (direction > quint8(LineDirection::ModuleToMcu))
        return fail(QStringLiteral("方向字节 %1 不是 0 或 1").arg(direction));
    if (kind > quint8(SegmentKind::Event))
        return fail(QStringLiteral("类型字节 %1 不是 0、1、2 或 3").arg(kind));
    if (HeaderSize + nameSize > size)
        return fail(QStringLiteral("端口名长 %1 字节，超出了数据包").arg(nameSize));
    segment.direction = LineDirection(direction);
    segment.kind = SegmentKind(kind);
    portName = QByteArray(data + HeaderSize, nameSize);
    segment.wire = QByteArray(data + HeaderSize + nameSize, int(size - HeaderSize - nameSize));
    return true;
}

} // namespace CapturePacket
