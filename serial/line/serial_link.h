#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "port_problem.h"
#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/movement_record.h"

class LineGuard;
class Pause;
class SerialDevice;

// The one serial port through which every camera frame leaves: opened by port number,
// written one byte at a time with a per-byte time-out and the line's pauses, never read.
class CSerialLink {
public:
    // The device that COM<port> stands for, or why there is none.
    using PortNamer = std::function<PortTarget(int port)>;

    // guard, when given, is told of every open and close and keeps the movement record.
    CSerialLink(SerialDevice& device, Pause& pause, PortNamer portName, LineGuard* guard = nullptr);

    // Opens COM<port> at baud. Returns 1 when the port is open and configured, else 0.
    int OpenPort(int port, uint32_t baud);
    // Whether opening port may wait for an answer from the network (its connect time-out)
    // rather than take the moment a local device takes.
    bool OpenMayWait(int port) const;
    // Releases the port, then pauses 100 ms so a reopen never follows at once.
    void ClosePort();
    // Returns the number of bytes that left for the line: 0 when the link holds no port
    // or when the line did not take a byte within the time-out.
    uint32_t WriteBytes(const uint8_t* buffer, uint32_t count);

    // Writes a frame one byte at a time, pausing 2 ms after each byte and 25 ms after
    // the frame, and returns how many bytes left. A refused byte ends the frame there;
    // its closing pause then waits for SettleFailedFrame, once the operator has been
    // told, and is paid before the next frame at the latest.
    int SendFrame(const uint8_t* bytes, int length);
    void SettleFailedFrame();

    // A movement is about to go out and stop is the frame that ends it; its stop is about
    // to go out. Kept in the record for a stop sender that acts once the program cannot.
    void BeginMovement(const uint8_t* stop, int length);
    void EndMovement();
    const MovementRecord& Record() const { return *record; }

    bool isOpen() const { return open; }
    // The port of the last OpenPort, and why it failed; no fault after a success.
    int LastPort() const { return lastPort; }
    const PortProblem& LastProblem() const { return problem; }
    // Why the last write that fell short did so, where the device could tell; else none.
    const PortProblem& WriteProblem() const { return writeProblem; }
    // The per-byte write time-out at baud: 19200 / baud ms, at least 1 ms and at most
    // that of 2400 baud, so that a stalled line never blocks the window for long.
    static int WriteTimeoutMs(uint32_t baud);

    static constexpr int kBytePauseMs = LineTiming::kBytePauseMs;
    static constexpr int kFramePauseMs = LineTiming::kFramePauseMs;
    static constexpr int kClosePauseMs = 100;

private:
    SerialDevice& device;
    Pause& pause;
    PortNamer portName;
    LineGuard* guard;
    MovementRecord ownRecord{};
    MovementRecord* record;
    bool open = false;
    bool framePauseOwed = false;
    int lastPort = 0;
    PortProblem problem;
    PortProblem writeProblem;
    int writeTimeoutMs = 0;
};
