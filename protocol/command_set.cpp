#include "command_set.h"

#include "camera_id_entry.h"
#include "control_ids.h"
#include "frame_builder.h"
#include "serial/line/serial_link.h"

namespace {

enum class Rule { ByProtocol, SameInBoth, Power, Reset, CameraSelect };

struct KeyRow {
    int controlId;
    Rule rule;
    uint8_t oska[2];   // command characters 3 and 4
    uint8_t pelco[4];  // command 1, command 2, data 1, data 2
    bool stopOnRelease;
};

// The direction keys have no codes of their own: UP and DOWN zoom, LEFT and RIGHT focus.
constexpr KeyRow kKeyRows[] = {
    {ControlId::ZoomIn, Rule::ByProtocol, {'0', '1'}, {0x00, 0x20, 0x00, 0x00}, true},
    {ControlId::ZoomOut, Rule::ByProtocol, {'0', '3'}, {0x00, 0x40, 0x00, 0x00}, true},
    {ControlId::FocusFar, Rule::ByProtocol, {'0', '5'}, {0x00, 0x80, 0x00, 0x00}, true},
    {ControlId::FocusNear, Rule::ByProtocol, {'0', '6'}, {0x01, 0x00, 0x00, 0x00}, true},
    {ControlId::Up, Rule::ByProtocol, {'0', '1'}, {0x00, 0x20, 0x00, 0x00}, true},
    {ControlId::Down, Rule::ByProtocol, {'0', '3'}, {0x00, 0x40, 0x00, 0x00}, true},
    {ControlId::Left, Rule::ByProtocol, {'0', '6'}, {0x01, 0x00, 0x00, 0x00}, true},
    {ControlId::Right, Rule::ByProtocol, {'0', '5'}, {0x00, 0x80, 0x00, 0x00}, true},
    {ControlId::MenuUp, Rule::ByProtocol, {'1', '0'}, {0x00, 0x23, 0x00, 0x5F}, true},
    {ControlId::Set, Rule::SameInBoth, {'0', 'D'}, {}, true},
    {ControlId::Init, Rule::SameInBoth, {'0', 'E'}, {}, false},
    {ControlId::Power, Rule::Power, {}, {}, false},
    {ControlId::Reset, Rule::Reset, {}, {}, false},
    {ControlId::Cam, Rule::CameraSelect, {}, {}, false},
};

// The PC Left and Right arrows send the frames of the on-screen RIGHT and LEFT keys.
struct ArrowRow {
    int virtualKey;
    int sendsRowOf;
};
constexpr ArrowRow kArrowRows[] = {
    {VirtualKey::Up, ControlId::ZoomIn},
    {VirtualKey::Down, ControlId::ZoomOut},
    {VirtualKey::Left, ControlId::FocusFar},
    {VirtualKey::Right, ControlId::FocusNear},
};

const KeyRow* FindRow(int controlId) {
    for (const KeyRow& row : kKeyRows) {
        if (row.controlId == controlId)
            return &row;
    }
    return nullptr;
}

}  // namespace

CommandSet::CommandSet(ControllerState& state, CSerialLink& link, CameraIdEntry& entry)
    : state(state), link(link), entry(entry) {}

FrameResult CommandSet::TransmitFrame() {
    state.txFrame = FrameBuilder::CompleteFrame(state.txFrame, state.protocol, state.cameraId);
    const int length = FrameBuilder::FrameLength(state.protocol);
    return {link.SendFrame(state.txFrame.data(), length), length};
}

void CommandSet::SettleFailedFrame() {
    link.SettleFailedFrame();
}

Notice CommandSet::SendCommand(int a, int b, int c, int d) {
    state.txFrame = FrameBuilder::WriteCommand(state.txFrame, state.protocol, a, b, c, d);
    return TransmitFrame().AsNotice();
}

Notice CommandSet::SendStop() {
    state.txFrame = FrameBuilder::WriteStop(state.txFrame, state.protocol);
    return TransmitFrame().AsNotice();
}

Notice CommandSet::SendReset() {
    state.txFrame = FrameBuilder::WriteReset(state.txFrame);
    return TransmitFrame().AsNotice();
}

Notice CommandSet::SelectCamera() {
    if (!CameraIdEntry::InRange(entry.PendingId()))
        return Notice::CameraIdRange;
    state.txFrame = FrameBuilder::WriteCameraSelect(state.txFrame, entry.PendingId());
    // Addressed to the camera selected so far; the new ID travels in bytes 5 and 6. The
    // ID is committed whether or not the frame got out.
    const Notice sent = TransmitFrame().AsNotice();
    entry.CommitSelected();
    return sent;
}

Notice CommandSet::SendPower() {
    if (state.protocol == ProtocolOskaDefault)
        return SendCommand('0', 'A', 0, 0);
    if (state.protocol != ProtocolPelcoD)
        return Notice::None;
    // The toggle flips after the frame is handed on, whether or not it got out.
    const Notice sent = SendCommand(powerToggle ? 0x88 : 0x08, 0, 0, 0);
    powerToggle = powerToggle ? 0 : 1;
    return sent;
}

Notice CommandSet::SendByProtocol(const uint8_t oska[2], const uint8_t pelco[4]) {
    if (state.protocol == ProtocolOskaDefault)
        return SendCommand(oska[0], oska[1], 0, 0);
    if (state.protocol == ProtocolPelcoD)
        return SendCommand(pelco[0], pelco[1], pelco[2], pelco[3]);
    return Notice::None;
}

Notice CommandSet::RunKeyRow(int controlId) {
    const KeyRow* row = FindRow(controlId);
    if (!row)
        return Notice::None;
    switch (row->rule) {
        case Rule::ByProtocol:
            return SendByProtocol(row->oska, row->pelco);
        case Rule::SameInBoth:
            // The OSKA-DEFAULT characters, under PELCO D too (command 1 = '0').
            return SendCommand(row->oska[0], row->oska[1], 0, 0);
        case Rule::Power:
            return SendPower();
        case Rule::Reset:
            return SendReset();
        case Rule::CameraSelect:
            return SelectCamera();
    }
    return Notice::None;
}

Notice CommandSet::RunArrowRow(int virtualKey) {
    return RunKeyRow(ArrowRowOf(virtualKey));
}

int CommandSet::ArrowRowOf(int virtualKey) {
    for (const ArrowRow& arrow : kArrowRows) {
        if (arrow.virtualKey == virtualKey)
            return arrow.sendsRowOf;
    }
    return 0;
}

bool CommandSet::HasRow(int controlId) {
    return FindRow(controlId) != nullptr;
}

bool CommandSet::IsStopKey(int controlId) {
    const KeyRow* row = FindRow(controlId);
    return row && row->stopOnRelease;
}

bool CommandSet::IsArrowKey(int virtualKey) {
    return virtualKey >= VirtualKey::Left && virtualKey <= VirtualKey::Down;
}
