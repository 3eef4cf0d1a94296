#pragma once

#include <QString>
#include <cstdint>

// Where the service listens: "host:port", an IPv4 address or "localhost" and a port.
struct ListenAddress {
    bool ok = false;
    QString host;  // dotted IPv4
    uint16_t port = 0;
    QString error;  // why the text is no address

    // 127.x.x.x: only programs on this computer can reach it.
    bool Loopback() const;
    QString Text() const;
};

ListenAddress ParseListenAddress(const QString& text);
