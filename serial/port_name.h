#pragma once

#include <QString>
#include <QVariant>

#include "port_problem.h"

// What COM<port> names: the absolute, resolved path of a device, or why the profile's entry
// for it cannot be used (problem set, device empty).
struct PortTarget {
    PortTarget() = default;
    PortTarget(const QString& device) : device(device) {}  // NOLINT: a plain path converts
    QString device;
    QString entry;  // the path as the profile names it, before links are resolved
    PortProblem problem;
};

// The device that COM<port> names, given the entry the port mapping holds for it (an
// invalid QVariant when it holds none). On Windows that is "COM<port>" itself. Elsewhere
// an entry maps it (COM1=/dev/ttyUSB0); without one COM<n> is the n-th built-in serial
// port, /dev/ttyS<n-1>. An entry is a path given as text; a relative one is taken under
// devRoot, and symbolic links are resolved.
PortTarget ResolvePortEntry(int port, const QVariant& entry,
                            const QString& devRoot = QStringLiteral("/dev"));

// The built-in port that COM<port> names without an entry.
QString BuiltInPortName(int port);

// A typed entry made absolute (relative ones under devRoot) and clean, links kept: the name
// to store, so that a stable by-id name stays stable.
QString AbsolutePortEntry(const QString& entry, const QString& devRoot = QStringLiteral("/dev"));

// Checks one typed or stored entry and makes it absolute and resolved. The pseudo-terminal
// multiplexer and the controlling terminal are refused, as are entries with control
// characters.
PortTarget CheckPortEntry(const QString& entry, const QString& devRoot = QStringLiteral("/dev"));
// Why a device that exists is no line for frames (the pseudo-terminal multiplexer, the
// controlling terminal); no fault otherwise.
PortProblem DeviceRefusal(const QString& device);
