#pragma once

#include <memory>
#include <thread>

#include "net_address.h"
#include "net_socket.h"
#include "serial/line/serial_device.h"
#include "telnet_com_port.h"

// A port behind a serial server on the network, named "tcp://HOST:PORT" (raw) or
// "rfc2217://HOST:PORT" (Telnet, the far port set to the line's settings and the settings
// checked as the server confirms them). It only writes: what the server sends is read for
// the Telnet conversation and otherwise dropped, so it can neither reach the frames nor fill
// the connection. Writes are bounded as on a local line: at most kMaxQueuedBytes wait in the
// socket unsent, and a byte that cannot join them within its time-out is refused, never sent
// later.
class NetSerialDevice : public SerialDevice {
public:
    ~NetSerialDevice() override;
    // Looks up the host within kLookupMs, connects within kConnectMs of knowing its address,
    // and for RFC 2217 waits at most kNegotiationMs for the answers to its offers and as
    // long again for the settings to be confirmed. The window
    // keeps painting meanwhile: the work runs on a thread beside the event loop, which
    // handles everything but the operator's input (held back until the port is settled).
    bool Open(const QString& name, uint32_t baud) override;
    bool OpenMayWait(const QString&) const override { return true; }
    void Close() override;
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override;
    PortProblem LastProblem() const override { return problem; }
    PortProblem WriteProblem() const override { return writeProblem; }
    bool LineLost() const override { return dropped; }
    // Reads what the server sent (a close, a reset, its Telnet messages) without sending.
    bool CheckLine() override;
    // The socket: a stop sender writes to it as this device does, 0xFF doubled over Telnet
    // and CR followed by NUL where the server did not agree to binary data.
    intptr_t NativeHandle() const override { return socket; }
    LineKind NativeKind() const override {
        if (!Telnetting())
            return LineKind::Socket;
        return telnet.BinaryOut() == TelnetComPort::Answer::Yes ? LineKind::TelnetSocket
                                                                : LineKind::TelnetTextSocket;
    }
    // The Telnet conversation of the open port, for what the server agreed to.
    const TelnetComPort& Telnet() const { return telnet; }

    static constexpr int kLookupMs = 2000;
    static constexpr int kConnectMs = 2000;
    static constexpr int kNegotiationMs = 1500;
    // What may wait in the socket unsent: one frame of the longest protocol on the wire with
    // every byte escaped (11 bytes, each doubled). Bytes stay unsent only while the server's
    // window is closed or the network takes none; more would reach the server late.
    static constexpr int kMaxQueuedBytes = 22;
    // What may be on its way unacknowledged: three such frames, room for a server that
    // delays its acknowledgements (40 ms and more) and a slow network's round trip.
    static constexpr int kMaxUnacknowledgedBytes = 3 * kMaxQueuedBytes;

    struct OpenJob;

private:
    void Drop(const QString& why);
    // Reads what the server sent; false when the connection ended (the line is dropped).
    bool ReadIncoming();
    // How many of the count data bytes went out whole in the first sent bytes on the wire.
    uint32_t WholeBytes(const uint8_t* data, uint32_t count, int sent) const;
    // How many bytes the first count data bytes take on the wire.
    int WireLength(const uint8_t* data, uint32_t count) const;
    bool Telnetting() const { return address.scheme == NetAddress::Scheme::Rfc2217; }

    NetSocket::Handle socket = NetSocket::kNone;
    bool dropped = false;  // the connection broke: nothing more is sent on it
    NetAddress address;
    QString entry;
    TelnetComPort telnet;
    PortProblem problem;
    PortProblem writeProblem;
    // The one lookup, connect and conversation of this port that may still be running.
    std::shared_ptr<OpenJob> job;
    std::thread worker;
};
