#include "serial_link.h"

#include <QScopedValueRollback>
#include <algorithm>
#include <iterator>

#include "line_mender.h"
#include "pause.h"
#include "serial/failsafe/line_guard.h"
#include "serial/failsafe/raw_io.h"
#include "serial_device.h"

namespace {

// Keeps the watcher quiet while the caller (an opening, a close) tells of the outcome itself.
class QuietWatcher {
public:
    explicit QuietWatcher(std::function<void()>& watcher) : watcher(watcher) {
        saved = std::exchange(watcher, nullptr);
    }
    ~QuietWatcher() { watcher = std::move(saved); }
    QuietWatcher(const QuietWatcher&) = delete;
    QuietWatcher& operator=(const QuietWatcher&) = delete;

private:
    std::function<void()>& watcher;
    std::function<void()> saved;
};

}  // namespace

CSerialLink::CSerialLink(SerialDevice& device, Pause& pause, PortNamer portName, LineGuard* guard,
                         LineMender* mender)
    : device(device),
      pause(pause),
      portName(std::move(portName)),
      guard(guard),
      mender(mender),
      record(guard ? &guard->Record() : &ownRecord) {
    UpdateLookInterval();
}

CSerialLink::~CSerialLink() {
    if (!mender)
        return;
    mender->Cancel();
    mender->Watch(0, nullptr);
}

int CSerialLink::WriteTimeoutMs(uint32_t baud) {
    return baud == 0
               ? 0
               : std::clamp<int>(static_cast<int>(19200 / baud), 1, LineTiming::kMaxByteTimeoutMs);
}

void CSerialLink::Step(LinkEvent event) {
    const LinkStep step = StepLink(state, MovementLog::State(*record), event);
    state = step.next;
    Act(step.actions);
    UpdateLookInterval();
}

void CSerialLink::Act(uint16_t actions) {
    if (actions & kTellGuardOpened) {
        MovementLog::LineOpened(*record, device.NativeKind());
        if (guard)
            guard->LineOpened(device.NativeHandle());
    }
    if (actions & kForgetStop) {
        letGoStop = MovementLog::OwedBytes(*record);
        MovementLog::ForgetStop(*record);
    }
    if (actions & kSendOwedStop)
        SendOwedStop();
    if ((actions & kTellGuardClosed) && guard)
        guard->LineClosed();
    if (actions & kCloseDevice)
        device.Close();
    if (actions & kAbandonDevice)
        device.Abandon();
    if (actions & kClosePause)
        pause.Sleep(kClosePauseMs);
    if (actions & kScheduleAttempt)
        ScheduleAttempt();
    if ((actions & kCallOffAttempts) && mender)
        mender->CallOff();
    if (actions & kThenClose)
        CloseNow(LinkEvent::CloseAsked);
    if ((actions & kTellLineChanged) && lineChanged)
        lineChanged();
}

int CSerialLink::OpenPort(int port, uint32_t baud) {
    const QuietWatcher quiet(lineChanged);
    ClosePort();
    owedStopFailed = false;
    abandonedStopPort = 0;
    letGoStop = {};
    lastPort = port;
    const PortTarget target = portName(port);
    problem = target.problem;
    writeProblem = {};
    if (!target.problem.isNone())
        return 0;
    // A rate of 0 can only come from a hand-edited profile; there is no sensible line
    // speed or write time-out for it.
    if (baud == 0) {
        problem = {PortFault::Refused, target.device, QStringLiteral("a rate of 0 baud")};
        return 0;
    }
    Step(LinkEvent::OpenAsked);
    const bool opened = RunOpening(target.device, baud);
    const int previousPort = linePort;
    const bool samePort = port == previousPort;
    if (opened) {
        linePort = port;
        lineName = target.entry.isEmpty() ? target.device : target.entry;
        TakeLine(baud);
    }
    if (state == LinkState::Closing) {
        Step(opened ? (samePort ? LinkEvent::OpenedSame : LinkEvent::OpenedOther)
                    : LinkEvent::OpenFailed);
        problem = {PortFault::Failed, target.device, QStringLiteral("released while opening")};
        return 0;
    }
    if (!opened) {
        Step(LinkEvent::OpenFailed);
        problem = device.LastProblem();
        if (problem.isNone())
            problem.fault = PortFault::Failed;
        if (problem.device.isEmpty())
            problem.device = target.device;
        return 0;
    }
    const bool owed = StopOwed();
    Step(samePort ? LinkEvent::OpenedSame : LinkEvent::OpenedOther);
    if (!samePort && letGoStop.count > 0)
        abandonedStopPort = previousPort;
    owedStopFailed = samePort && owed && StopOwed();
    problem = isOpen() ? PortProblem() : dropProblem;
    return isOpen() ? 1 : 0;
}

