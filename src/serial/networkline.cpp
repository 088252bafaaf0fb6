// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/networkline.h"

#include "serial/zemserialport.h"

#include <QTcpSocket>
#include <QTimer>

namespace {
// The first bytes of a connection kept for the "closed at once" message: a
// serial server says why it refuses in a line of text.
constexpr int FirstDataKept = 160;

QString say(const char *chinese, const char *english)
{
    return ZemSerialPort::englishReasons() ? QString::fromLatin1(english)
                                           : QString::fromUtf8(chinese);
}

// The printable part of what a server said, on one line.
QString printable(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes) {
        if (c >= 0x20 && c < 0x7f)
            text.append(QLatin1Char(c));
        else if ((c == '\r' || c == '\n') && !text.endsWith(QLatin1Char(' ')))
            text.append(QLatin1Char(' '));
    }
    return text.trimmed();
}
} // namespace

NetworkLine::NetworkLine(QObject *parent)
    : Line(parent)
    , m_connectTimer(new QTimer(this))
    , m_negotiationTimer(new QTimer(this))
    , m_retryTimer(new QTimer(this))
    , m_breakTimer(new QTimer(this))
{
    m_breakTimer->setSingleShot(true);
    m_breakTimer->setInterval(BreakMs);
    connect(m_breakTimer, &QTimer::timeout, this, [this] {
        if (m_state == Open)
            writeRaw(TelnetCodec::comPortCommand(
                TelnetCodec::SetControl, QByteArray(1, char(TelnetCodec::ControlBreakOff))));
    });
    m_connectTimer->setSingleShot(true);
    m_connectTimer->setInterval(ConnectTimeoutMs);
    connect(m_connectTimer, &QTimer::timeout, this, &NetworkLine::onConnectTimeout);
    m_negotiationTimer->setSingleShot(true);
    m_negotiationTimer->setInterval(NegotiationTimeoutMs);
    connect(m_negotiationTimer, &QTimer::timeout, this, &NetworkLine::onNegotiationTimeout);
    m_retryTimer->setSingleShot(true);
    m_retryTimer->setInterval(RetryMs);
    connect(m_retryTimer, &QTimer::timeout, this, [this] {
        m_state = Connecting;
        connectNow();
    });
}

NetworkLine::~NetworkLine() = default;

bool NetworkLine::openLine(const QString &address, const LineSettings::Settings &settings)
{
    closeLine();
    m_address = address.trimmed();
    m_everOpened = false;
    if (!NetworkAddress::parse(m_address, &m_target, &m_failure))
        return false;
    m_settings = settings;
    m_failure.clear();
    m_state = Connecting;
    connectNow();
    return true;
}

void NetworkLine::closeLine()
{
    m_connectTimer->stop();
    m_negotiationTimer->stop();
    m_retryTimer->stop();
    m_breakTimer->stop();
    if (m_socket) {
        // A fresh socket for each connection: the old one's late signals
        // (an error after abort, a disconnect) must not reach the new one's
        // state. Deleted later, as a slot of its own may be running.
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_pending.clear();
    m_state = Closed;
}

bool NetworkLine::isLineOpen() const
{
    return m_state == Open || isLineConnecting();
}

bool NetworkLine::isLineConnecting() const
{
    return !m_everOpened && (m_state == Connecting || m_state == Negotiating);
}

void NetworkLine::connectNow()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, &NetworkLine::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &NetworkLine::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &NetworkLine::onDisconnected);
#if QT_VERSION >= QT_VERSION_CHECK(5, 15, 0)
    connect(m_socket, &QTcpSocket::errorOccurred, this, &NetworkLine::onSocketError);
#else
    connect(m_socket, QOverload<QAbstractSocket::SocketError>::of(&QTcpSocket::error), this,
            &NetworkLine::onSocketError);
#endif
    m_telnet = TelnetCodec();
    m_settingsAnswered = -1;
    m_modemLines[Rts] = m_modemLines[Dtr] = -1;
    m_firstData.clear();
    m_connectTimer->start();
    m_socket->connectToHost(m_target.host, m_target.port);
}

void NetworkLine::onConnected()
{
    m_connectTimer->stop();
    // Frames are small and the simulated MCU answers within milliseconds:
    // Nagle's algorithm would hold a reply back for the next ACK.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    if (m_target.kind == NetworkAddress::Raw) {
        becomeOpen();
        return;
    }
    m_state = Negotiating;
    m_negotiationTimer->start();
    writeRaw(m_telnet.opening());
}

