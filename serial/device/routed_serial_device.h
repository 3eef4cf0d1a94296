#pragma once

#include "serial/line/serial_device.h"

// One port, a local device or a serial server on the network, chosen at each Open by the
// name: a tcp:// or rfc2217:// entry goes to the network device, anything else to the
// local one. The frames, their pauses and the close are the link's either way.
class RoutedSerialDevice : public SerialDevice {
public:
    RoutedSerialDevice(SerialDevice& local, SerialDevice& network)
        : local(local), network(network) {}

    bool Open(const QString& name, uint32_t baud) override;
    bool OpenMayWait(const QString& name) const override;
    void Close() override { active->Close(); }
    void Abandon() override { active->Abandon(); }
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override {
        return active->Write(data, count, timeoutMs);
    }
    PortProblem LastProblem() const override { return active->LastProblem(); }
    PortProblem WriteProblem() const override { return active->WriteProblem(); }
    bool LineLost() const override { return active->LineLost(); }
    bool CheckLine() override { return active->CheckLine(); }
    bool FlowHeld() const override { return active->FlowHeld(); }
    // The open line for the crash handler and the guardian.
    intptr_t NativeHandle() const override { return active->NativeHandle(); }
    LineKind NativeKind() const override { return active->NativeKind(); }

private:
    SerialDevice& local;
    SerialDevice& network;
    SerialDevice* active = &local;
};
