#pragma once

#include <QString>
#include <cstdint>

#include "serial/line/port_problem.h"

// A port entry that names a serial server on the network instead of a device:
// "tcp://HOST:PORT" (every frame byte as it is) or "rfc2217://HOST:PORT" (Telnet with the
// COM-PORT-OPTION). HOST is a name, an IPv4 address or an IPv6 address in brackets.
struct NetAddress {
    enum class Scheme { RawTcp, Rfc2217 };
    Scheme scheme = Scheme::RawTcp;
    QString host;  // without the brackets of an IPv6 address
    uint16_t port = 0;

    // "host:port", an IPv6 host in brackets: how the operator is told which server it was.
    QString Label() const;
    // The entry in its one stored form: lower-case scheme, the host as typed.
    QString Entry() const;
};

// True when the entry has the scheme of a network entry, whether or not the rest is valid.
bool IsNetEntry(const QString& entry);

// What kind of line a network entry is, in words for a tooltip.
QString NetEntryKind(const QString& entry);

// Parses a network entry. On a fault returns false and puts into why what is wrong with it,
// in words that follow the entry ("needs a port number from 1 to 65535").
bool ParseNetEntry(const QString& entry, NetAddress& address, QString& why);

// A network entry checked as a port entry: the entry in its one stored form as device and
// entry, or an unusable entry with why in the problem's detail.
PortTarget CheckNetEntry(const QString& entry);
