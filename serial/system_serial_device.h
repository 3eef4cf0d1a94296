#pragma once

#include <QtGlobal>

// The serial device of the platform the program is built for.
#ifdef Q_OS_WIN
#include "win_serial_device.h"
using SystemSerialDevice = WinSerialDevice;
#else
#include "qt_serial_device.h"
using SystemSerialDevice = QtSerialDevice;
#endif
