// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/serialline.h"

#include "serial/zemserialport.h"

SerialLine::SerialLine(QObject *parent)
    : Line(parent)
    , m_port(new ZemSerialPort(this))
{
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
