#pragma once

#include <QString>
#include <cstdint>

#include "port_problem.h"
#include "serial/failsafe/movement_record.h"

// The platform side of the serial link: one port, opened for writing only.
// The real device sits on QSerialPort; tests substitute a recorder.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Opens the named device at the given rate with 8 data bits, no parity bit or parity
    // checking, one stop bit, no flow control (XON/XOFF, RTS/CTS, DTR/DSR), DTR and RTS
    // raised, and reads the settings back: a port that does not take them all is refused.
    // Exclusive: fails while anyone else holds the port.
    virtual bool Open(const QString& name, uint32_t baud) = 0;
    virtual void Close() = 0;
    // Whether opening name may wait for an answer from the network (a connect time-out)
    // rather than take the moment a local device takes.
    virtual bool OpenMayWait(const QString& name) const {
        Q_UNUSED(name);
        return false;
    }

    // Writes count bytes, waiting at most timeoutMs for them to leave. Returns how many
    // left. Bytes that did not leave in time are discarded, never sent later.
    virtual uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) = 0;

    // The open port's file descriptor (a HANDLE on Windows), -1 while closed.
    virtual intptr_t NativeHandle() const { return -1; }
    // How a stop sender writes to that handle.
    virtual LineKind NativeKind() const { return LineKind::Serial; }

    // Why the last Open failed; no fault after a successful one.
    virtual PortProblem LastProblem() const { return {}; }
    // Why the last Write fell short, where the device can tell (a network line can).
    virtual PortProblem WriteProblem() const { return {}; }
    // The line is gone since the last Open, as far as the device can tell: an adapter
    // unplugged, a connection the server closed or reset. Writes fail until the port is
    // opened again. A short write on a line that is not lost is a stall, not a loss.
    virtual bool LineLost() const { return false; }
    // Looks at the open line without writing to it, and without waiting: false once it is
    // found gone (LineLost then says so, WriteProblem why), so that a line that drops while
    // no frame goes is noticed too. A server's messages meanwhile are read and answered.
    virtual bool CheckLine() { return !LineLost(); }
    // The far end asked the line to hold its data (a serial server's FLOWCONTROL-SUSPEND)
    // and has not let it go on: no byte may be written meanwhile. Known from the last
    // CheckLine or Write.
    virtual bool FlowHeld() const { return false; }
};
