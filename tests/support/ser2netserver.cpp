// SPDX-License-Identifier: GPL-3.0-or-later
#include "ser2netserver.h"

#include "testsupport.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

#include <fcntl.h>
#include <unistd.h>

namespace {
// Whether something listens on 127.0.0.1:port, read from the kernel's
// socket table: a test connection would have ser2net open the device, and
// while it closes it again a client coming right after is turned away.
bool listening(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local
        = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // local address, remote address, state (0A: listening)
        if (fields.size() > 3 && fields.at(1) == local && fields.at(3) == "0A")
            return true;
    }
    return false;
}
} // namespace

Ser2netServer::Ser2netServer(const QString &devicePath)
    : m_device(devicePath)
{
    // Ports nothing listens on now: the system's picks for two listeners
    // that are closed again at once (both held, so the picks differ).
    QTcpServer raw;
    QTcpServer telnet;
    if (raw.listen(QHostAddress::LocalHost, 0) && telnet.listen(QHostAddress::LocalHost, 0)) {
        m_rawPort = raw.serverPort();
        m_telnetPort = telnet.serverPort();
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

Ser2netServer::~Ser2netServer()
{
    stop();
}

bool Ser2netServer::start(QString *problem)
{
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("ser2net"),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    if (program.isEmpty()) {
        *problem = QStringLiteral("ser2net is not installed; scripts/setup.sh installs it");
        return false;
    }
    // The device is opened when a client connects, with the "local" option
    // so that a pty's missing modem lines do not count as a hang-up. Without
    // chardelay ser2net hands on what the device sends at once instead of
    // holding it for two characters' time (at least 1 ms).
    const QString connector = QStringLiteral("    connector: serialdev,%1,9600n81,local\n"
                                             "    options:\n"
                                             "      chardelay: false\n")
                                  .arg(m_device);
    const QString config = QStringLiteral("connection: &raw\n"
                                          "    accepter: tcp,127.0.0.1,%1\n")
                               .arg(m_rawPort)
        + connector
        + QStringLiteral("connection: &tel\n"
                         "    accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n")
              .arg(m_telnetPort)
        + connector;
    QFile file(m_dir.filePath(QStringLiteral("ser2net.yaml")));
    if (!m_dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
        *problem = QStringLiteral("cannot write the ser2net configuration");
        return false;
    }
    file.close();
    m_process.start(program,
                    {QStringLiteral("-n"), QStringLiteral("-c"), file.fileName(),
                     QStringLiteral("-P"), m_dir.filePath(QStringLiteral("pid"))});
    if (!m_process.waitForStarted(5000)) {
        *problem = QStringLiteral("ser2net did not start: ") + m_process.errorString();
        return false;
    }
    if (!waitUntil(
            [this] {
                return m_process.state() != QProcess::Running
                    || (listening(m_rawPort) && listening(m_telnetPort));
            },
            10000)
        || m_process.state() != QProcess::Running) {
        *problem = QStringLiteral("ser2net did not listen on ports %1 and %2: %3")
                       .arg(m_rawPort)
                       .arg(m_telnetPort)
                       .arg(QString::fromLocal8Bit(m_process.readAll()));
        stop();
        return false;
    }
    return true;
}

void Ser2netServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString Ser2netServer::rawAddress() const
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(m_rawPort);
}

QString Ser2netServer::telnetAddress() const
{
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_telnetPort);
}

bool Ser2netServer::deviceSettings(const QString &path, termios *settings)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool ok = tcgetattr(fd, settings) == 0;
    ::close(fd);
    return ok;
}
