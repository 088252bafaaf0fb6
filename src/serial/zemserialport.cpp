// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/zemserialport.h"

#include "serial/portwatcher.h"

namespace {
// The user's words for why a port did not open, followed by the system's own.
QString openErrorText(QSerialPort::SerialPortError error, const QString &systemText)
{
    QString reason;
    switch (error) {
    case QSerialPort::PermissionError:
        reason = QStringLiteral("串口被占用或没有访问权限");
        break;
    case QSerialPort::DeviceNotFoundError:
        reason = QStringLiteral("设备不存在");
        break;
    case QSerialPort::OpenError:
        reason = QStringLiteral("串口已打开");
        break;
    default:
        reason = QStringLiteral("无法打开串口");
        break;
    }
    return systemText.isEmpty() ? reason
                                : reason + QStringLiteral("（") + systemText + QStringLiteral("）");
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
        m_openFailure = name.isEmpty() ? QStringLiteral("没有选择串口")
                                       : QStringLiteral("串口 %1 不存在").arg(name);
        return false;
    }
    setPortName(name);

    m_failurePending = false;
    m_openFailure.clear();
    if (!open(QIODevice::ReadWrite)) {
        // A listed device that vanished since the last scan is no port any
        // longer; the list is brought up to date at once.
        if (error() == QSerialPort::DeviceNotFoundError && !m_acceptUnlisted) {
            m_openFailure = QStringLiteral("串口 %1 不存在").arg(name);
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
    m_failureReason = errorString();
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
