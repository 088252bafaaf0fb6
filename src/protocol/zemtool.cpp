// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/zemtool.h"

#include "base/apppaths.h"
#include "protocol/frameformat.h"

#include "protocol/settingsfile.h"

ZemTool::ZemTool(QObject *parent)
    : QObject(parent)
    , m_settings(SettingsFile::open(AppPaths::settingsFile()))
{ }

ZemTool::~ZemTool() = default;

quint8 ZemTool::checksum(const QByteArray &bytes, int from, int tail)
{
    // The range is clipped to the array: a negative start or tail, or one near
    // the int limits, must neither read outside it nor overflow. 64-bit
    // arithmetic keeps size - tail exact for every int tail.
    const qint64 begin = qMax<qint64>(0, from);
    const qint64 end = qMin<qint64>(bytes.size(), qint64(bytes.size()) - tail);
    unsigned sum = 0;
    const char *data = bytes.constData();
    for (qint64 i = begin; i < end; ++i)
        sum += static_cast<unsigned char>(data[i]);
    return static_cast<quint8>(sum & 0xFF);
}

quint8 ZemTool::frameChecksum(const QByteArray &frame)
{
    return checksum(frame, Frame::ChecksumStart, Frame::ChecksumTail);
}

void ZemTool::setFrameChecksum(QByteArray &frame)
{
    if (frame.size() < 2)
        return;
    frame[frame.size() - 1] = static_cast<char>(frameChecksum(frame));
}

int ZemTool::byteValue(const QByteArray &bytes, int i)
{
    if (i < 0 || i >= bytes.size())
        return 0;
    return static_cast<unsigned char>(bytes.at(i));
}

int ZemTool::word16(const QByteArray &bytes, int i)
{
    // Compared without i + 1, which would overflow for i = INT_MAX.
    if (i < 0 || i >= bytes.size() - 1)
        return 0;
    return (byteValue(bytes, i) << 8) | byteValue(bytes, i + 1);
}

QByteArray ZemTool::numberToBytes(quint32 value, int width)
{
    if (width < 1 || width > 4)
        return QByteArray();
    QByteArray out(width, '\0');
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>(value & 0xFF);
        value >>= 8;
    }
    return out;
}

QString ZemTool::hexText(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    // Three characters a byte; past MaxHexTextBytes the count would not fit
    // in an int, let alone in one QString.
    if (bytes.size() > MaxHexTextBytes)
        return QString();
    QString out(bytes.size() * 3, Qt::Uninitialized);
    QChar *dst = out.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *dst++ = QLatin1Char(digits[b >> 4]);
        *dst++ = QLatin1Char(digits[b & 0x0F]);
        *dst++ = QLatin1Char(' ');
    }
    return out;
}

QByteArray ZemTool::escape(const QByteArray &frame)
{
    const int n = frame.size();
    int extra = 0;
    for (int i = Frame::FirstEscapedOffset; i < n; ++i)
        if (static_cast<unsigned char>(frame.at(i)) == Frame::HeaderByte)
            ++extra;
    if (extra == 0)
        return frame;

    QByteArray out;
    out.reserve(n + extra);
    out.append(frame.constData(), qMin(n, Frame::FirstEscapedOffset));
    for (int i = Frame::FirstEscapedOffset; i < n; ++i) {
        const char c = frame.at(i);
        out.append(c);
        if (static_cast<unsigned char>(c) == Frame::HeaderByte)
            out.append(static_cast<char>(Frame::EscapeByte));
    }
    return out;
}

QString ZemTool::readSetting(const QString &key) const
{
    return m_settings->value(key);
}

void ZemTool::writeSetting(const QString &key, const QString &value)
{
    m_settings->setValue(key, value);
}

void ZemTool::flushSettings()
{
    m_settings->flush();
}

QString ZemTool::settingsWarning() const
{
    return m_settings->warning();
}

void ZemTool::writeSettingHex(const QString &key, const QByteArray &bytes)
{
    writeSetting(key, hexText(bytes));
}

int ZemTool::readSettingNumber(const QString &key) const
{
    bool ok = false;
    const int value = readSetting(key).trimmed().toInt(&ok);
    return ok ? value : 0;
}

QByteArray ZemTool::readSettingHex(const QString &key) const
{
    return QByteArray::fromHex(readSetting(key).toLatin1());
}
