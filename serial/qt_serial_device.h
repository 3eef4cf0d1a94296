#pragma once

#include <QSerialPort>

#include "serial_device.h"

// The real port off Windows, on QSerialPort, opened write-only.
class QtSerialDevice : public SerialDevice {
public:
    bool Open(const QString& name, uint32_t baud) override;
    void Close() override;
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override;
    PortProblem LastProblem() const override { return problem; }
    intptr_t NativeHandle() const override { return port.isOpen() ? intptr_t(port.handle()) : -1; }

    // The last error of the port, for diagnostics and tests.
    QSerialPort::SerialPortError LastError() const { return lastError; }

private:
    // Long enough for a whole frame to leave at the slowest rate (11 bytes at 2400 baud).
    static constexpr int kDrainMs = 100;
    bool WaitForDrain(int timeoutMs);
    bool WaitForRoom(int timeoutMs);

    // Refuses the open because name is held elsewhere, naming the holder where possible.
    bool FailBusy(const QString& name);

    QSerialPort port;
    PortProblem problem;
    QSerialPort::SerialPortError lastError = QSerialPort::NoError;
};
