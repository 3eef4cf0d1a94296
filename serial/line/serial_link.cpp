#include "serial_link.h"

#include <algorithm>
#include <iterator>

#include "line_mender.h"
#include "pause.h"
#include "serial/failsafe/line_guard.h"
#include "serial/failsafe/raw_io.h"
#include "serial_device.h"

CSerialLink::CSerialLink(SerialDevice& device, Pause& pause, PortNamer portName, LineGuard* guard,
                         LineMender* mender)
    : device(device),
      pause(pause),
      portName(std::move(portName)),
      guard(guard),
      mender(mender),
      record(guard ? &guard->Record() : &ownRecord) {
    if (mender)
        mender->Watch(kLookIntervalMs, [this] { LookAtLine(); });
}

CSerialLink::~CSerialLink() {
    StopHealing();
    if (mender)
        mender->Watch(0, nullptr);
}

int CSerialLink::WriteTimeoutMs(uint32_t baud) {
    return baud == 0
               ? 0
               : std::clamp<int>(static_cast<int>(19200 / baud), 1, LineTiming::kMaxByteTimeoutMs);
}

int CSerialLink::OpenPort(int port, uint32_t baud) {
    StopHealing();
    open = false;
    owedStopFailed = false;
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
    const LineMender::Attempt attempt = [this, &target, baud] {
        return device.Open(target.device, baud);
    };
    opening = true;
    closeWanted = false;
    const bool opened = mender ? mender->RunAside(attempt) : attempt();
    opening = false;
    if (opened && closeWanted) {
        device.Close();
        problem = {PortFault::Failed, target.device, QStringLiteral("released while opening")};
        return 0;
    }
    if (!opened) {
        problem = device.LastProblem();
        if (problem.isNone())
            problem.fault = PortFault::Failed;
        if (problem.device.isEmpty())
            problem.device = target.device;
        return 0;
    }
    problem = {};
    const int previousPort = std::exchange(linePort, port);
    lineName = target.entry.isEmpty() ? target.device : target.entry;
    TakeLine(baud);
    // The caller tells of what the opening came to, a line that drops at once included.
    const std::function<void()> watcher = std::exchange(lineChanged, nullptr);
    SettleOwedStop(previousPort);
    lineChanged = watcher;
    if (!open)
        problem = dropProblem;
    return open ? 1 : 0;
}

void CSerialLink::TakeLine(uint32_t baud) {
    writeTimeoutMs = WriteTimeoutMs(baud);
    lineBaud = baud;
    open = true;
    dropProblem = {};
    MovementLog::LineOpened(*record, device.NativeKind());
    if (guard)
        guard->LineOpened(device.NativeHandle());
}

void CSerialLink::SettleOwedStop(int previousPort) {
    abandonedStopPort = 0;
    owedStopFailed = false;
    if (record->taken || !record->running) {
        stopOwed = false;
        return;
    }
    // COM<n> is the line to the cameras, whatever device now stands for it.
    if (previousPort == linePort) {
        owedStopFailed = !SendOwedStop();
        return;
    }
    // A stop is for the camera on the line its movement went out on; another line's
    // camera of that address never moved.
    MovementLog::EndMovement(*record);
    stopOwed = false;
    abandonedStopPort = previousPort;
}

bool CSerialLink::OpenMayWait(int port) const {
    const PortTarget target = portName(port);
    return target.problem.isNone() && device.OpenMayWait(target.device);
}

void CSerialLink::ClosePort() {
    StopHealing();
    if (opening) {
        closeWanted = true;
        return;
    }
    open = false;
    if (guard)
        guard->LineClosed();
    device.Close();
    pause.Sleep(kClosePauseMs);
}

void CSerialLink::StopHealing() {
    if (!healing)
        return;
    healing = false;
    if (mender)
        mender->Cancel();
}

uint32_t CSerialLink::WriteBytes(const uint8_t* buffer, uint32_t count) {
    if (!open)
        return 0;
    const int64_t timeout = int64_t(writeTimeoutMs) * count;
    const uint32_t written =
        device.Write(buffer, count, static_cast<int>(std::min<int64_t>(timeout, INT32_MAX)));
    writeProblem = written == count ? PortProblem() : device.WriteProblem();
    return written;
}

