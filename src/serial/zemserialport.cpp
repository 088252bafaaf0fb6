// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/zemserialport.h"

#include "serial/portwatcher.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <termios.h>
#endif

namespace {
bool g_englishReasons = false;

// A reason in the process's language.
QString say(const char *chinese, const char *english)
{
    return g_englishReasons ? QString::fromLatin1(english) : QString::fromUtf8(chinese);
}

// A reason followed by the system's own words, in brackets.
QString withDetail(const QString &reason, const QString &detail)
{
    if (detail.isEmpty())
        return reason;
    return g_englishReasons ? reason + QStringLiteral(" (") + detail + QLatin1Char(')')
                            : reason + QStringLiteral("（") + detail + QStringLiteral("）");
}

// The user's words for why a port did not open, followed by the system's own.
QString openErrorText(QSerialPort::SerialPortError error, const QString &systemText)
{
    QString reason;
    switch (error) {
    case QSerialPort::PermissionError:
        reason = say("串口被占用或没有访问权限", "port busy or access denied");
        break;
    case QSerialPort::DeviceNotFoundError:
        reason = say("设备不存在", "no such device");
        break;
    case QSerialPort::OpenError:
        reason = say("串口已打开", "port already open");
        break;
    default:
        reason = say("无法打开串口", "cannot open port");
        break;
    }
    return withDetail(reason, systemText);
}

QString notListedText(const QString &name)
{
    return name.isEmpty() ? say("没有选择串口", "no port chosen")
                          : say("串口 %1 不存在", "port %1 does not exist").arg(name);
}
// The device node of a port: names the system lists live under /dev, the
// extra ports are given as paths.
QString devicePath(const QString &portName)
{
    return portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
}

// Why an open port failed, asked of the system at the moment of failure.
// The text Qt attaches to a read error comes from errno at some later point
// and is often another call's ("File exists", "Inappropriate ioctl for
// device"), or nothing at all ("Unknown error"), so it is not used. Instead:
// a vanished device node means the adapter was pulled; a hang-up means the
// far end closed; otherwise a fresh call on the descriptor gives the
// system's own reason.
QString lossReason(const QSerialPort &port, QSerialPort::SerialPortError error)
{
    const QString path = devicePath(port.portName());
    if (!QFileInfo::exists(path))
        return withDetail(say("设备已移除", "device removed"),
                          say("%1 不存在", "%1 no longer exists").arg(path));
#ifdef Q_OS_UNIX
    const int fd = int(port.handle());
    if (fd >= 0) {
        termios attributes;
        const bool gone = ::tcgetattr(fd, &attributes) != 0;
        const QString systemText = gone ? QString::fromLocal8Bit(std::strerror(errno)) : QString();
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return withDetail(say("线路已挂断", "line hung up"),
                              gone ? systemText : say("对端已关闭", "far end closed"));
        if (gone)
            return withDetail(say("设备出错", "device error"), systemText);
    }
#endif
    return error == QSerialPort::ReadError ? say("读取出错", "read error")
                                           : say("设备不可用", "device unavailable");
}
} // namespace

ZemSerialPort::ZemSerialPort(QObject *parent)
    : QSerialPort(parent)
{
    m_unused.clear();
    PortWatcher *watcher = PortWatcher::instance();
    connect(watcher, &PortWatcher::portsChanged, this, &ZemSerialPort::takePortList);
    // The list the watcher already holds is this port's first report, made
    // from the event loop so that the owner has connected by then.
    QMetaObject::invokeMethod(
        this, [this] { takePortList(currentPortNames()); }, Qt::QueuedConnection);
    connect(this, &QSerialPort::errorOccurred, this, &ZemSerialPort::onErrorOccurred);
}

ZemSerialPort::~ZemSerialPort() = default;

void ZemSerialPort::setEnglishReasons(bool english)
{
    g_englishReasons = english;
}

bool ZemSerialPort::englishReasons()
{
    return g_englishReasons;
}

