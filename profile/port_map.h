#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>

#include "serial/port_catalog.h"
#include "serial/port_name.h"

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

// Where COMn names a device: writes the first-start mapping (FirstStartMapping) when the
// section has no entry yet and devices were found; a section that exists is never touched.
// True when it wrote. Where the system names its ports itself, it writes nothing. The
// devices are looked up (ports is called) only when the section is still empty.
bool MapPortsOnFirstStart(ProfileStore& profile,
                          const std::function<QList<SerialPortFacts>()>& ports);
