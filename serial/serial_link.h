#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "port_name.h"
#include "protocol/controller_state.h"

class MessageSink;
class Pause;
class SerialDevice;

// The one serial port through which every camera frame leaves: opened by port number,
// written one byte at a time with a per-byte time-out, never read.
class CSerialLink {
public:
    using PortNamer = std::function<PortTarget(int port)>;

    CSerialLink(ControllerState& state, SerialDevice& device, Pause& pause, MessageSink& messages,
                PortNamer portName);

    // Opens COM<port> at baud. Returns 1 when the port is open and configured, else 0.
    int OpenPort(int port, uint32_t baud);
    // OpenPort with the state's comPort and baudRate.
    int OpenWithSettings();
    // Releases the port, then pauses 100 ms so a reopen never follows at once.
    void ClosePort();
    // Returns the number of bytes that left for the line: 0 when the link holds no port
    // or when the line did not take a byte within the time-out.
    uint32_t WriteBytes(const uint8_t* buffer, uint32_t count);

    // Completes the frame in txFrame (start, camera address, checksum) for the current
    // protocol and sends it byte by byte, pausing 2 ms after each byte and 25 ms after
    // the frame. A refused byte ends the frame and shows "Transfer Error!" once.
    void TransmitFrame();
    // Leaves the upper-case hexadecimal digits of the low 8 bits of value in txFrame
    // bytes 11 (high) and 12 (low).
    void HexPair(int value);
    static uint8_t HexDigit(int nibble);

    bool isOpen() const { return open; }
    // Why the last OpenPort failed, in plain words naming the port; empty after a success.
    QString FailureReason() const;
    const PortProblem& LastProblem() const { return problem; }
    // The per-byte write time-out at baud: 19200 / baud ms, at least 1 ms and at most
    // that of 2400 baud, so that a stalled line never blocks the window for long.
    static int WriteTimeoutMs(uint32_t baud);

    static constexpr int kBytePauseMs = 2;
    static constexpr int kFramePauseMs = 25;
    static constexpr int kClosePauseMs = 100;
    static constexpr int kMaxByteTimeoutMs = 8;

private:
    void SendFrameBytes(int length);

    ControllerState& state;
    SerialDevice& device;
    Pause& pause;
    MessageSink& messages;
    PortNamer portName;
    bool open = false;
    int lastPort = 0;
    PortProblem problem;
    int writeTimeoutMs = 0;
};
