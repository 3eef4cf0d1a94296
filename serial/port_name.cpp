#include "port_name.h"

#include "panel/profile_store.h"

QString PortDeviceName(int port, const ProfileStore& profile) {
    const QString comName = QStringLiteral("COM%1").arg(port);
#ifdef Q_OS_WIN
    Q_UNUSED(profile);
    return comName;
#else
    const QString mapped = profile.ReadValue(QStringLiteral("Ports"), comName).toString().trimmed();
    if (!mapped.isEmpty())
        return mapped;
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}
