#include "port_name.h"

// Windows has no device node that could stand for another kind of device.
PortProblem DeviceRefusal(const QString&) {
    return {};
}

// Windows names its ports itself: COM<port> is "COM<port>", whatever the mapping holds.
PortTarget ResolvePortEntry(int port, const QVariant&, const QString&) {
    return PortTarget(QStringLiteral("COM%1").arg(port));
}
