// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/linesettings.h"

#include <QByteArray>

#include <array>

// The Telnet layer of a serial port served by an RFC 2217 server.
//
// The wire carries Telnet: FF (IAC) starts a command, so a data byte FF is
// sent as FF FF, and the server mixes option negotiation (WILL/WONT/DO/DONT),
// no-ops and subnegotiations into the data. FF is the commonest byte of the
// appliance protocol (every frame starts FF FF), so both directions must
// double and undouble it exactly, and nothing but data may reach the frame
// assembler.
//
// The client asks for BINARY both ways (no CR/NUL stuffing), SUPPRESS-GO-AHEAD
// and offers COM-PORT-OPTION (44); the line settings then travel as
// COM-PORT-OPTION subnegotiations. A server that will not do binary
// transmission still gets correct bytes: CR NUL is read as CR and a CR sent
// is followed by NUL, as the network virtual terminal requires.
//
// Hostile or broken servers are bounded: each option is answered only when
// its state changes or once when refused, so no negotiation loop can grow
// the replies, and a subnegotiation longer than MaxSubnegotiation marks the
// stream as broken instead of swallowing the data behind it forever.
//
// Pure byte work: decode() is linear in its input and keeps its state across
// calls, so a command cut between two reads is taken whole.
class TelnetCodec
{
public:
    enum : quint8 {
        Se = 240,
        Nop = 241,
        Sb = 250,
        Will = 251,
        Wont = 252,
        Do = 253,
        Dont = 254,
        Iac = 255,
    };
    enum : quint8 { Binary = 0, Echo = 1, SuppressGoAhead = 3, ComPortOption = 44 };
    // COM-PORT-OPTION commands from client to server; the server answers
    // each with the same number plus 100.
    enum : quint8 {
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        ServerOffset = 100,
    };
    // Values of SET-CONTROL that drive the break state and the modem lines.
    enum : quint8 {
        ControlBreakOn = 5,
        ControlBreakOff = 6,
        ControlDtrOn = 8,
        ControlDtrOff = 9,
        ControlRtsOn = 11,
        ControlRtsOff = 12,
    };
    static constexpr int MaxSubnegotiation = 4096;

    // The opening negotiation the client sends as soon as it is connected.
    QByteArray opening();
    // Takes bytes read from the server; returns the data among them.
    QByteArray decode(const QByteArray &bytes);
    // Answers the last decode() calls owe the server (negotiation replies),
    // to be sent before anything else; empty when nothing is owed.
    QByteArray takeReplies();
    // Data to send: every FF doubled, and CR followed by NUL while the server
    // has not agreed to binary transmission from the client.
    QByteArray encode(const QByteArray &data) const;
    // The COM-PORT-OPTION commands that set `settings` on the remote port;
    // the server answers each of the SettingsCommands.
    static constexpr int SettingsCommands = 5;
    static QByteArray settingsCommands(const LineSettings::Settings &settings);
    // One COM-PORT-OPTION subnegotiation, its value escaped.
    static QByteArray comPortCommand(quint8 command, const QByteArray &value);

    // The server said DO COM-PORT-OPTION: it will take the line settings.
    bool comPortAgreed() const { return m_us[ComPortOption].enabled; }
    // The server refused COM-PORT-OPTION (DONT after our WILL).
    bool comPortRefused() const { return m_comPortRefused; }
    // How many answers to the settings commands (SET-BAUDRATE to
    // SET-CONTROL) arrived; others the server sends unasked do not count.
    int comPortAnswers() const { return m_comPortAnswers; }
    // The baud rate of the last SET-BAUDRATE answer; 0 before one arrives.
    quint32 answeredBaudRate() const { return m_answeredBaud; }
    // The value of the last answer to SET-DATASIZE, SET-PARITY, SET-STOPSIZE
    // or SET-CONTROL, in the commands' codes; -1 before one arrives.
    int answeredCode(quint8 command) const
    {
        return command > SetBaudRate && command <= SetControl ? m_answeredCodes[command] : -1;
    }
    // A subnegotiation ran past MaxSubnegotiation: the stream is not Telnet
    // any more, and nothing after it can be trusted as data.
    bool broken() const { return m_broken; }

private:
    struct OptionState
    {
        bool enabled = false;
        bool asked = false;   // our request is on its way; its answer needs no reply
        bool refused = false; // we refused it once; repeats get no answer
    };
    static bool weOffer(quint8 option);
    static bool weAccept(quint8 option);
    void request(quint8 verb, quint8 option);
    void reply(quint8 verb, quint8 option);
    void negotiate(quint8 verb, quint8 option);
    void subnegotiation();

    enum State { Data, Command, Option, Sub, SubIac };
    State m_state = Data;
    quint8 m_verb = 0;
    bool m_afterCr = false;
    QByteArray m_sub;
    int m_subLength = 0;
    QByteArray m_replies;
    std::array<OptionState, 256> m_us{};  // options on the client's side (WILL/WONT)
    std::array<OptionState, 256> m_him{}; // options on the server's side (DO/DONT)
    bool m_comPortRefused = false;
    int m_comPortAnswers = 0;
    quint32 m_answeredBaud = 0;
    std::array<int, SetControl + 1> m_answeredCodes{{-1, -1, -1, -1, -1, -1}};
    bool m_broken = false;
};
