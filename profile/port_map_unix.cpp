#include "port_map.h"
#include "profile_keys.h"
#include "profile_store.h"

bool MapPortsOnFirstStart(ProfileStore& profile,
                          const std::function<QList<SerialPortFacts>()>& ports) {
    if (!profile.SectionKeys(ProfileKeys::kPortsSection).isEmpty())
        return false;
    // A store that cannot list its keys still shows an entry it holds.
    for (int port = 1; port <= 4; ++port) {
        if (profile.ReadValue(ProfileKeys::kPortsSection, ProfileKeys::PortKey(port)).isValid())
            return false;
    }
    const QStringList mapping = FirstStartMapping(ports());
    for (int i = 0; i < mapping.size(); ++i) StorePortEntry(profile, i + 1, mapping[i]);
    return !mapping.isEmpty();
}
