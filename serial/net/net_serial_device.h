#pragma once

#include <memory>

#include "net_address.h"
#include "serial/line/serial_device.h"
#include "serial/socket/net_socket.h"
#include "serial/telnet/telnet_conversation.h"

// A port behind a serial server on the network, named "tcp://HOST:PORT" (raw) or
// "rfc2217://HOST:PORT" (Telnet, the far port set to the line's settings and the settings
// checked as the server confirms them). It only writes: what the server sends is read by
// CheckLine, for the Telnet conversation, and otherwise dropped, so it can neither reach the
// frames nor fill the connection. Writes are bounded as on a local line: at most
// kMaxQueuedBytes wait in the socket unsent, and a byte that cannot join them within its
// time-out is refused, never sent later.
class NetSerialDevice : public SerialDevice {
public:
    ~NetSerialDevice() override;
    // Blocks the caller's thread, each step within a bound of its own: the lookup of a name
    // within kLookupMs (an address needs none), the connect within kConnectMs of knowing the
    // address, and for RFC 2217 each phase of the conversation within kNegotiationMs. No
    // event loop runs and no thread starts here: the caller keeps the window elsewhere.
    bool Open(const QString& name, uint32_t baud) override;
    bool OpenMayWait(const QString&) const override { return true; }
    void Close() override;
    // Sends and waits for room only: it neither reads nor allocates, so that it may run
    // while a byte is in hand. Refuses at once while the flow is held.
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override;
    PortProblem LastProblem() const override { return problem; }
    PortProblem WriteProblem() const override;
    bool LineLost() const override { return dropped; }
    // Reads what the server sent (a close, a reset, its Telnet messages) and answers them,
    // without sending data and without waiting.
    bool CheckLine() override;
    bool FlowHeld() const override;
    // The socket is left to the guardian's copy: closed here without ending the connection.
    void Abandon() override;
    // The socket: a stop sender writes to it as this device does, 0xFF doubled over Telnet
    // and CR followed by NUL where the server did not agree to binary data.
    intptr_t NativeHandle() const override { return socket; }
    LineKind NativeKind() const override;

    static constexpr int kLookupMs = 2000;
    static constexpr int kConnectMs = 2000;
    static constexpr int kNegotiationMs = TelnetConversation::kAnswerMs;
    // What may wait in the socket unsent: one frame of the longest protocol on the wire with
    // every byte escaped (11 bytes, each doubled). Bytes stay unsent only while the server's
    // window is closed or the network takes none; more would reach the server late.
    static constexpr int kMaxQueuedBytes = 22;
    // What may be on its way unacknowledged: three such frames, room for a server that
    // delays its acknowledgements (40 ms and more) and a slow network's round trip.
    static constexpr int kMaxUnacknowledgedBytes = 3 * kMaxQueuedBytes;

private:
    // Why the line fell short or went, as plain values: the words are made when asked for,
    // so that a write allocates nothing.
    struct Fault {
        enum class Kind { None, Closed, Broke, Unanswered, Held, Stalled, NotTaken, HalfEscaped };
        Kind kind = Kind::None;
        int error = 0;  // the system's code, for Broke
        int timeoutMs = 0;
        int unsent = 0;
        int unacknowledged = 0;
    };

    bool LookUp(QList<NetSocket::Platform::Address>& addresses);
    // Carries the opening of the conversation out on the connection; false, with the
    // problem set, when the server's port was not set.
    bool SetFarPort(NetSocket::Handle connection, uint32_t baud);
    // Waits until length more bytes stay within the socket's bounds; false at the deadline.
    bool WaitForQueueRoom(int length, const QDeadlineTimer& deadline, int timeoutMs);
    void Drop(Fault::Kind kind, int error = 0);
    QString FaultWords() const;
    bool Telnetting() const { return address.scheme == NetAddress::Scheme::Rfc2217; }

    NetSocket::Handle socket = NetSocket::kNone;
    bool dropped = false;  // the connection broke: nothing more is sent on it
    NetAddress address;
    QString entry;
    TelnetConversation telnet;
    PortProblem problem;
    Fault fault;
    // A lookup the system could not stop: the next one waits for it, so that one runs at
    // a time.
    std::unique_ptr<NetSocket::Platform::Lookup> unfinished;
};
