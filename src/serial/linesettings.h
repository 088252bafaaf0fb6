#pragma once

#include <QString>

// Line settings as a command line gives them ("9600", "8", "1.5", "even"),
// turned into what ZemSerialPort::Open takes: the baud rate and the indexes
// of the data-bits, stop-bits and parity choices.
namespace LineSettings {

struct Settings
{
    int baud = 9600;
    int dataBitsIndex = 3; // 5, 6, 7, 8 bits
    int stopBitsIndex = 0; // 1, 1.5, 2
    int parityIndex = 0;   // none, odd, even, space
};

// False, with *problem naming the bad value, when any text is not one of
// the accepted forms. Parity is case-insensitive.
bool parse(const QString &baud, const QString &dataBits, const QString &stopBits,
           const QString &parity, Settings *settings, QString *problem);

} // namespace LineSettings
