// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/serialline.h"

#include "serial/zemserialport.h"

#include <QTimer>

namespace {
QString say(const char *chinese, const char *english)
{
    return ZemSerialPort::englishReasons() ? QString::fromLatin1(english)
                                           : QString::fromUtf8(chinese);
}

const char *modemLineName(Line::ModemLine line)
{
    return line == Line::Rts ? "RTS" : "DTR";
}
} // namespace

SerialLine::SerialLine(QObject *parent)
    : Line(parent)
    , m_port(new ZemSerialPort(this))
    , m_breakTimer(new QTimer(this))
{
    m_breakTimer->setSingleShot(true);
    m_breakTimer->setInterval(BreakMs);
    connect(m_breakTimer, &QTimer::timeout, this, [this] {
        if (m_port->isOpen() && !m_port->setBreakEnabled(false))
            m_port->clearError();
    });
    connect(m_port, &ZemSerialPort::DataReceived, this, &Line::DataReceived);
    connect(m_port, &ZemSerialPort::DataReady, this, &Line::DataReady);
    connect(m_port, &ZemSerialPort::DataSent, this, &Line::DataSent);
    connect(m_port, &ZemSerialPort::PortLost, this, &Line::Lost);
    // Whoever opened the port (this line, or a caller that reached the port
    // itself), the line is known by the name it was opened with.
    connect(m_port, &ZemSerialPort::Opened, this, [this](const QString &name) {
        m_address = name;
        emit Opened(name);
    });
}

SerialLine::~SerialLine() = default;

bool SerialLine::openLine(const QString &address, const LineSettings::Settings &settings)
{
    // Qt shortens /dev/ paths to bare names; the port reports the caller's
    // own spelling with Opened, and that is what the line is known by.
    return m_port->Open(address, settings);
}

void SerialLine::closeLine()
{
    // A line closed during a break is left in the normal state.
    if (m_breakTimer->isActive()) {
        m_breakTimer->stop();
        if (m_port->isOpen() && !m_port->setBreakEnabled(false))
            m_port->clearError();
    }
    m_port->Close();
}

bool SerialLine::isLineOpen() const
{
    return m_port->isOpen();
}

bool SerialLine::applySettings(const LineSettings::Settings &settings)
{
    return m_port->applySettings(settings);
}

qint64 SerialLine::send(const QByteArray &bytes)
{
    if (!m_port->isOpen())
        return -1;
    return m_port->write(bytes);
}

QString SerialLine::openFailureReason() const
{
    return m_port->openFailureReason();
}

bool SerialLine::setModemLine(ModemLine line, bool on)
{
    if (!m_port->isOpen())
        return refuseControl(say("串口未打开", "the port is not open"));
    const bool ok = line == Rts ? m_port->setRequestToSend(on) : m_port->setDataTerminalReady(on);
    if (!ok) {
        // Qt calls both cases an unsupported operation: RTS under hardware
        // flow control, and a device without modem lines (ENOTTY).
        const bool flowControlled
            = line == Rts && m_port->flowControl() == QSerialPort::HardwareControl;
        const QString detail = flowControlled
            ? say("硬件流控制开启时 RTS 由串口驱动控制", "RTS belongs to hardware flow control")
            : say("该设备没有调制解调器控制线（如伪终端）",
                  "the device has no modem lines (a pseudo-terminal has none)");
        m_port->clearError();
        return refuseControl(say("串口 %1 不能设置 %2：%3", "port %1 cannot set %2: %3")
                                 .arg(m_address, QLatin1String(modemLineName(line)), detail));
    }
    emit ModemLineChanged(line, on);
    return true;
}

bool SerialLine::sendBreak()
{
    if (!m_port->isOpen())
        return refuseControl(say("串口未打开", "the port is not open"));
    if (!m_port->setBreakEnabled(true)) {
        m_port->clearError();
        return refuseControl(
            say("串口 %1 不能发送 BREAK", "port %1 cannot send a break").arg(m_address));
    }
    // A second click during a break makes it last BreakMs from now.
    m_breakTimer->start();
    emit BreakSent(BreakMs);
    return true;
}

int SerialLine::modemLineState(ModemLine line) const
{
    if (!m_port->isOpen())
        return -1;
    // Asking for the pins fails on a device that has none.
    const QSerialPort::PinoutSignals pins = m_port->pinoutSignals();
    if (m_port->error() != QSerialPort::NoError) {
        m_port->clearError();
        return -1;
    }
    const QSerialPort::PinoutSignal wanted
        = line == Rts ? QSerialPort::RequestToSendSignal : QSerialPort::DataTerminalReadySignal;
    return pins.testFlag(wanted) ? 1 : 0;
}
