#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "port_problem.h"
#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/movement_record.h"
#include "serial/machine/line_machine.h"

class LineGuard;
class LineMender;
class Pause;
class SerialDevice;

// The one serial port through which every camera frame leaves: opened by port number,
// written one byte at a time with a per-byte time-out and the line's pauses, never read.
// What it may do next is one state (LinkState, line_machine.h) and the movement record's
// (MoveState): each event here is one step of their tables, and this class carries out the
// actions the step names.
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

    // Opens COM<port> at baud, closing first whatever line is there (an attempt to open a
    // dropped line under way is waited for). Returns 1 when the port is open and configured,
    // else 0. A stop owed on the same port goes out first; one owed on another port is let go.
    int OpenPort(int port, uint32_t baud);
    // Whether opening port may wait for an answer from the network (its connect time-out)
    // rather than take the moment a local device takes.
    bool OpenMayWait(int port) const;
    // Releases the port, then pauses 100 ms so a reopen never follows at once. Called while
    // an opening is under way (the program ending meanwhile), the port is let go as soon as
    // that opening returns, and OpenPort reports it closed. A line that dropped is no longer
    // opened again; an attempt under way is waited for, the window painting meanwhile, and
    // what it opens sends the stop owed there before it is let go.
    void ClosePort();
    // The run ends with a stop owed that the line did not take: the program lets go of the
    // port without telling the guardian, which holds it too and sends the stop once the
    // program is gone. As ClosePort when there is no open line to leave.
    void HandOver();

    LinkState State() const { return state; }
    bool isOpen() const { return state == LinkState::Open || state == LinkState::Held; }
    // OpenPort is waiting for the device to open.
    bool isOpening() const { return state == LinkState::Opening; }
    // The line dropped under the open port (the device says it is gone): the port has
    // been let go and is being opened again by itself. When it is back, the stop owed goes
    // out first, whole, before anything else.
    bool isHealing() const { return state == LinkState::Lost; }
    // Called on the window's thread when the line dropped, came back, or sent a stop it owed
    // by itself.
    void SetLineWatcher(std::function<void()> changed) { lineChanged = std::move(changed); }
    // Why the line dropped, as the device told; no fault while it is open.
    const PortProblem& DropProblem() const { return dropProblem; }
    // The last OpenPort sent a stop owed on that port first, and it did not go out whole.
    bool OwedStopFailed() const { return owedStopFailed; }
    // The port a stop was owed on when OpenPort opened another port instead; 0 when none.
    // The stop let go is LetGoStop.
    int AbandonedStopPort() const { return abandonedStopPort; }
    const MovementLog::Owed& LetGoStop() const { return letGoStop; }

    // Returns the number of bytes that left for the line: 0 when the line did not take a
    // byte within the time-out.
    uint32_t WriteBytes(const uint8_t* buffer, uint32_t count);
    // Writes a frame one byte at a time, pausing 2 ms after each byte and 25 ms after
    // the frame, and returns how many bytes left. A refused byte ends the frame there;
    // its closing pause then waits for SettleFailedFrame, once the operator has been
    // told, and is paid before the next frame at the latest. After a frame cut short, the
    // next waits until a receiver has dropped it (LineTiming::kCutFramePauseMs). A frame
    // equal to the stop the record owes is that stop; a stop the line refused or cut goes
    // out whole before any other frame but a movement of its camera, and while the line
    // refuses it, no other frame goes.
    int SendFrame(const uint8_t* bytes, int length);
    void SettleFailedFrame();

    // A movement frame is next and stop is the frame that ends it. Kept in the record for
    // the stop senders that act once the program cannot, and for the line itself: until
    // the line has carried that stop whole, it stays owed, and goes out first on this line
    // as soon as it takes bytes again. False when a stop owed to another camera is still
    // owed (SendStopOwedElsewhere did not send it): the movement must not go out.
    bool BeginMovement(const uint8_t* stop, int length);
    // A camera stops only on the stop of its own address and protocol: before a frame for
    // the camera whose stop is stop, the stop the record owes to another camera (a movement
    // still running, or a stop the line refused) goes out first, whole, as a frame of its
    // own. True when none was owed or it went out whole; false when it did not, and it stays
    // owed: the frame for the other camera must not follow.
    bool SendStopOwedElsewhere(const uint8_t* stop, int length);
    // The line sends the stop the record owes now, if it takes bytes; true when none is owed
    // any more.
    bool SendOwedStop();
    // The record owes a stop, whole or in flight.
    bool StopOwed() const { return MovementLog::OwesStop(*record); }
    const MovementRecord& Record() const { return *record; }

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

    // How often the open line is looked at while no frame goes; while a stop is owed that the
    // line refused, it is looked at, and the stop tried again, this often.
    static constexpr int kLookIntervalMs = 500;
    static constexpr int kOwedLookIntervalMs = 50;
    // The pauses between attempts to open a dropped line again; the last repeats.
    static constexpr int kHealDelaysMs[] = {200, 500, 1000};

private:
    // One step of the link's table, and its actions.
    void Step(LinkEvent event);
    void Act(uint16_t actions);
    // The opening asked for: on a thread of its own, the window painting meanwhile.
    bool RunOpening(const QString& device, uint32_t baud);
    void TakeLine(uint32_t baud);
    // Ends with the link closed, whatever it was doing: event is CloseAsked or HandOver.
    void CloseNow(LinkEvent event);
    // Before each byte: the device says whether the line is gone or held.
    bool LineTakesBytes();
    // After a refused byte: what the device says of the line.
    void NoteRefusal();
    void LookAtLine();
    void UpdateLookInterval();
    void ScheduleAttempt();
    void OnAttempt(bool opened);
    // Sleeps out what the last frame is owed before the next: its pause after a failure, or
    // the time a receiver takes to drop a frame cut short.
    void SettleBeforeFrame();
    // When the next frame may start: after a cut frame, once a receiver has dropped it.
    int64_t NextFrameNotBeforeNs() const;

    SerialDevice& device;
    Pause& pause;
    PortNamer portName;
    LineGuard* guard;
    LineMender* mender;
    std::function<void()> lineChanged;
    MovementRecord ownRecord{};
    MovementRecord* record;
    LinkState state = LinkState::Closed;
    // A movement frame announced by BeginMovement and what the record owed before it.
    bool movementNext = false;
    MoveState movementBefore = MoveState::Idle;
    bool inFrame = false;
    bool framePauseOwed = false;
    int64_t failedAtNs = 0;  // when the last frame that fell short ended
    int lookIntervalMs = 0;
    int attempts = 0;
    uint32_t lineBaud = 0;
    int linePort = 0;  // the port opened last
    QString lineName;  // its entry, links kept: what a dropped line is opened again as
    int abandonedStopPort = 0;
    MovementLog::Owed letGoStop;
    bool owedStopFailed = false;
    PortProblem dropProblem;
    int lastPort = 0;
    PortProblem problem;
    PortProblem writeProblem;
    int writeTimeoutMs = 0;
};
