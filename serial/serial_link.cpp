#include "serial_link.h"

#include <algorithm>

#include "pause.h"
#include "protocol/message_sink.h"
#include "serial_device.h"

namespace {
constexpr int kOskaFrameLength = 11;
constexpr int kPelcoFrameLength = 7;
constexpr int kHexHigh = 11;
constexpr int kHexLow = 12;
}  // namespace

CSerialLink::CSerialLink(ControllerState& state, SerialDevice& device, Pause& pause,
                         MessageSink& messages, PortNamer portName)
    : state(state),
      device(device),
      pause(pause),
      messages(messages),
      portName(std::move(portName)) {}

int CSerialLink::WriteTimeoutMs(uint32_t baud) {
    // Bounded by the slowest supported rate, 2400: a hand-edited rate of 1 would
    // otherwise let one stalled byte hold the window for 19 s.
    return baud == 0 ? 0 : std::clamp<int>(static_cast<int>(19200 / baud), 1, kMaxByteTimeoutMs);
}

int CSerialLink::OpenPort(int port, uint32_t baud) {
    open = false;
    lastPort = port;
    const PortTarget target = portName(port);
    problem = target.problem;
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
    return 1;
}

QString CSerialLink::FailureReason() const {
    return DescribeProblem(lastPort, problem);
}

int CSerialLink::OpenWithSettings() {
    return OpenPort(state.comPort, state.baudRate);
}

void CSerialLink::ClosePort() {
    open = false;
    device.Close();
    pause.Sleep(kClosePauseMs);
}

uint32_t CSerialLink::WriteBytes(const uint8_t* buffer, uint32_t count) {
    if (!open)
        return 0;
    const int64_t timeout = int64_t(writeTimeoutMs) * count;
    return device.Write(buffer, count, static_cast<int>(std::min<int64_t>(timeout, INT32_MAX)));
}

uint8_t CSerialLink::HexDigit(int nibble) {
    return static_cast<uint8_t>(nibble < 10 ? nibble + 0x30 : nibble + 0x37);
}

void CSerialLink::HexPair(int value) {
    const int byte = value & 0xFF;
    state.txFrame[kHexLow] = HexDigit(byte & 0x0F);
    state.txFrame[kHexHigh] = HexDigit(byte >> 4);
}

void CSerialLink::TransmitFrame() {
    auto& frame = state.txFrame;
    if (state.protocol == ProtocolOskaDefault) {
        frame[0] = '*';
        HexPair(state.cameraId);
        frame[1] = frame[kHexHigh];
        frame[2] = frame[kHexLow];
        int sum = 0;
        for (int i = 0; i <= 8; ++i) sum += frame[i];
        HexPair(sum);
        frame[9] = frame[kHexHigh];
        frame[10] = frame[kHexLow];
        SendFrameBytes(kOskaFrameLength);
    } else {
        frame[0] = 0xFF;
        frame[1] = static_cast<uint8_t>(state.cameraId & 0xFF);
        int sum = 0;  // the sync byte is not part of the checksum
        for (int i = 1; i <= 5; ++i) sum += frame[i];
        frame[6] = static_cast<uint8_t>(sum & 0xFF);
        SendFrameBytes(kPelcoFrameLength);
    }
}

void CSerialLink::SendFrameBytes(int length) {
    for (int i = 0; i < length; ++i) {
        if (WriteBytes(&state.txFrame[i], 1) != 1) {
            messages.ShowMessage(QString::fromLatin1(kTransferErrorText));
            pause.Sleep(kFramePauseMs);
            return;
        }
        pause.Sleep(kBytePauseMs);
    }
    pause.Sleep(kFramePauseMs);
}
