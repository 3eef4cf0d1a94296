#pragma once

#include <QString>
#include <QVariant>

#include "serial/line/port_problem.h"

// The device that COM<port> names, given the entry the port mapping holds for it (an
// invalid QVariant when it holds none); without one, the built-in port. On Windows an
// entry names one of the system's ports, COM1 to COM256 (COM1=COM7). Elsewhere it is a
// path given as text (COM1=/dev/ttyUSB0); a relative one is taken under devRoot, and
// symbolic links are resolved.
PortTarget ResolvePortEntry(int port, const QVariant& entry,
                            const QString& devRoot = QStringLiteral("/dev"));

// The built-in port that COM<port> names without an entry: COM<port> on Windows,
// elsewhere the n-th built-in serial port, /dev/ttyS<n-1>.
QString BuiltInPortName(int port);

// A typed entry as it is stored: on Windows the port's own spelling (com7 is COM7);
// elsewhere made absolute (relative ones under devRoot) and clean, links kept, so that a
// stable by-id name stays stable.
QString AbsolutePortEntry(const QString& entry, const QString& devRoot = QStringLiteral("/dev"));

// Checks one typed or stored entry and makes it the device it names. On Windows only the
// names COM1 to COM256 pass. Elsewhere it is made absolute and resolved, and the
// pseudo-terminal multiplexer, the controlling terminal and entries with control
// characters are refused.
PortTarget CheckPortEntry(const QString& entry, const QString& devRoot = QStringLiteral("/dev"));
// Why a device that exists is no line for frames (the pseudo-terminal multiplexer, the
// controlling terminal); no fault otherwise.
PortProblem DeviceRefusal(const QString& device);

// True when the device is on this machine as far as the system's own names tell: a path
// that exists; on Windows, where a port is known only from the system's list, never.
bool DevicePresent(const QString& device);

// The platform's words for what an operator does about a port.
struct PortWords {
    QString device;            // what a port is called: "device", "port"
    QString entryPlace;        // where the entry of a mapped port lives
    QString missingAdvice;     // what to do about a port that is absent; %1 is its row
    QString permissionAdvice;  // what to do about a port this user may not open
};
const PortWords& SystemPortWords();
