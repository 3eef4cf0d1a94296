#include "port_map.h"

// COMn is the system's own name for a port here: there is nothing to map.
bool MapPortsOnFirstStart(ProfileStore&, const std::function<QList<SerialPortFacts>()>&) {
    return false;
}
