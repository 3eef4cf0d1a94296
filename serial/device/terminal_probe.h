#pragma once

#include <QString>

#include "serial/line/port_problem.h"

// Looks at a device before the link opens it: only a terminal device may carry frames.
// The probe holds the device open until it
// is destroyed, so that opening the port right after it is never its last close (a last
// close would drop DTR for a moment). Built off Windows only, for the local serial device.
class TerminalProbe {
public:
    explicit TerminalProbe(const QString& name);
    ~TerminalProbe();
    TerminalProbe(const TerminalProbe&) = delete;
    TerminalProbe& operator=(const TerminalProbe&) = delete;

    bool isTerminal = false;            // the name is a serial (terminal) device
    bool modemLines = false;            // it has DTR and RTS (a pseudo-terminal has none)
    PortFault fault = PortFault::None;  // why it is not a usable terminal
    QString systemError;                // the system's words for a fault it reported

private:
    int fd = -1;
};

// What in the settings of the open terminal fd differs from the line the link sets up: 8
// data bits, no parity bit and no parity checking, one stop bit, no XON/XOFF and no
// RTS/CTS handshake, raw output; with modem lines, DTR and RTS raised. Empty when none.
QString LineSettingsProblem(int fd, bool modemLines);
