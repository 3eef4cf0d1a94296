#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "port_problem.h"
#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/movement_record.h"

class LineGuard;
class LineMender;
class Pause;
class SerialDevice;

// The one serial port through which every camera frame leaves: opened by port number,
// written one byte at a time with a per-byte time-out and the line's pauses, never read.
class CSerialLink {
public:
    // The device that COM<port> stands for, or why there is none.
    using PortNamer = std::function<PortTarget(int port)>;

    // guard, when given, is told of every open and close and keeps the movement record.
    // mender, when given, opens the port off the window's thread, and a line that dropped
    // again by itself.
    CSerialLink(SerialDevice& device, Pause& pause, PortNamer portName, LineGuard* guard = nullptr,
                LineMender* mender = nullptr);
    ~CSerialLink();
    CSerialLink(const CSerialLink&) = delete;
    CSerialLink& operator=(const CSerialLink&) = delete;

    // Opens COM<port> at baud. Returns 1 when the port is open and configured, else 0. A
    // stop owed on the same port goes out first; one owed on another port is let go.
    int OpenPort(int port, uint32_t baud);
    // Whether opening port may wait for an answer from the network (its connect time-out)
    // rather than take the moment a local device takes.
    bool OpenMayWait(int port) const;
    // Releases the port, then pauses 100 ms so a reopen never follows at once. Called while
    // an opening is under way (the program ending meanwhile), the port is let go as soon as
    // that opening returns, and OpenPort reports it closed.
    void ClosePort();
    // OpenPort is waiting for the device to open.
    bool isOpening() const { return opening; }
    // The line dropped under the open port (the device says it is gone): the port has
    // been let go and is being opened again by itself. When it is back, the stop owed goes
    // out first, whole, before anything else.
    bool isHealing() const { return healing; }
    // No more attempts to open a dropped line again; an attempt under way is waited for.
    void StopHealing();
    // Called on the window's thread when the line dropped and when it came back.
    void SetLineWatcher(std::function<void()> changed) { lineChanged = std::move(changed); }
    // Why the line dropped, as the device told; no fault while it is open.
    const PortProblem& DropProblem() const { return dropProblem; }
    // The last OpenPort sent a stop owed on that port first, and it did not go out whole.
    bool OwedStopFailed() const { return owedStopFailed; }
    // The port a stop was owed on when OpenPort opened another port instead; 0 when none.
    int AbandonedStopPort() const { return abandonedStopPort; }
    // Returns the number of bytes that left for the line: 0 when the link holds no port
    // or when the line did not take a byte within the time-out.
    uint32_t WriteBytes(const uint8_t* buffer, uint32_t count);

    // Writes a frame one byte at a time, pausing 2 ms after each byte and 25 ms after
    // the frame, and returns how many bytes left. A refused byte ends the frame there;
    // its closing pause then waits for SettleFailedFrame, once the operator has been
    // told, and is paid before the next frame at the latest.
    int SendFrame(const uint8_t* bytes, int length);
    void SettleFailedFrame();

    // A movement is about to go out and stop is the frame that ends it; its stop is the
    // next frame. Kept in the record for a stop sender that acts once the program cannot,
    // and for the line itself: a stop that does not go out whole stays owed, and goes out
    // first on this line as soon as it takes bytes again.
    void BeginMovement(const uint8_t* stop, int length);
    void EndMovement();
    // A camera stops only on the stop of its own address and protocol: before a frame for
    // the camera whose stop is stop, the stop the record owes to another camera (a movement
    // still running, or a stop the line refused) goes out first, whole, as a frame of its
    // own. True when none was owed or it went out whole; false when it did not, and it stays
    // owed: the frame for the other camera must not follow.
    bool SendStopOwedElsewhere(const uint8_t* stop, int length);
    // A stop is owed that the line did not carry whole.
    bool StopOwed() const { return stopOwed; }
    const MovementRecord& Record() const { return *record; }

    bool isOpen() const { return open; }
    // The port of the last OpenPort, and why it failed; no fault after a success.
    int LastPort() const { return lastPort; }
    // The rate of the line opened last.
    uint32_t LineBaud() const { return lineBaud; }
    const PortProblem& LastProblem() const { return problem; }
    // Why the last write that fell short did so, where the device could tell; else none.
    const PortProblem& WriteProblem() const { return writeProblem; }
    // The per-byte write time-out at baud: 19200 / baud ms, at least 1 ms and at most
    // that of 2400 baud, so that a stalled line never blocks the window for long.
    static int WriteTimeoutMs(uint32_t baud);

    static constexpr int kBytePauseMs = LineTiming::kBytePauseMs;
    static constexpr int kFramePauseMs = LineTiming::kFramePauseMs;
    static constexpr int kClosePauseMs = 100;

    // How often the open line is looked at while no frame goes.
    static constexpr int kLookIntervalMs = 500;
    // The pauses between attempts to open a dropped line again; the last repeats.
    static constexpr int kHealDelaysMs[] = {200, 500, 1000};

private:
    // The device is open: the link takes it as its line.
    void TakeLine(uint32_t baud);
    // The frame whose byte the line refused: the device may say the line is gone.
    void NoteRefusal(bool wasStop);
    void OnLineLost();
    // Between frames: a line found gone is let go and healed as one lost under a frame.
    void LookAtLine();
    void ScheduleHeal();
    void OnHealAttempt(bool opened);
    // Records the movement whose frame is next, keeping what the record owed before.
    void StartMovement(const uint8_t* stop, int length);
    void UndoMovement();
    // Sends the stop the record owes, as a frame of its own; true when it went out whole.
    bool SendOwedStop();
    // A stop owed goes out first on the port it is owed on; another port lets go of it.
    void SettleOwedStop(int previousPort);

    SerialDevice& device;
    Pause& pause;
    PortNamer portName;
    LineGuard* guard;
    LineMender* mender;
    std::function<void()> lineChanged;
    MovementRecord ownRecord{};
    MovementRecord* record;
    bool open = false;
    bool opening = false;
    bool closeWanted = false;  // ClosePort came while opening
    bool framePauseOwed = false;
    bool stopGoing = false;  // EndMovement let a running movement go: its stop is next
    bool stopOwed = false;
    // The movement whose frame is next, and what the record owed before it.
    bool movementGoing = false;
    bool wasRunning = false;
    bool wasStopOwed = false;
    uint8_t wasStop[MovementRecord::kMaxFrame] = {};
    int wasStopLength = 0;
    bool healing = false;
    int healAttempts = 0;
    uint32_t lineBaud = 0;
    int linePort = 0;  // the port opened last
    QString lineName;  // its entry, links kept: what a dropped line is opened again as
    int abandonedStopPort = 0;
    bool owedStopFailed = false;
    PortProblem dropProblem;
    int lastPort = 0;
    PortProblem problem;
    PortProblem writeProblem;
    int writeTimeoutMs = 0;
};