int CSerialLink::SendFrame(const uint8_t* bytes, int length) {
    SettleFailedFrame();
    const bool isStop = std::exchange(stopGoing, false);
    const bool isMovement = std::exchange(movementGoing, false);
    // Once a stop sender has the line (the program is crashing), its bytes are the last and
    // the record is its own.
    if (!record->taken)
        MovementLog::BeginFrame(*record, bytes, length);
    for (int i = 0; i < length; ++i) {
        if (record->taken) {
            framePauseOwed = true;
            return i;
        }
        bool went = false;
        {
            // The record knows whether the byte went before a crash from outside is let in.
            const ByteInHandHold hold;
            MovementLog::BeginByte(*record);
            went = WriteBytes(&bytes[i], 1) == 1;
            if (went)
                MovementLog::ByteSent(*record, LineClockNs());
            else if (isStop)
                MovementLog::StopRefused(*record);
            else
                MovementLog::ByteRefused(*record);
        }
        if (!went) {
            if (isMovement)
                UndoMovement();
            NoteRefusal(isStop);
            return i;
        }
        pause.Sleep(kBytePauseMs);
    }
    if (isStop)
        stopOwed = false;
    pause.Sleep(kFramePauseMs);
    return length;
}

void CSerialLink::NoteRefusal(bool wasStop) {
    if (wasStop)
        stopOwed = true;
    framePauseOwed = true;
    if (open && device.LineLost())
        OnLineLost();
}

void CSerialLink::OnLineLost() {
    dropProblem = device.WriteProblem();
    if (dropProblem.isNone())
        dropProblem = {PortFault::NoSuchDevice, lineName, QString()};
    // Let go through the same path as a close, so that the guardian and the crash handler
    // let go of it too; no pause: the first attempt waits longer than that.
    open = false;
    if (guard)
        guard->LineClosed();
    device.Close();
    healing = mender != nullptr;
    healAttempts = 0;
    if (healing)
        ScheduleHeal();
    if (lineChanged)
        lineChanged();
}

void CSerialLink::LookAtLine() {
    // A stop sender that has the line is its only writer; the program lets it be.
    if (!open || opening || record->taken)
        return;
    if (!device.CheckLine())
        OnLineLost();
}

void CSerialLink::ScheduleHeal() {
    constexpr int kDelays = int(std::size(kHealDelaysMs));
    const int delay = kHealDelaysMs[std::min(healAttempts, kDelays - 1)];
    ++healAttempts;
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
        [this](bool opened) { OnHealAttempt(opened); });
}

void CSerialLink::OnHealAttempt(bool opened) {
    if (!healing)
        return;
    if (!opened) {
        ScheduleHeal();
        return;
    }
    healing = false;
    const std::function<void()> watcher = std::exchange(lineChanged, nullptr);
    TakeLine(lineBaud);
    if (record->running && !record->taken)
        SendOwedStop();
    lineChanged = watcher;
    if (lineChanged)
        lineChanged();
}

bool CSerialLink::SendStopOwedElsewhere(const uint8_t* stop, int length) {
    if (record->taken || !record->running)
        return true;
    if (record->stopLength == length && std::equal(stop, stop + length, record->stop))
        return true;
    return SendOwedStop();
}

bool CSerialLink::SendOwedStop() {
    uint8_t stop[MovementRecord::kMaxFrame];
    const int length = std::min<int>(record->stopLength, MovementRecord::kMaxFrame);
    std::copy(record->stop, record->stop + length, stop);
    EndMovement();
    return SendFrame(stop, length) == length;
}

void CSerialLink::SettleFailedFrame() {
    if (!framePauseOwed)
        return;
    framePauseOwed = false;
    pause.Sleep(kFramePauseMs);
}

void CSerialLink::BeginMovement(const uint8_t* stop, int length) {
    if (record->taken)
        return;
    // A new movement's stop takes the place of one still owed once its frame has gone out
    // whole; until then the one owed stays.
    StartMovement(stop, length);
}

void CSerialLink::StartMovement(const uint8_t* stop, int length) {
    wasRunning = record->running != 0;
    wasStopOwed = std::exchange(stopOwed, false);
    wasStopLength = record->stopLength;
    std::copy(record->stop, record->stop + MovementRecord::kMaxFrame, wasStop);
    movementGoing = true;
    MovementLog::BeginMovement(*record, stop, length);
}

void CSerialLink::UndoMovement() {
    // A movement frame that did not go out whole started nothing: the record owes what it
    // owed before.
    if (wasRunning)
        MovementLog::BeginMovement(*record, wasStop, wasStopLength);
    else
        MovementLog::EndMovement(*record);
    stopOwed = wasStopOwed;
}

void CSerialLink::EndMovement() {
    if (record->taken)
        return;
    stopGoing = record->running != 0;
    MovementLog::EndMovement(*record);
}
