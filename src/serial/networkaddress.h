// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The address of a serial port served over the network, as the user types it
// into a port field or gives it to --port:
//   tcp://HOST:PORT      raw bytes, as a serial server's raw mode serves them;
//   rfc2217://HOST:PORT  Telnet with the COM-PORT-OPTION (RFC 2217), so that
//                        the line settings are set on the remote port too.
// HOST is a name, an IPv4 address or an IPv6 address in brackets
// ([::1]:7000). Anything not starting with one of the two schemes is a local
// port name or path.
struct NetworkAddress
{
    enum Kind { Raw, Rfc2217 };

    Kind kind = Raw;
    QString host;
    quint16 port = 0;

    // Whether `text` names a network line at all (it starts with a scheme),
    // well-formed or not: such text is never opened as a local path.
    static bool isNetwork(const QString &text);
    // Parses `text`; false with *problem set (in the process's language, see
    // ZemSerialPort::setEnglishReasons) when it is not a usable address.
    // Blanks around the text are ignored; the scheme is case-insensitive.
    static bool parse(const QString &text, NetworkAddress *address, QString *problem);

    // The address written out again, in the form parse() takes.
    QString toString() const;
};
