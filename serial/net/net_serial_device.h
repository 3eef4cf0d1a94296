#pragma once

#include "net_address.h"
#include "net_socket.h"
#include "serial/line/serial_device.h"

// A port behind a serial server on the network, named "tcp://HOST:PORT" (raw) or
// "rfc2217://HOST:PORT" (Telnet, the far port set to the line's settings). It only
// writes: what the server sends is read and dropped, so it can neither reach the frames
// nor fill the connection. Writes are bounded as on a local line.
class NetSerialDevice : public SerialDevice {
public:
    ~NetSerialDevice() override { Close(); }
    // Connects within kConnectMs. The window keeps painting meanwhile: the connect runs
    // beside the event loop, which handles everything but the operator's input (held
    // back until the port is settled).
    bool Open(const QString& name, uint32_t baud) override;
    bool OpenMayWait(const QString&) const override { return true; }
    void Close() override;
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override;
    PortProblem LastProblem() const override { return problem; }
    PortProblem WriteProblem() const override { return writeProblem; }
    bool LineLost() const override { return dropped; }
    // The socket: a stop sender writes to it as this device does, 0xFF doubled over Telnet.
    intptr_t NativeHandle() const override { return socket; }
    LineKind NativeKind() const override {
        return address.scheme == NetAddress::Scheme::Rfc2217 ? LineKind::TelnetSocket
                                                             : LineKind::Socket;
    }

    static constexpr int kConnectMs = 2000;

private:
    void Drop(const QString& why);
    // How many of the count data bytes went out whole in the first sent bytes on the wire.
    uint32_t WholeBytes(const uint8_t* data, uint32_t count, int sent) const;
    // How many bytes the first count data bytes take on the wire.
    int WireLength(const uint8_t* data, uint32_t count) const;

    NetSocket::Handle socket = NetSocket::kNone;
    bool dropped = false;  // the connection broke: nothing more is sent on it
    NetAddress address;
    QString entry;
    PortProblem problem;
    PortProblem writeProblem;
};
