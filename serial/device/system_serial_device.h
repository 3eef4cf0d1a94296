#pragma once

#include "local_serial_device.h"
#include "routed_serial_device.h"
#include "serial/net/net_serial_device.h"

// The machine's own port, or a serial server on the network, as the entry names it.
class SystemSerialDevice : public RoutedSerialDevice {
public:
    SystemSerialDevice() : RoutedSerialDevice(local, network) {}

private:
    LocalSerialDevice local;
    NetSerialDevice network;
};
