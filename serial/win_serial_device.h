#pragma once

#include "serial_device.h"

// The real port on Windows, on the Win32 communications API, opened exclusively (no share
// mode), so another program cannot have it at the same time. A named mutex per port keeps
// a second Velmor off it also where the driver itself would let it share (Wine).
class WinSerialDevice : public SerialDevice {
public:
    ~WinSerialDevice() override { Close(); }
    bool Open(const QString& name, uint32_t baud) override;
    void Close() override;
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override;
    PortProblem LastProblem() const override { return problem; }
    intptr_t NativeHandle() const override { return handle ? intptr_t(handle) : -1; }

    // The name of the mutex by which a Velmor holds the port.
    static QString ClaimName(const QString& port) {
        return QStringLiteral("Local\\velmor-port-") + port.toUpper();
    }

private:
    // Sets the line up and reads it back; why the port refused, empty when it did not.
    QString Configure(uint32_t baud);
    bool SetWriteTimeout(int timeoutMs);

    void* handle = nullptr;        // a HANDLE; null while closed
    void* claim = nullptr;         // the port's mutex while held
    unsigned long timeoutsMs = 0;  // the write time-out the port has; 0 before any is set
    PortProblem problem;
};
