// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/zemfirmware.h"

#include "protocol/frameformat.h"
#include "protocol/zemtool.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
constexpr int PieceNumbers = 0x10000;
} // namespace

ZemFirmware::ZemFirmware(const QString &binFile, const QString &hexFile)
    : m_binFile(binFile)
    , m_hexFile(hexFile)
    , m_markerFile(QFileInfo(binFile).absolutePath() + QStringLiteral("/mcu.incomplete"))
    , m_written(PieceNumbers)
{ }

QByteArray ZemFirmware::requestFrame(const QByteArray &storedBody, const QByteArray &count,
                                     const QByteArray &field, int pieceSize, bool hex)
{
    if (storedBody.size() < Frame::PayloadOffset)
        return QByteArray();
    QByteArray frame = storedBody;
    frame.reserve(storedBody.size() + count.size() + field.size() + 3);
    frame.append(count);
    frame.append(field);
    frame.append(ZemTool::numberToBytes(quint32(qBound(0, pieceSize, MaxPieceSize)), 2));
    // The checksum is still to come: the length field counts it already.
    const qint64 length = qint64(frame.size()) + 1 - Frame::LengthFieldOverhead;
    if (length > 0xFFFF)
        return QByteArray();
    Frame::setLengthField(frame, int(length));
    if (hex)
        frame[Frame::TransferTypeOffset] = char(Frame::HexTransfer);
    frame.append(char(ZemTool::checksum(frame, Frame::ChecksumStart, 0)));
    return frame;
}

bool ZemFirmware::prepareFolder() const
{
    // A missing bin/ folder would silently lose the whole image.
    return QDir().mkpath(QFileInfo(m_binFile).absolutePath())
        && QDir().mkpath(QFileInfo(m_hexFile).absolutePath());
}

bool ZemFirmware::start(const QByteArray &count, const QByteArray &field)
{
    m_count = count;
    m_field = field;
    m_written.fill(false);

    bool ok = prepareFolder();
    for (const QString &name : {m_binFile, m_hexFile}) {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            qDebug() << "open failed" << name;
            ok = false;
        }
    }
    if (ok)
        begin();
    return ok;
}

bool ZemFirmware::storePiece(int number, const QByteArray &data, bool hex)
{
    if (number < 0 || number >= PieceNumbers)
        return false;
    if (m_written.testBit(number))
        return true;

    prepareFolder();
    if (!m_inProgress)
        begin();
    QFile file(hex ? m_hexFile : m_binFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qDebug() << "open failed" << file.fileName();
        return false;
    }
    const qint64 before = file.size();
    if (file.write(data) != data.size() || !file.flush()) {
        // Take back a partial write so that the repeated piece lands whole.
        file.resize(before);
        qDebug() << "write failed" << file.fileName();
        return false;
    }
    file.close();
    m_written.setBit(number);
    ++m_pieces;
    m_bytes += data.size();
    m_lastFile = file.fileName();
    return true;
}

void ZemFirmware::begin()
{
    m_inProgress = true;
    m_pieces = 0;
    m_bytes = 0;
    m_lastFile.clear();
    // Written before the first piece lands, so that a partial image never
    // stands without it.
    QFile marker(m_markerFile);
    if (!marker.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || marker.write("firmware transfer under way or cut short: mcu.bin / mcu.hex is "
                        "incomplete\n")
            < 0)
        qDebug() << "cannot write" << m_markerFile;
}

bool ZemFirmware::finish()
{
    if (!m_inProgress)
        return false;
    m_inProgress = false;
    if (QFile::exists(m_markerFile) && !QFile::remove(m_markerFile))
        qDebug() << "cannot remove" << m_markerFile;
    return true;
}
