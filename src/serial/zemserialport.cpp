#include "serial/zemserialport.h"

#include <QFileInfo>
#include <QTimer>

namespace {
constexpr int PollIntervalMs = 1000;

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
    , m_pollTimer(new QTimer(this))
{
    m_unused.clear();
    m_pollTimer->setInterval(PollIntervalMs);
    connect(m_pollTimer, &QTimer::timeout, this, &ZemSerialPort::getComList);
    m_pollTimer->start();
    connect(this, &QSerialPort::errorOccurred, this, &ZemSerialPort::onErrorOccurred);
}

ZemSerialPort::~ZemSerialPort() = default;

QStringList ZemSerialPort::extraPortPaths()
{
    QStringList paths;
    const QString spec = qEnvironmentVariable("LUMO_EXTRA_PORTS");
    const QStringList parts = spec.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const QString path = part.trimmed();
        if (!path.isEmpty() && !paths.contains(path) && QFileInfo::exists(path))
            paths.append(path);
    }
    return paths;
}

QStringList ZemSerialPort::currentPortNames()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names.append(info.portName());
    for (const QString &path : extraPortPaths())
        if (!names.contains(path))
            names.append(path);
    return names;
}

void ZemSerialPort::getComList()
{
    const QStringList names = currentPortNames();
    if (names == m_lastPorts)
        return;
    m_lastPorts = names;
    emit ComListChange(names);
}

bool ZemSerialPort::Open(const QString &name, const QString &baudText, int dataBitsIndex,
                         int stopBitsIndex, int parityIndex)
{
    if (isOpen())
        Close();

    bool found = false;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        if (info.portName() == name) {
            setPort(info);
            found = true;
            break;
        }
    }
    if (!found && !name.isEmpty() && (m_acceptUnlisted || extraPortPaths().contains(name))) {
        // A full path is used as the device's location as it stands.
        setPortName(name);
        found = true;
    }
    if (!found) {
        setPort(QSerialPortInfo());
        m_openFailure = name.isEmpty() ? QStringLiteral("没有选择串口")
                                       : QStringLiteral("串口 %1 不存在").arg(name);
        return false;
    }

    m_failurePending = false;
    m_openFailure.clear();
    if (!open(QIODevice::ReadWrite)) {
        m_openFailure = openErrorText(error(), errorString());
        clearError();
        return false;
    }

    setBaudRate(baudText.toInt(), QSerialPort::AllDirections);
    static const QSerialPort::DataBits dataBits[]
        = {QSerialPort::Data5, QSerialPort::Data6, QSerialPort::Data7, QSerialPort::Data8};
    if (dataBitsIndex >= 0 && dataBitsIndex < 4)
        setDataBits(dataBits[dataBitsIndex]);
    static const QSerialPort::StopBits stopBits[]
        = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop, QSerialPort::TwoStop};
    if (stopBitsIndex >= 0 && stopBitsIndex < 3)
        setStopBits(stopBits[stopBitsIndex]);
    static const QSerialPort::Parity parities[]
        = {QSerialPort::NoParity, QSerialPort::OddParity, QSerialPort::EvenParity,
           QSerialPort::SpaceParity};
    if (parityIndex >= 0 && parityIndex < 4)
        setParity(parities[parityIndex]);

    connect(this, &QSerialPort::readyRead, this, &ZemSerialPort::readComData, Qt::UniqueConnection);
    emit Opened(name);
    return true;
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
