// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSerialPort>
#include <QString>

// The settings a line is opened with, as QSerialPort names them. Forms, the
// headless programs' options and the settings file all end up as this value;
// a line (local port or, later, a port served over the network) applies it.
namespace LineSettings {

struct Settings
{
    qint32 baudRate = 9600;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::FlowControl flowControl = QSerialPort::NoFlowControl;

    bool operator==(const Settings &other) const
    {
        return baudRate == other.baudRate && dataBits == other.dataBits
            && stopBits == other.stopBits && parity == other.parity
            && flowControl == other.flowControl;
    }
    bool operator!=(const Settings &other) const { return !(*this == other); }
};

// The forms' combo boxes: baud text, data bits 0..3 -> 5..8, stop bits
// 0..2 -> one, one and a half, two, parity 0..3 -> none, odd, even, space.
// An index out of range keeps the default of that field; a baud text that
// is no positive number gives baud rate 0, which no port accepts.
Settings fromFormIndexes(const QString &baudText, int dataBitsIndex, int stopBitsIndex,
                         int parityIndex);
// The inverse, for forms that show a Settings value; -1 for a value the
// forms do not offer.
int dataBitsIndex(QSerialPort::DataBits dataBits);
int stopBitsIndex(QSerialPort::StopBits stopBits);
int parityIndex(QSerialPort::Parity parity);

// Line settings as a command line gives them ("9600", "8", "1.5", "even").
// False, with *problem naming the bad value, when any text is not one of
// the accepted forms. Parity is case-insensitive.
bool parse(const QString &baud, const QString &dataBits, const QString &stopBits,
           const QString &parity, Settings *settings, QString *problem);

} // namespace LineSettings