bool CSerialLink::RunOpening(const QString& name, uint32_t baud) {
    SerialDevice* opener = &device;
    const LineMender::Attempt attempt = [opener, name, baud] { return opener->Open(name, baud); };
    return mender ? mender->RunAside(attempt) : attempt();
}

void CSerialLink::TakeLine(uint32_t baud) {
    writeTimeoutMs = WriteTimeoutMs(baud);
    lineBaud = baud;
    dropProblem = {};
}

bool CSerialLink::OpenMayWait(int port) const {
    const PortTarget target = portName(port);
    return target.problem.isNone() && device.OpenMayWait(target.device);
}

void CSerialLink::ClosePort() {
    CloseNow(LinkEvent::CloseAsked);
}

void CSerialLink::HandOver() {
    CloseNow(guard && StopOwed() ? LinkEvent::HandOver : LinkEvent::CloseAsked);
}

void CSerialLink::CloseNow(LinkEvent event) {
    // An opening asked for is under way on its own thread: its return settles the close.
    if (state == LinkState::Opening) {
        Step(event);
        return;
    }
    Step(event);
    // An attempt called off was waited for and has settled it; with none under way nothing
    // opened.
    if (state == LinkState::Closing)
        Step(LinkEvent::OpenFailed);
}

bool CSerialLink::LineTakesBytes() {
    if (!isOpen())
        return false;
    if (!device.CheckLine()) {
        NoteRefusal();
        return false;
    }
    if (device.FlowHeld() != (state == LinkState::Held))
        Step(device.FlowHeld() ? LinkEvent::Suspend : LinkEvent::Resume);
    if (state == LinkState::Held)
        writeProblem = device.WriteProblem();
    return state == LinkState::Open;
}

int CSerialLink::SendFrame(const uint8_t* bytes, int length) {
    // A stop the line refused or cut goes out first, whole, as soon as the line takes bytes
    // again: no other frame goes ahead of it (a movement of its own camera keeps it owed
    // instead). Where it is refused again, this frame does not go either.
    if (!inFrame && MovementLog::State(*record) == MoveState::StopOwed &&
        !MovementLog::Owes(*record, bytes, length) && !SendOwedStop())
        return 0;
    // One frame at a time: a step taken meanwhile (a RESUME seen) sends no frame of its own.
    const QScopedValueRollback<bool> one(inFrame, true);
    SettleBeforeFrame();
    const bool isMovement = std::exchange(movementNext, false);
    // Once a stop sender has the line (the program is crashing), its bytes are the last and
    // the record is its own.
    if (record->taken) {
        framePauseOwed = true;
        return 0;
    }
    if (!isMovement && OwesWholeStop(MovementLog::State(*record)) &&
        MovementLog::Owes(*record, bytes, length))
        MovementLog::BeginStop(*record);
    else
        MovementLog::BeginFrame(*record, bytes, length);
    for (int i = 0; i < length; ++i) {
        if (record->taken) {
            framePauseOwed = true;
            return i;
        }
        bool went = false;
        const bool writes = LineTakesBytes();
        {
            // The record knows whether the byte went before a crash from outside is let in.
            const ByteInHandHold hold;
            MovementLog::BeginByte(*record);
            went = writes && WriteBytes(&bytes[i], 1) == 1;
            if (went)
                MovementLog::ByteSent(*record, pause.NowNs());
            else
                MovementLog::ByteRefused(*record);
        }
        if (!went) {
            // A movement frame that did not reach the line started nothing.
            if (isMovement && i == 0)
                MovementLog::UndoMovement(*record, movementBefore);
            framePauseOwed = true;
            failedAtNs = pause.NowNs();
            if (writes)
                NoteRefusal();
            UpdateLookInterval();
            return i;
        }
        pause.Sleep(kBytePauseMs);
    }
    pause.Sleep(kFramePauseMs);
    UpdateLookInterval();
    return length;
}

uint32_t CSerialLink::WriteBytes(const uint8_t* buffer, uint32_t count) {
    const int64_t timeout = int64_t(writeTimeoutMs) * count;
    const uint32_t written =
        device.Write(buffer, count, static_cast<int>(std::min<int64_t>(timeout, INT32_MAX)));
    writeProblem = written == count ? PortProblem() : device.WriteProblem();
    return written;
}

