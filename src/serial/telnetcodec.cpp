// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/telnetcodec.h"

namespace {
const char Cr = '\r';
const char Nul = '\0';

QByteArray bigEndian32(quint32 value)
{
    QByteArray out(4, Nul);
    out[0] = char(value >> 24);
    out[1] = char(value >> 16);
    out[2] = char(value >> 8);
    out[3] = char(value);
    return out;
}

quint8 parityCode(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::OddParity:
        return 2;
    case QSerialPort::EvenParity:
        return 3;
    case QSerialPort::MarkParity:
        return 4;
    case QSerialPort::SpaceParity:
        return 5;
    default:
        return 1;
    }
}

quint8 stopCode(QSerialPort::StopBits stopBits)
{
    switch (stopBits) {
    case QSerialPort::TwoStop:
        return 2;
    case QSerialPort::OneAndHalfStop:
        return 3;
    default:
        return 1;
    }
}

quint8 controlCode(QSerialPort::FlowControl flow)
{
    switch (flow) {
    case QSerialPort::SoftwareControl:
        return 2;
    case QSerialPort::HardwareControl:
        return 3;
    default:
        return 1;
    }
}
} // namespace

bool TelnetCodec::weOffer(quint8 option)
{
    return option == Binary || option == SuppressGoAhead || option == ComPortOption;
}

bool TelnetCodec::weAccept(quint8 option)
{
    return option == Binary || option == SuppressGoAhead;
}

QByteArray TelnetCodec::opening()
{
    request(Will, Binary);
    request(Do, Binary);
    request(Will, SuppressGoAhead);
    request(Do, SuppressGoAhead);
    request(Will, ComPortOption);
    return takeReplies();
}

void TelnetCodec::request(quint8 verb, quint8 option)
{
    OptionState &state = (verb == Will || verb == Wont) ? m_us[option] : m_him[option];
    state.asked = true;
    reply(verb, option);
}

void TelnetCodec::reply(quint8 verb, quint8 option)
{
    m_replies.append(char(Iac));
    m_replies.append(char(verb));
    m_replies.append(char(option));
}

QByteArray TelnetCodec::takeReplies()
{
    QByteArray out;
    out.swap(m_replies);
    return out;
}

void TelnetCodec::negotiate(quint8 verb, quint8 option)
{
    // DO/DONT speak of our side of the option, WILL/WONT of the server's.
    const bool ourSide = verb == Do || verb == Dont;
    const bool positive = verb == Do || verb == Will;
    OptionState &state = ourSide ? m_us[option] : m_him[option];
    const bool wanted = ourSide ? weOffer(option) : weAccept(option);
    const bool wasAsked = state.asked;
    state.asked = false;

    if (positive) {
        if (!wanted) {
            // Refused once; a server that keeps asking gets no more answers.
            if (!state.refused)
                reply(ourSide ? Wont : Dont, option);
            state.refused = true;
            return;
        }
        if (state.enabled)
            return;
        state.enabled = true;
        if (!wasAsked)
            reply(ourSide ? Will : Do, option);
        return;
    }
    if (ourSide && option == ComPortOption)
        m_comPortRefused = true;
    if (!state.enabled) {
        // A refusal of our request needs no answer, nor a repeat of a state
        // already off.
        return;
    }
    state.enabled = false;
    if (!wasAsked)
        reply(ourSide ? Wont : Dont, option);
}

void TelnetCodec::subnegotiation()
{
    // Only COM-PORT-OPTION answers matter; every other subnegotiation is
    // read and dropped.
    if (m_sub.size() < 2 || quint8(m_sub.at(0)) != ComPortOption)
        return;
    const quint8 code = quint8(m_sub.at(1));
    if (code <= ServerOffset)
        return;
    const int command = code - ServerOffset;
    if (command >= SetBaudRate && command <= SetControl)
        ++m_comPortAnswers;
    if (command == SetBaudRate && m_sub.size() >= 6) {
        m_answeredBaud = quint32(quint8(m_sub.at(2))) << 24 | quint32(quint8(m_sub.at(3))) << 16
            | quint32(quint8(m_sub.at(4))) << 8 | quint32(quint8(m_sub.at(5)));
    } else if (command > SetBaudRate && command <= SetControl && m_sub.size() >= 3) {
        m_answeredCodes[size_t(command)] = quint8(m_sub.at(2));
    }
}

