#include "net_address.h"

#include <algorithm>

namespace {

const QLatin1String kRawScheme("tcp://");
const QLatin1String kTelnetScheme("rfc2217://");

bool IsNameCharacter(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
           c == QLatin1Char('.') || c == QLatin1Char('_');
}

bool IsIpv6Character(QChar c) {
    return c.isDigit() || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')) ||
           c == QLatin1Char(':') || c == QLatin1Char('.');
}

// Splits "host:port" or "[v6]:port" into host and port text; false when the shape is wrong.
bool SplitHostPort(const QString& rest, QString& host, QString& portText, QString& why) {
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = rest.indexOf(QLatin1Char(']'));
        if (close < 0) {
            why = QStringLiteral("opens an IPv6 address with '[' but never closes it");
            return false;
        }
        host = rest.mid(1, close - 1);
        if (host.isEmpty() || !host.contains(QLatin1Char(':')) ||
            !std::all_of(host.cbegin(), host.cend(), IsIpv6Character)) {
            why = QStringLiteral("has no IPv6 address between '[' and ']'");
            return false;
        }
        if (rest.mid(close + 1, 1) != QLatin1String(":")) {
            why = QStringLiteral("needs ':' and a port number after the IPv6 address");
            return false;
        }
        portText = rest.mid(close + 2);
        return true;
    }
    const int colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) {
        why = QStringLiteral("needs ':' and a port number after the host");
        return false;
    }
    host = rest.left(colon);
    portText = rest.mid(colon + 1);
    if (host.contains(QLatin1Char(':'))) {
        why = QStringLiteral("holds an IPv6 address, which must be written in brackets ([::1])");
        return false;
    }
    if (host.isEmpty() || !std::all_of(host.cbegin(), host.cend(), IsNameCharacter)) {
        why = QStringLiteral("needs a host name or address of letters, digits, '.' and '-'");
        return false;
    }
    return true;
}

}  // namespace

QString NetAddress::Label() const {
    return host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(host).arg(port)
                                           : QStringLiteral("%1:%2").arg(host).arg(port);
}

QString NetAddress::Entry() const {
    return (scheme == Scheme::Rfc2217 ? QString(kTelnetScheme) : QString(kRawScheme)) + Label();
}

bool IsNetEntry(const QString& entry) {
    const QString text = entry.trimmed();
    return text.startsWith(kRawScheme, Qt::CaseInsensitive) ||
           text.startsWith(kTelnetScheme, Qt::CaseInsensitive);
}

QString NetEntryKind(const QString& entry) {
    return entry.trimmed().startsWith(kTelnetScheme, Qt::CaseInsensitive)
               ? QStringLiteral(
                     "A serial server on the network, RFC 2217 (Telnet): the keypad "
                     "sets its port's baud rate.")
               : QStringLiteral(
                     "A serial server on the network, raw TCP: its port keeps the "
                     "baud rate set there.");
}

bool ParseNetEntry(const QString& entry, NetAddress& address, QString& why) {
    const QString text = entry.trimmed();
    NetAddress parsed;
    QString rest;
    if (text.startsWith(kRawScheme, Qt::CaseInsensitive)) {
        rest = text.mid(kRawScheme.size());
    } else if (text.startsWith(kTelnetScheme, Qt::CaseInsensitive)) {
        parsed.scheme = NetAddress::Scheme::Rfc2217;
        rest = text.mid(kTelnetScheme.size());
    } else {
        why = QStringLiteral("is no tcp:// or rfc2217:// address");
        return false;
    }
    QString portText;
    if (!SplitHostPort(rest, parsed.host, portText, why))
        return false;
    bool number = false;
    const uint port = portText.toUInt(&number);
    // Digits only: toUInt would also take "+80" and " 80".
    if (!number || port < 1 || port > 65535 ||
        !std::all_of(portText.cbegin(), portText.cend(), [](QChar c) { return c.isDigit(); })) {
        why = QStringLiteral("needs a port number from 1 to 65535 after the last ':'");
        return false;
    }
    parsed.port = static_cast<uint16_t>(port);
    address = parsed;
    return true;
}

PortTarget CheckNetEntry(const QString& entry) {
    NetAddress address;
    QString why;
    if (!ParseNetEntry(entry.trimmed(), address, why)) {
        PortTarget target;
        target.problem = {PortFault::UnusableEntry, QString(), why};
        return target;
    }
    PortTarget target(address.Entry());
    target.entry = target.device;
    return target;
}
