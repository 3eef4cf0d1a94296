#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>

#include "serial/ports/port_catalog.h"
#include "serial/ports/port_name.h"

class ProfileStore;

// The profile's section "Ports": which device each of COM1 to COM4 stands for.

// The entry for COM<port> as text, never split into a list at its commas; an invalid
// QVariant when there is none.
QVariant StoredPortEntry(const ProfileStore& profile, int port);
// True when the store kept the entry.
bool StorePortEntry(ProfileStore& profile, int port, const QString& entry);

// The device that COM<port> names, by the profile's entry for it (see ResolvePortEntry).
PortTarget ResolvePort(int port, const ProfileStore& profile,
                       const QString& devRoot = QStringLiteral("/dev"));
// ResolvePort's device: empty when the entry cannot be used.
QString PortDeviceName(int port, const ProfileStore& profile);

// Writes the first-start mapping when the section has no entry yet and ports were found; a
// section that exists is never touched. True when it wrote. Off Windows that is
// FirstStartMapping; on Windows a COMn up to COM4 that exists stays itself and the ports
// above COM4 fill the rows whose own port is absent, USB adapters first. The ports are
// looked up (ports is called) only when the section is still empty.
bool MapPortsOnFirstStart(ProfileStore& profile,
                          const std::function<QList<SerialPortFacts>()>& ports);
// True while the section has no entry at all: the start is a first start for the mapping.
bool PortsSectionEmpty(const ProfileStore& profile);
