#pragma once

#include <QtGlobal>

#include "net_serial_device.h"
#include "routed_serial_device.h"

// The serial device of the platform the program is built for.
#ifdef Q_OS_WIN
#include "win_serial_device.h"
using LocalSerialDevice = WinSerialDevice;
#else
#include "qt_serial_device.h"
using LocalSerialDevice = QtSerialDevice;
#endif

// The platform's port, or a serial server on the network, as the entry names it.
class SystemSerialDevice : public RoutedSerialDevice {
public:
    SystemSerialDevice() : RoutedSerialDevice(local, network) {}

private:
    LocalSerialDevice local;
    NetSerialDevice network;
};
