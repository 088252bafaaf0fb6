#include "engine/zemfirmware.h"

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
    , m_written(PieceNumbers)
{
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
    return ok;
}

bool ZemFirmware::storePiece(int number, const QByteArray &data, bool hex)
{
    if (number < 0 || number >= PieceNumbers)
        return false;
    if (m_written.testBit(number))
        return true;

    prepareFolder();
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
    return true;
}

bool ZemFirmware::wasWritten(int number) const
{
    return number >= 0 && number < PieceNumbers && m_written.testBit(number);
}