QByteArray TelnetCodec::decode(const QByteArray &bytes)
{
    QByteArray data;
    // Nothing after a broken subnegotiation is known to be data.
    if (m_broken)
        return data;
    data.reserve(bytes.size());
    const bool binaryIn = m_him[Binary].enabled;
    for (const char c : bytes) {
        const quint8 b = quint8(c);
        switch (m_state) {
        case Data:
            if (b == Iac) {
                m_state = Command;
                break;
            }
            // Without binary transmission the server sends a CR as CR NUL.
            if (!binaryIn && m_afterCr && c == Nul) {
                m_afterCr = false;
                break;
            }
            m_afterCr = c == Cr;
            data.append(c);
            break;
        case Command:
            m_state = Data;
            if (b == Iac) {
                data.append(c);
                m_afterCr = false;
            } else if (b == Will || b == Wont || b == Do || b == Dont) {
                m_verb = b;
                m_state = Option;
            } else if (b == Sb) {
                m_sub.clear();
                m_subLength = 0;
                m_state = Sub;
            }
            // NOP, data mark, break, go ahead, a stray SE and the rest carry
            // nothing for a serial line.
            break;
        case Option:
            negotiate(m_verb, b);
            m_state = Data;
            break;
        case Sub:
        case SubIac:
            if (m_state == SubIac) {
                if (b == Se) {
                    subnegotiation();
                    m_state = Data;
                    break;
                }
                if (b != Iac) {
                    // IAC and anything but SE or IAC inside a subnegotiation:
                    // the server forgot the SE. End it here and read the
                    // byte as the command it starts.
                    subnegotiation();
                    m_state = Command;
                    break;
                }
                m_state = Sub;
            } else if (b == Iac) {
                m_state = SubIac;
                break;
            }
            if (++m_subLength > MaxSubnegotiation) {
                m_broken = true;
                m_state = Data;
                m_sub.clear();
                break;
            }
            if (m_sub.size() < 16)
                m_sub.append(c);
            break;
        }
        if (m_broken)
            break;
    }
    return data;
}

QByteArray TelnetCodec::encode(const QByteArray &data) const
{
    const bool binaryOut = m_us[Binary].enabled;
    QByteArray out;
    out.reserve(data.size() + data.size() / 8 + 4);
    for (const char c : data) {
        out.append(c);
        if (quint8(c) == Iac)
            out.append(c);
        else if (!binaryOut && c == Cr)
            out.append(Nul);
    }
    return out;
}

QByteArray TelnetCodec::comPortCommand(quint8 command, const QByteArray &value)
{
    QByteArray out;
    out.append(char(Iac));
    out.append(char(Sb));
    out.append(char(ComPortOption));
    out.append(char(command));
    for (const char c : value) {
        out.append(c);
        if (quint8(c) == Iac)
            out.append(c);
    }
    out.append(char(Iac));
    out.append(char(Se));
    return out;
}

QByteArray TelnetCodec::settingsCommands(const LineSettings::Settings &settings)
{
    QByteArray out;
    out += comPortCommand(SetBaudRate, bigEndian32(quint32(qMax(0, settings.baudRate))));
    out += comPortCommand(SetDataSize, QByteArray(1, char(settings.dataBits)));
    out += comPortCommand(SetParity, QByteArray(1, char(parityCode(settings.parity))));
    out += comPortCommand(SetStopSize, QByteArray(1, char(stopCode(settings.stopBits))));
    out += comPortCommand(SetControl, QByteArray(1, char(controlCode(settings.flowControl))));
    return out;
}