QStringList ZemSerialPort::currentPortNames()
{
    return PortWatcher::instance()->ports();
}

void ZemSerialPort::takePortList(const QStringList &ports)
{
    if (ports == m_lastPorts)
        return;
    m_lastPorts = ports;
    emit ComListChange(ports);
}

void ZemSerialPort::getComList()
{
    takePortList(currentPortNames());
    PortWatcher::instance()->rescan();
}

bool ZemSerialPort::Open(const QString &name, const QString &baudText, int dataBitsIndex,
                         int stopBitsIndex, int parityIndex)
{
    return Open(name,
                LineSettings::fromFormIndexes(baudText, dataBitsIndex, stopBitsIndex, parityIndex));
}

bool ZemSerialPort::Open(const QString &name, const LineSettings::Settings &settings)
{
    if (isOpen())
        Close();

    // Opened by name: the system's ports by their name (Qt finds the device
    // under /dev), the extra ports by their path. Membership is checked
    // against the watcher's list; enumerating here would stall the caller.
    const bool found = !name.isEmpty() && (m_acceptUnlisted || currentPortNames().contains(name));
    if (!found) {
        setPortName(QString());
        m_openFailure = notListedText(name);
        return false;
    }
    setPortName(name);

    m_failurePending = false;
    m_openFailure.clear();
    if (!open(QIODevice::ReadWrite)) {
        // A listed device that vanished since the last scan is no port any
        // longer; the list is brought up to date at once.
        if (error() == QSerialPort::DeviceNotFoundError && !m_acceptUnlisted) {
            m_openFailure = notListedText(name);
            PortWatcher::instance()->rescan();
        } else {
            m_openFailure = openErrorText(error(), errorString());
        }
        clearError();
        return false;
    }

    applySettings(settings);

    connect(this, &QSerialPort::readyRead, this, &ZemSerialPort::readComData, Qt::UniqueConnection);
    emit Opened(name);
    return true;
}

bool ZemSerialPort::applySettings(const LineSettings::Settings &settings)
{
    // Each setter reports its own refusal; all are tried, so one refused
    // value does not leave the others unset.
    bool ok = setBaudRate(settings.baudRate, QSerialPort::AllDirections);
    ok = setDataBits(settings.dataBits) && ok;
    ok = setStopBits(settings.stopBits) && ok;
    ok = setParity(settings.parity) && ok;
    ok = setFlowControl(settings.flowControl) && ok;
    if (!ok)
        clearError();
    return ok;
}

void ZemSerialPort::Close()
{
    disconnect(this, &QSerialPort::readyRead, this, &ZemSerialPort::readComData);
    if (isOpen())
        close();
}

qint64 ZemSerialPort::writeData(const char *data, qint64 maxSize)
{
    // Every write of the port (write(), putChar(), a stream) ends here; what
    // the port took is reported once, in the order it will go on the line.
    const qint64 taken = QSerialPort::writeData(data, maxSize);
    if (taken > 0)
        emit DataSent(QByteArray(data, int(taken)));
    return taken;
}

void ZemSerialPort::readComData()
{
    const QByteArray data = readAll();
    if (data.isEmpty())
        return;
    emit DataReceived(data);
    emit DataReady(data);
}

void ZemSerialPort::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    if (!isOpen() || m_failurePending)
        return;
    // Stop reading at once; the close itself runs from the event loop, outside
    // the notifier that reported the error.
    m_failurePending = true;
    m_failureReason = lossReason(*this, error);
    disconnect(this, &QSerialPort::readyRead, this, &ZemSerialPort::readComData);
    QMetaObject::invokeMethod(this, &ZemSerialPort::closeAfterFailure, Qt::QueuedConnection);
}

void ZemSerialPort::closeAfterFailure()
{
    if (!m_failurePending)
        return;
    m_failurePending = false;
    const bool wasOpen = isOpen();
    if (wasOpen)
        close();
    clearError();
    if (wasOpen)
        emit PortLost(m_failureReason);
}
