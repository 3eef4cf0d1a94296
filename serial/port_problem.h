#pragma once

#include <QString>
#include <QStringList>

// Why a port could not be had, in terms an operator can act on.
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

// The fault an open() that failed with this errno stands for.
PortFault FaultFromErrno(int error);

// One sentence or two, naming COM<port>, the device and what to do about it.
QString DescribeProblem(int port, const PortProblem& problem);

// Where the system keeps what tells who holds a device; tests point these at fake trees.
struct HolderSources {
    QString procRoot = QStringLiteral("/proc");
    QStringList lockDirs = {QStringLiteral("/run/lock"), QStringLiteral("/var/lock"),
                            QStringLiteral("/tmp")};
};

// The program holding the device other than this one, as "name (pid N)", or empty when the
// system cannot tell: first an advisory lock on it, then a UUCP lock file, then any
// process with the device open.
QString FindPortHolder(const QString& device, qint64 selfPid,
                       const HolderSources& sources = HolderSources());
