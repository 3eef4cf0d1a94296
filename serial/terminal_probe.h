#pragma once

#include <QString>

#include "port_problem.h"

// Looks at a device before the link opens it: only a terminal device may carry frames,
// and its hardware handshake is kept as it is. The probe holds the device open until it
// is destroyed, so that opening the port right after it is never its last close (a last
// close would drop DTR for a moment). Built off Windows only, for QtSerialDevice.
class TerminalProbe {
public:
    explicit TerminalProbe(const QString& name);
    ~TerminalProbe();
    TerminalProbe(const TerminalProbe&) = delete;
    TerminalProbe& operator=(const TerminalProbe&) = delete;

    bool isTerminal = false;            // the name is a serial (terminal) device
    bool hardwareHandshake = false;     // RTS/CTS handshake is on in its current settings
    PortFault fault = PortFault::None;  // why it is not a usable terminal
    QString systemError;                // the system's words for a fault it reported

private:
    int fd = -1;
};
