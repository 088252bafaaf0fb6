// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/anyline.h"

#include "serial/networkaddress.h"
#include "serial/networkline.h"
#include "serial/serialline.h"

AnyLine::AnyLine(QObject *parent)
    : Line(parent)
    , m_serial(new SerialLine(this))
    , m_network(new NetworkLine(this))
    , m_current(m_serial)
{
    forward(m_serial);
    forward(m_network);
}

AnyLine::~AnyLine() = default;

void AnyLine::forward(Line *line)
{
    // Only the line in use speaks; the other is closed anyway, but a late
    // signal of a line just left must not reach the owner.
    const auto whenCurrent = [this, line](auto signal) {
        return [this, line, signal](const auto &value) {
            if (m_current == line)
                (this->*signal)(value);
        };
    };
    connect(line, &Line::DataReceived, this, whenCurrent(&Line::DataReceived));
    connect(line, &Line::DataReady, this, whenCurrent(&Line::DataReady));
    connect(line, &Line::DataSent, this, whenCurrent(&Line::DataSent));
    connect(line, &Line::Opened, this, whenCurrent(&Line::Opened));
    connect(line, &Line::Lost, this, whenCurrent(&Line::Lost));
    connect(line, &Line::OpenFailed, this, whenCurrent(&Line::OpenFailed));
    connect(line, &Line::BreakSent, this, whenCurrent(&Line::BreakSent));
    connect(line, &Line::ModemLineChanged, this, [this, line](int modemLine, bool on) {
        if (m_current == line)
            emit ModemLineChanged(modemLine, on);
    });
}

bool AnyLine::openLine(const QString &address, const LineSettings::Settings &settings)
{
    Line *wanted = NetworkAddress::isNetwork(address) ? static_cast<Line *>(m_network)
                                                      : static_cast<Line *>(m_serial);
    if (wanted != m_current)
        m_current->closeLine();
    m_current = wanted;
    return m_current->openLine(address, settings);
}

void AnyLine::closeLine()
{
    m_serial->closeLine();
    m_network->closeLine();
}

bool AnyLine::isLineOpen() const
{
    return m_current->isLineOpen();
}

bool AnyLine::isLineConnecting() const
{
    return m_current->isLineConnecting();
}

bool AnyLine::applySettings(const LineSettings::Settings &settings)
{
    return m_current->applySettings(settings);
}

qint64 AnyLine::send(const QByteArray &bytes)
{
    return m_current->send(bytes);
}

QString AnyLine::address() const
{
    return m_current->address();
}

QString AnyLine::openFailureReason() const
{
    return m_current->openFailureReason();
}

ZemSerialPort *AnyLine::port() const
{
    return m_serial->port();
}

bool AnyLine::setModemLine(ModemLine line, bool on)
{
    return m_current->setModemLine(line, on);
}

bool AnyLine::sendBreak()
{
    return m_current->sendBreak();
}

int AnyLine::modemLineState(ModemLine line) const
{
    return m_current->modemLineState(line);
}

QString AnyLine::controlFailureReason() const
{
    return m_current->controlFailureReason();
}
