#pragma once

#include <QString>

#include "port_problem.h"

class ProfileStore;

// What COM<port> names: the absolute, resolved path of a device, or why the profile's entry
// for it cannot be used (problem set, device empty).
struct PortTarget {
    PortTarget() = default;
    PortTarget(const QString& device) : device(device) {}  // NOLINT: a plain path converts
    QString device;
    QString entry;  // the path as the profile names it, before links are resolved
    PortProblem problem;
};

// The device that COM<port> names. On Windows that is "COM<port>" itself. Elsewhere the
// profile's section "Ports" may map it (COM1=/dev/ttyUSB0); otherwise COM<n> is the
// n-th built-in serial port, /dev/ttyS<n-1>. A mapped entry is a path read as text, never
// as a list; a relative one is taken under devRoot, and symbolic links are resolved.
PortTarget ResolvePort(int port, const ProfileStore& profile,
                       const QString& devRoot = QStringLiteral("/dev"));
// ResolvePort's device: empty when the entry cannot be used.
QString PortDeviceName(int port, const ProfileStore& profile);

// The built-in port that COM<port> names without an entry.
QString BuiltInPortName(int port);

// A typed entry made absolute (relative ones under devRoot) and clean, links kept: the name
// to store, so that a stable by-id name stays stable.
QString AbsolutePortEntry(const QString& entry, const QString& devRoot = QStringLiteral("/dev"));

// Checks one typed or stored entry and makes it absolute and resolved. The pseudo-terminal
// multiplexer and the controlling terminal are refused, as are entries with control
// characters.
PortTarget CheckPortEntry(const QString& entry, const QString& devRoot = QStringLiteral("/dev"));