void NetworkLine::becomeOpen()
{
    m_negotiationTimer->stop();
    m_state = Open;
    m_openedAt.start();
    m_everOpened = true;
    if (!m_pending.isEmpty()) {
        QByteArray pending;
        pending.swap(m_pending);
        writeRaw(m_target.kind == NetworkAddress::Rfc2217 ? m_telnet.encode(pending) : pending);
        emit DataSent(pending);
        if (m_state != Open)
            return;
    }
    emit Opened(m_address);
}

void NetworkLine::onReadyRead()
{
    if (!m_socket)
        return;
    const QByteArray bytes = m_socket->readAll();
    QByteArray data;
    if (m_target.kind == NetworkAddress::Raw) {
        data = bytes;
    } else {
        data = m_telnet.decode(bytes);
        const QByteArray replies = m_telnet.takeReplies();
        if (!replies.isEmpty())
            writeRaw(replies);
    }
    if (m_firstData.size() < FirstDataKept && (m_state != Open || m_openedAt.elapsed() < SettleMs))
        m_firstData.append(data.left(FirstDataKept - m_firstData.size()));

    if (!data.isEmpty()) {
        emit DataReceived(data);
        emit DataReady(data);
        // A handler may have closed or reopened the line.
        if (!m_socket || m_state == Closed)
            return;
    }
    if (m_target.kind != NetworkAddress::Rfc2217)
        return;
    if (m_telnet.broken()) {
        fail(say("服务器发送了异常的 Telnet 数据（子协商过长），已断开",
                 "the server sent broken Telnet (a subnegotiation without end); disconnected"),
             false);
        return;
    }
    if (m_state == Negotiating) {
        // The line is ready once the server has set the port: a serial
        // server may drop what the port held while it changes the settings,
        // so nothing is sent before the answers are in.
        if (m_telnet.comPortAgreed() && m_settingsAnswered < 0) {
            m_settingsAnswered = m_telnet.comPortAnswers() + TelnetCodec::SettingsCommands;
            writeRaw(TelnetCodec::settingsCommands(m_settings));
        }
        if (m_settingsAnswered >= 0 && m_telnet.comPortAnswers() >= m_settingsAnswered)
            becomeOpen();
        else if (m_telnet.comPortRefused())
            fail(say("服务器拒绝了 RFC 2217 串口控制（COM-PORT-OPTION），无法设置波特率",
                     "the server refused RFC 2217 port control (COM-PORT-OPTION), so the line "
                     "settings cannot be set"),
                 false);
    }
}

void NetworkLine::writeRaw(const QByteArray &bytes)
{
    if (m_socket && !bytes.isEmpty())
        m_socket->write(bytes);
}

qint64 NetworkLine::send(const QByteArray &bytes)
{
    if (m_state == Open) {
        writeRaw(m_target.kind == NetworkAddress::Rfc2217 ? m_telnet.encode(bytes) : bytes);
        emit DataSent(bytes);
        return bytes.size();
    }
    if (isLineConnecting()) {
        // Goes out once connected, in order.
        m_pending.append(bytes);
        return bytes.size();
    }
    return -1;
}

bool NetworkLine::applySettings(const LineSettings::Settings &settings)
{
    m_settings = settings;
    // A raw line has no way to set the remote port: its settings are the
    // server's. An RFC 2217 line sends them now if open, once negotiated if
    // still negotiating, and again if the first ones are on their way.
    if (m_target.kind != NetworkAddress::Rfc2217)
        return true;
    if (m_state == Open) {
        writeRaw(TelnetCodec::settingsCommands(settings));
    } else if (m_state == Negotiating && m_settingsAnswered >= 0) {
        m_settingsAnswered += TelnetCodec::SettingsCommands;
        writeRaw(TelnetCodec::settingsCommands(settings));
    }
    return true;
}

void NetworkLine::onSocketError(QAbstractSocket::SocketError error)
{
    if (m_state == Closed || m_state == Waiting)
        return;
    if (error == QAbstractSocket::RemoteHostClosedError) {
        onDisconnected();
        return;
    }
    if (m_state == Open)
        fail(say("与 %1 的网络连接已断开（%2）", "the connection to %1 dropped (%2)")
                 .arg(m_address, m_socket ? m_socket->errorString() : QString()),
             true);
    else
        fail(errorReason(error), true);
}

void NetworkLine::onDisconnected()
{
    if (m_state == Closed || m_state == Waiting)
        return;
    if (m_state == Open && m_openedAt.elapsed() >= SettleMs) {
        fail(say("服务器 %1 关闭了连接", "the server at %1 closed the connection").arg(m_address),
             true);
        return;
    }
    fail(closedAtOnceReason(), false);
}

