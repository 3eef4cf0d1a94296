#include "serial_link.h"

#include <algorithm>

#include "pause.h"
#include "serial/failsafe/line_guard.h"
#include "serial/failsafe/raw_io.h"
#include "serial_device.h"

CSerialLink::CSerialLink(SerialDevice& device, Pause& pause, PortNamer portName, LineGuard* guard)
    : device(device),
      pause(pause),
      portName(std::move(portName)),
      guard(guard),
      record(guard ? &guard->Record() : &ownRecord) {}

int CSerialLink::WriteTimeoutMs(uint32_t baud) {
    return baud == 0
               ? 0
               : std::clamp<int>(static_cast<int>(19200 / baud), 1, LineTiming::kMaxByteTimeoutMs);
}

int CSerialLink::OpenPort(int port, uint32_t baud) {
    open = false;
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
    if (!device.Open(target.device, baud)) {
        problem = device.LastProblem();
        if (problem.isNone())
            problem.fault = PortFault::Failed;
        if (problem.device.isEmpty())
            problem.device = target.device;
        return 0;
    }
    problem = {};
    writeTimeoutMs = WriteTimeoutMs(baud);
    open = true;
    MovementLog::LineOpened(*record, device.NativeKind());
    if (guard)
        guard->LineOpened(device.NativeHandle());
    return 1;
}

bool CSerialLink::OpenMayWait(int port) const {
    const PortTarget target = portName(port);
    return target.problem.isNone() && device.OpenMayWait(target.device);
}

void CSerialLink::ClosePort() {
    open = false;
    if (guard)
        guard->LineClosed();
    device.Close();
    pause.Sleep(kClosePauseMs);
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
    // Once a stop sender has the line (the program is crashing), its bytes are the last and
    // the record is its own.
    if (!record->taken)
        MovementLog::BeginFrame(*record, bytes, length);
    for (int i = 0; i < length; ++i) {
        if (record->taken) {
            framePauseOwed = true;
            return i;
        }
        MovementLog::BeginByte(*record);
        if (WriteBytes(&bytes[i], 1) != 1) {
            MovementLog::ByteRefused(*record);
            framePauseOwed = true;
            return i;
        }
        MovementLog::ByteSent(*record, LineClockNs());
        pause.Sleep(kBytePauseMs);
    }
    pause.Sleep(kFramePauseMs);
    return length;
}

void CSerialLink::SettleFailedFrame() {
    if (!framePauseOwed)
        return;
    framePauseOwed = false;
    pause.Sleep(kFramePauseMs);
}

void CSerialLink::BeginMovement(const uint8_t* stop, int length) {
    if (!record->taken)
        MovementLog::BeginMovement(*record, stop, length);
}

void CSerialLink::EndMovement() {
    if (!record->taken)
        MovementLog::EndMovement(*record);
}
