#pragma once

#include <memory>

#include "serial/line/serial_device.h"

// The machine's own serial port, opened exclusively and write-only: on QSerialPort off
// Windows, on the Win32 communications API on Windows (where a named claim per port also
// keeps a second Velmor off it where the driver itself would let it share, as Wine does).
class LocalSerialDevice : public SerialDevice {
public:
    LocalSerialDevice();
    ~LocalSerialDevice() override;
    LocalSerialDevice(const LocalSerialDevice&) = delete;
    LocalSerialDevice& operator=(const LocalSerialDevice&) = delete;

    bool Open(const QString& name, uint32_t baud) override;
    void Close() override;
    // Closed here at once, with nothing drained or dropped: the guardian's copy of the port
    // keeps what the line holds and sends the stop still owed.
    void Abandon() override;
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override;
    PortProblem LastProblem() const override;
    bool LineLost() const override;
    bool CheckLine() override;
    intptr_t NativeHandle() const override;

private:
    struct Port;  // the platform's port and what it knows of it
    std::unique_ptr<Port> port;
};