void NetworkLine::onConnectTimeout()
{
    fail(say("连接 %1 超时：%2 秒内无应答", "connecting to %1 timed out: no answer within %2 s")
             .arg(m_address)
             .arg(ConnectTimeoutMs / 1000),
         true);
}

void NetworkLine::onNegotiationTimeout()
{
    fail(say("服务器 %1 未应答 RFC 2217 协商（COM-PORT-OPTION），它可能不是 RFC 2217 服务器；"
             "原始 TCP 服务请用 tcp:// 地址",
             "the server at %1 never answered the RFC 2217 negotiation (COM-PORT-OPTION); it may "
             "not be an RFC 2217 server (use a tcp:// address for a raw one)")
             .arg(m_address),
         false);
}

void NetworkLine::fail(const QString &reason, bool retry)
{
    const State before = m_state;
    closeLine();
    m_failure = reason;
    if (before == Open) {
        if (retry) {
            m_state = Waiting;
            m_retryTimer->start();
        }
        emit Lost(reason);
    } else if (m_everOpened) {
        // Lost already and reported; the attempts to reconnect go on
        // quietly until the server answers again.
        m_state = Waiting;
        m_retryTimer->start();
    } else {
        emit OpenFailed(reason);
    }
}

QString NetworkLine::errorReason(QAbstractSocket::SocketError error) const
{
    const QString systemText = m_socket ? m_socket->errorString() : QString();
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        return say("无法解析主机名“%1”（%2）", "host name %1 does not resolve (%2)")
            .arg(m_target.host, m_address);
    case QAbstractSocket::ConnectionRefusedError:
        return say("%1 拒绝连接：该端口上没有服务在监听",
                   "connection to %1 refused: nothing listens on that port")
            .arg(m_address);
    case QAbstractSocket::SocketTimeoutError:
        return say("连接 %1 超时", "connecting to %1 timed out").arg(m_address);
    case QAbstractSocket::NetworkError:
        return say("无法到达 %1（%2）", "%1 cannot be reached (%2)").arg(m_address, systemText);
    default:
        return say("无法连接 %1（%2）", "cannot connect to %1 (%2)").arg(m_address, systemText);
    }
}

QString NetworkLine::closedAtOnceReason() const
{
    const QString said = printable(m_firstData);
    if (said.isEmpty())
        return say("服务器 %1 接受连接后立即关闭了连接（端口可能已被其他客户端占用）",
                   "the server at %1 closed the connection at once (its port may be in use by "
                   "another client)")
            .arg(m_address);
    return say("服务器 %1 接受连接后立即关闭了连接，它说：%2",
               "the server at %1 closed the connection at once; it said: %2")
        .arg(m_address, said);
}

bool NetworkLine::refuseUnlessControllable()
{
    if (m_target.kind != NetworkAddress::Rfc2217 && m_state != Closed)
        return refuseControl(say("原始 TCP 网络串口（tcp://）不能控制 RTS、DTR 或发送 BREAK："
                                 "它只传数据；请改用 rfc2217:// 地址",
                                 "a raw TCP line (tcp://) cannot set RTS or DTR or send a break: "
                                 "it carries only data; use an rfc2217:// address"));
    if (m_state != Open)
        return refuseControl(
            say("网络串口 %1 尚未连接", "the network line %1 is not connected").arg(m_address));
    return true;
}

bool NetworkLine::setModemLine(ModemLine line, bool on)
{
    if (!refuseUnlessControllable())
        return false;
    const quint8 value = line == Rts
        ? (on ? TelnetCodec::ControlRtsOn : TelnetCodec::ControlRtsOff)
        : (on ? TelnetCodec::ControlDtrOn : TelnetCodec::ControlDtrOff);
    writeRaw(TelnetCodec::comPortCommand(TelnetCodec::SetControl, QByteArray(1, char(value))));
    m_modemLines[line] = on ? 1 : 0;
    emit ModemLineChanged(line, on);
    return true;
}

bool NetworkLine::sendBreak()
{
    if (!refuseUnlessControllable())
        return false;
    writeRaw(TelnetCodec::comPortCommand(TelnetCodec::SetControl,
                                         QByteArray(1, char(TelnetCodec::ControlBreakOn))));
    m_breakTimer->start();
    emit BreakSent(BreakMs);
    return true;
}

int NetworkLine::modemLineState(ModemLine line) const
{
    return m_state == Open ? m_modemLines[line] : -1;
}
