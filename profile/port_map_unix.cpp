#include "port_map.h"
#include "profile_keys.h"
#include "profile_store.h"

bool MapPortsOnFirstStart(ProfileStore& profile,
                          const std::function<QList<SerialPortFacts>()>& ports) {
    if (!PortsSectionEmpty(profile))
        return false;
    const QStringList mapping = FirstStartMapping(ports());
    for (int i = 0; i < mapping.size(); ++i) StorePortEntry(profile, i + 1, mapping[i]);
    return !mapping.isEmpty();
}
