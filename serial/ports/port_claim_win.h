#pragma once

#include <QString>

// The name of the mutex by which a Velmor holds a port on Windows, where the driver itself
// may let a second opener share it (Wine does).
inline QString PortClaimName(const QString& port) {
    return QStringLiteral("Local\\velmor-port-") + port.toUpper();
}
