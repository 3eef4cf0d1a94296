#pragma once

#include "serial_device.h"

// The real port on Windows, on the Win32 communications API, opened write-only and
// exclusively (no share mode), so another program cannot have it at the same time.
class WinSerialDevice : public SerialDevice {
public:
    ~WinSerialDevice() override { Close(); }
    bool Open(const QString& name, uint32_t baud) override;
    void Close() override;
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override;
    PortProblem LastProblem() const override { return problem; }

private:
    bool Configure(uint32_t baud);

    void* handle = nullptr;  // a HANDLE; null while closed
    PortProblem problem;
};
