// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <termios.h>

// The serial server a remote rig runs, for tests: ser2net in the foreground,
// serving one device (a pty the test holds) on 127.0.0.1 twice, raw and as
// Telnet with RFC 2217, on ports free at construction so that tests may run
// side by side. ser2net is installed by scripts/setup.sh; a test that needs
// it fails, rather than skips, when it is missing.
class Ser2netServer
{
public:
    explicit Ser2netServer(const QString &devicePath);
    ~Ser2netServer();
    Ser2netServer(const Ser2netServer &) = delete;
    Ser2netServer &operator=(const Ser2netServer &) = delete;

    // Starts ser2net (again, on the same ports) and waits until it listens on
    // both ports; false with *problem set when it is missing or did not come up.
    bool start(QString *problem);
    // Ends it, and with it every connection it served.
    void stop();

    QString rawAddress() const;
    QString telnetAddress() const;

    // The termios settings of a device as the server left them.
    static bool deviceSettings(const QString &path, termios *settings);

private:
    QTemporaryDir m_dir;
    QString m_device;
    quint16 m_rawPort = 0;
    quint16 m_telnetPort = 0;
    QProcess m_process;
};
