#include "routed_serial_device.h"

#include "serial/net/net_address.h"

bool RoutedSerialDevice::Open(const QString& name, uint32_t baud) {
    active->Close();
    active = IsNetEntry(name) ? &network : &local;
    return active->Open(name, baud);
}

bool RoutedSerialDevice::OpenMayWait(const QString& name) const {
    return IsNetEntry(name) ? network.OpenMayWait(name) : local.OpenMayWait(name);
}
