#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>

// ser2net, started with a configuration of its own: two accepters on free loopback ports,
// one raw TCP and one Telnet with RFC 2217, both in front of the given serial device.
class Ser2NetServer {
public:
    explicit Ser2NetServer(const QString& device);
    ~Ser2NetServer();

    bool ok() const { return error.isEmpty(); }
    QString Entry(bool telnet) const;

    uint16_t rawPort = 0;
    uint16_t telnetPort = 0;
    QString error;

private:
    QTemporaryDir dir;
    QProcess process;
};

// A loopback TCP port that nothing listens on at the moment of the call.
uint16_t FreeLoopbackPort();