void CSerialLink::NoteRefusal() {
    if (!isOpen())
        return;
    if (device.LineLost()) {
        dropProblem = device.WriteProblem();
        if (dropProblem.isNone())
            dropProblem = {PortFault::NoSuchDevice, lineName, QString()};
        // The frame that found the line gone fell short for that reason, written or not.
        writeProblem = dropProblem;
        attempts = 0;
        Step(LinkEvent::LineLost);
    } else if (device.FlowHeld()) {
        Step(LinkEvent::Suspend);
    }
}

void CSerialLink::LookAtLine() {
    // A stop sender that has the line is its only writer; the program lets it be.
    if (!isOpen() || record->taken)
        return;
    if (!device.CheckLine()) {
        NoteRefusal();
        return;
    }
    if (device.FlowHeld() != (state == LinkState::Held))
        Step(state == LinkState::Held ? LinkEvent::Resume : LinkEvent::Suspend);
    if (state == LinkState::Open && pause.NowNs() >= NextFrameNotBeforeNs())
        Step(LinkEvent::Look);
}

void CSerialLink::UpdateLookInterval() {
    if (!mender)
        return;
    const bool owedHere = isOpen() && MovementLog::State(*record) == MoveState::StopOwed;
    const int interval = owedHere ? kOwedLookIntervalMs : kLookIntervalMs;
    if (interval == lookIntervalMs)
        return;
    lookIntervalMs = interval;
    mender->Watch(interval, [this] { LookAtLine(); });
}

void CSerialLink::ScheduleAttempt() {
    if (!mender)
        return;
    constexpr int kDelays = int(std::size(kHealDelaysMs));
    const int delay = kHealDelaysMs[std::min(attempts, kDelays - 1)];
    ++attempts;
    const int port = lastPort;
    const uint32_t baud = lineBaud;
    mender->Schedule(
        delay,
        // Looked up again at each attempt: a stable name may point at another device now.
        [this, port, baud]() -> LineMender::Attempt {
            const PortTarget target = portName(port);
            const QString line = target.entry.isEmpty() ? target.device : target.entry;
            if (!target.problem.isNone() || line != lineName)
                return [] { return false; };
            SerialDevice* opener = &device;
            const QString name = target.device;
            return [opener, name, baud] { return opener->Open(name, baud); };
        },
        [this](bool opened) { OnAttempt(opened); });
}

void CSerialLink::OnAttempt(bool opened) {
    if (state != LinkState::Lost && state != LinkState::Closing) {
        // Nobody waits for this line any more.
        if (opened)
            device.Close();
        return;
    }
    if (!opened) {
        Step(LinkEvent::OpenFailed);
        return;
    }
    TakeLine(lineBaud);
    Step(LinkEvent::AttemptOpened);
}

bool CSerialLink::SendStopOwedElsewhere(const uint8_t* stop, int length) {
    if (record->taken || !StopOwed())
        return true;
    if (MovementLog::Owes(*record, stop, length))
        return true;
    return SendOwedStop();
}

bool CSerialLink::SendOwedStop() {
    if (!StopOwed())
        return true;
    if (record->taken || inFrame)
        return false;
    uint8_t stop[MovementRecord::kMaxFrame];
    const int length = std::min<int>(record->stopLength, MovementRecord::kMaxFrame);
    std::copy(record->stop, record->stop + length, stop);
    SendFrame(stop, length);
    return !StopOwed();
}

bool CSerialLink::BeginMovement(const uint8_t* stop, int length) {
    if (record->taken)
        return true;
    if (StopOwed() && !MovementLog::Owes(*record, stop, length))
        return false;
    movementBefore = MovementLog::State(*record);
    movementNext = true;
    MovementLog::BeginMovement(*record, stop, length);
    return true;
}

int64_t CSerialLink::NextFrameNotBeforeNs() const {
    int64_t notBefore = 0;
    if (framePauseOwed)
        notBefore = failedAtNs + kFramePauseMs * LineTiming::kNsPerMs;
    if (record->cut)
        notBefore = std::max(notBefore, record->lastByteNs + LineTiming::kCutFramePauseNs);
    return notBefore;
}

void CSerialLink::SettleBeforeFrame() {
    const int64_t wait = NextFrameNotBeforeNs() - pause.NowNs();
    framePauseOwed = false;
    if (wait > 0)
        pause.Sleep(int((wait + LineTiming::kNsPerMs - 1) / LineTiming::kNsPerMs));
}

void CSerialLink::SettleFailedFrame() {
    if (!framePauseOwed)
        return;
    framePauseOwed = false;
    pause.Sleep(kFramePauseMs);
}
