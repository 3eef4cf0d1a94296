#pragma once

#include <QString>

// Why a port could not be had, in terms an operator can act on. Plain data: the words the
// operator reads are made above the line, from these.
enum class PortFault {
    None,
    NoSuchDevice,      // nothing at that path
    PermissionDenied,  // the device exists but this user may not open it
    Busy,              // another program holds it
    NotSerial,         // the path is not a terminal device
    Multiplexer,       // /dev/ptmx: opening it makes a new pseudo-terminal nobody reads
    UnusableEntry,     // the profile's entry for the port is not a usable path
    Refused,           // the device refused the line settings
    Network,           // a serial server could not be reached or dropped the connection
    Failed,            // any other error from the system
};

struct PortProblem {
    PortFault fault = PortFault::None;
    QString device;  // the path tried, when there was one
    QString detail;  // the holder, the entry, the system's own words, or for Network the whole
                     // reason ("192.168.1.50:4001 refused the connection")

    bool isNone() const { return fault == PortFault::None; }
};

// What COM<port> names: the absolute, resolved path of a device, or why the profile's entry
// for it cannot be used (problem set, device empty).
struct PortTarget {
    PortTarget() = default;
    PortTarget(const QString& device) : device(device) {}  // NOLINT: a plain path converts
    QString device;
    QString entry;  // the path as the profile names it, before links are resolved
    PortProblem problem;
};

// The fault that an open failing with this system error stands for (an errno; on Windows
// a GetLastError or WSAGetLastError code).
PortFault FaultFromSystemError(int error);
// The system's own words for the error, in the interface's language.
QString SystemErrorWords(int error);
