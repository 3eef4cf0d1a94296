#include <QSet>
#include <algorithm>

#include "port_map.h"
#include "profile_keys.h"
#include "profile_store.h"

namespace {

int PortNumber(const SerialPortFacts& facts) {
    return facts.device.mid(3).toInt();
}

}  // namespace

// A COMn up to COM4 that is there stays itself. The ports above COM4 fill the rows whose
// own port is absent, USB adapters first, each in number order. When no row is filled so,
// nothing is written: COMn is COMn, and an adapter plugged in later is still mapped at a
// later start. A Bluetooth port is never mapped so: opening it connects, and may hold the
// window for seconds, which nobody asked for.
bool MapPortsOnFirstStart(ProfileStore& profile,
                          const std::function<QList<SerialPortFacts>()>& lookUp) {
    if (!PortsSectionEmpty(profile))
        return false;
    const QList<SerialPortFacts> ports = lookUp();
    QSet<int> low;
    QList<SerialPortFacts> high;
    for (const SerialPortFacts& facts : ports) {
        const int number = PortNumber(facts);
        if (number >= 1 && number <= 4)
            low << number;
        else if (number > 4 && !facts.bluetooth)
            high << facts;
    }
    std::stable_sort(high.begin(), high.end(),
                     [](const SerialPortFacts& a, const SerialPortFacts& b) {
                         return a.usb != b.usb ? a.usb : PortNumber(a) < PortNumber(b);
                     });
    QStringList mapping;
    bool filled = false;
    for (int port = 1; port <= 4; ++port) {
        if (low.contains(port)) {
            mapping << BuiltInPortName(port);
        } else if (!high.isEmpty()) {
            mapping << high.takeFirst().device;
            filled = true;
        } else {
            mapping << QString();
        }
    }
    if (!filled)
        return false;
    for (int port = 1; port <= 4; ++port)
        if (!mapping[port - 1].isEmpty())
            StorePortEntry(profile, port, mapping[port - 1]);
    return true;
}
