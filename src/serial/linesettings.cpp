// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/linesettings.h"

#include <QStringList>

namespace LineSettings {

namespace {
    const QSerialPort::DataBits DataBitsByIndex[]
        = {QSerialPort::Data5, QSerialPort::Data6, QSerialPort::Data7, QSerialPort::Data8};
    const QSerialPort::StopBits StopBitsByIndex[]
        = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop, QSerialPort::TwoStop};
    const QSerialPort::Parity ParityByIndex[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                 QSerialPort::EvenParity, QSerialPort::SpaceParity};

    template <typename T, int N> int indexOf(const T (&table)[N], T value)
    {
        for (int i = 0; i < N; ++i)
            if (table[i] == value)
                return i;
        return -1;
    }
} // namespace

Settings fromFormIndexes(const QString &baudText, int dataBitsIndex, int stopBitsIndex,
                         int parityIndex)
{
    Settings s;
    bool ok = false;
    const int rate = baudText.trimmed().toInt(&ok);
    s.baudRate = ok && rate > 0 ? rate : 0;
    if (dataBitsIndex >= 0 && dataBitsIndex < 4)
        s.dataBits = DataBitsByIndex[dataBitsIndex];
    if (stopBitsIndex >= 0 && stopBitsIndex < 3)
        s.stopBits = StopBitsByIndex[stopBitsIndex];
    if (parityIndex >= 0 && parityIndex < 4)
        s.parity = ParityByIndex[parityIndex];
    return s;
}

int dataBitsIndex(QSerialPort::DataBits dataBits)
{
    return indexOf(DataBitsByIndex, dataBits);
}

int stopBitsIndex(QSerialPort::StopBits stopBits)
{
    return indexOf(StopBitsByIndex, stopBits);
}

int parityIndex(QSerialPort::Parity parity)
{
    return indexOf(ParityByIndex, parity);
}

bool parse(const QString &baud, const QString &dataBits, const QString &stopBits,
           const QString &parity, Settings *settings, QString *problem)
{
    bool ok = false;
    const int rate = baud.toInt(&ok);
    if (!ok || rate < 50 || rate > 4000000) {
        *problem = QStringLiteral("not a baud rate: %1").arg(baud);
        return false;
    }
    const int bits = dataBits.toInt(&ok);
    if (!ok || bits < 5 || bits > 8) {
        *problem = QStringLiteral("data bits must be 5, 6, 7 or 8: %1").arg(dataBits);
        return false;
    }
    const int stop
        = QStringList{QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")}.indexOf(
            stopBits.trimmed());
    if (stop < 0) {
        *problem = QStringLiteral("stop bits must be 1, 1.5 or 2: %1").arg(stopBits);
        return false;
    }
    const int par = QStringList{QStringLiteral("none"), QStringLiteral("odd"),
                                QStringLiteral("even"), QStringLiteral("space")}
                        .indexOf(parity.trimmed().toLower());
    if (par < 0) {
        *problem = QStringLiteral("parity must be none, odd, even or space: %1").arg(parity);
        return false;
    }
    settings->baudRate = rate;
    settings->dataBits = DataBitsByIndex[bits - 5];
    settings->stopBits = StopBitsByIndex[stop];
    settings->parity = ParityByIndex[par];
    return true;
}

} // namespace LineSettings
