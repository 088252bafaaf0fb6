// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/networkaddress.h"

#include "serial/zemserialport.h"

#include <QHostAddress>

namespace {
const QString RawScheme = QStringLiteral("tcp://");
const QString TelnetScheme = QStringLiteral("rfc2217://");

QString say(const char *chinese, const char *english)
{
    return ZemSerialPort::englishReasons() ? QString::fromLatin1(english)
                                           : QString::fromUtf8(chinese);
}

// Host names as DNS allows them (letters, digits, hyphens, dots; the
// underscore that some lab networks use is tolerated).
bool isHostName(const QString &host)
{
    if (host.isEmpty() || host.size() > 253)
        return false;
    for (const QChar c : host) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('-')
            && c != QLatin1Char('.') && c != QLatin1Char('_'))
            return false;
    }
    return true;
}
} // namespace

bool NetworkAddress::isNetwork(const QString &text)
{
    const QString trimmed = text.trimmed();
    return trimmed.startsWith(RawScheme, Qt::CaseInsensitive)
        || trimmed.startsWith(TelnetScheme, Qt::CaseInsensitive);
}

bool NetworkAddress::parse(const QString &text, NetworkAddress *address, QString *problem)
{
    const QString trimmed = text.trimmed();
    NetworkAddress parsed;
    QString rest;
    if (trimmed.startsWith(RawScheme, Qt::CaseInsensitive)) {
        parsed.kind = Raw;
        rest = trimmed.mid(RawScheme.size());
    } else if (trimmed.startsWith(TelnetScheme, Qt::CaseInsensitive)) {
        parsed.kind = Rfc2217;
        rest = trimmed.mid(TelnetScheme.size());
    } else {
        *problem = say("网络串口地址须以 tcp:// 或 rfc2217:// 开头",
                       "a network line's address starts with tcp:// or rfc2217://");
        return false;
    }
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);

    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = rest.indexOf(QLatin1Char(']'));
        if (close < 0 || close + 1 >= rest.size() || rest.at(close + 1) != QLatin1Char(':')) {
            *problem
                = say("IPv6 地址须写成 [地址]:端口", "an IPv6 address is written [address]:port");
            return false;
        }
        parsed.host = rest.mid(1, close - 1);
        portText = rest.mid(close + 2);
        QHostAddress ip;
        if (!ip.setAddress(parsed.host) || ip.protocol() != QAbstractSocket::IPv6Protocol) {
            *problem = say("方括号里不是 IPv6 地址", "the brackets hold no IPv6 address");
            return false;
        }
    } else {
        const int colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon < 0) {
            *problem = say("缺少端口号，例如 tcp://192.168.1.20:3001",
                           "the port number is missing, as in tcp://192.168.1.20:3001");
            return false;
        }
        parsed.host = rest.left(colon);
        portText = rest.mid(colon + 1);
        if (!isHostName(parsed.host)) {
            *problem = parsed.host.isEmpty()
                ? say("缺少主机名或 IP 地址", "the host name or address is missing")
                : say("主机名只能包含字母、数字、“-”和“.”",
                      "a host name holds only letters, digits, '-' and '.'");
            return false;
        }
    }
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        *problem = say("端口号须是 1 到 65535 之间的数", "the port is a number from 1 to 65535");
        return false;
    }
    parsed.port = quint16(port);
    *address = parsed;
    problem->clear();
    return true;
}

QString NetworkAddress::toString() const
{
    const QString host = this->host.contains(QLatin1Char(':'))
        ? QLatin1Char('[') + this->host + QLatin1Char(']')
        : this->host;
    return (kind == Raw ? RawScheme : TelnetScheme) + host + QLatin1Char(':')
        + QString::number(port);
}
