#pragma once

#include <QString>

class ProfileStore;

// The device that COM<port> names. On Windows that is "COM<port>" itself. Elsewhere the
// profile's section "Ports" may map it (COM1=/dev/ttyUSB0); otherwise COM<n> is the
// n-th built-in serial port, /dev/ttyS<n-1>.
QString PortDeviceName(int port, const ProfileStore& profile);
