#include "port_map.h"

#include "profile_keys.h"
#include "profile_store.h"

using ProfileKeys::kPortsSection;
using ProfileKeys::PortKey;

QVariant StoredPortEntry(const ProfileStore& profile, int port) {
    return profile.ReadText(kPortsSection, PortKey(port));
}

bool StorePortEntry(ProfileStore& profile, int port, const QString& entry) {
    return profile.WriteValue(kPortsSection, PortKey(port), entry);
}

PortTarget ResolvePort(int port, const ProfileStore& profile, const QString& devRoot) {
    return ResolvePortEntry(port, StoredPortEntry(profile, port), devRoot);
}

QString PortDeviceName(int port, const ProfileStore& profile) {
    return ResolvePort(port, profile).device;
}

bool PortsSectionEmpty(const ProfileStore& profile) {
    if (!profile.SectionKeys(kPortsSection).isEmpty())
        return false;
    // A store that cannot list its keys still shows an entry it holds.
    for (int port = 1; port <= 4; ++port) {
        if (profile.ReadValue(kPortsSection, PortKey(port)).isValid())
            return false;
    }
    return true;
}
