#include "net_address.h"
#include "port_name.h"

// Windows has no device node that could stand for another kind of device.
PortProblem DeviceRefusal(const QString&) {
    return {};
}

// Windows names its ports itself: COM<port> is "COM<port>", unless the mapping names a
// serial server on the network for it.
PortTarget ResolvePortEntry(int port, const QVariant& entry, const QString& devRoot) {
    const QString text = entry.userType() == QMetaType::QString ? entry.toString() : QString();
    if (!IsNetEntry(text))
        return PortTarget(QStringLiteral("COM%1").arg(port));
    PortTarget target = CheckPortEntry(text, devRoot);
    if (target.problem.fault == PortFault::UnusableEntry)
        target.problem.detail = QStringLiteral("\"%1\" %2").arg(text, target.problem.detail);
    return target;
}
