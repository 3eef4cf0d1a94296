#include "routed_serial_device.h"

#include "net_address.h"

bool RoutedSerialDevice::Open(const QString& name, uint32_t baud) {
    active->Close();
    active = IsNetEntry(name) ? &network : &local;
    return active->Open(name, baud);
}
