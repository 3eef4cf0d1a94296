#include "command_set.h"

#include <QString>
#include <iterator>

#include "control_ids.h"
#include "message_sink.h"
#include "panel/camera_id_entry.h"
#include "serial/serial_link.h"

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

CommandSet::CommandSet(ControllerState& state, CSerialLink& link, CameraIdEntry& entry,
                       MessageSink& messages)
    : state(state), link(link), entry(entry), messages(messages) {}

void CommandSet::SendCommand(int a, int b, int c, int d) {
    auto& frame = state.txFrame;
    if (state.protocol == ProtocolOskaDefault) {
        frame[3] = '7';
        frame[4] = '5';
        frame[5] = static_cast<uint8_t>(a);
        frame[6] = static_cast<uint8_t>(b);
        frame[7] = '0';
        frame[8] = '0';
    } else {
        frame[2] = static_cast<uint8_t>(a);
        frame[3] = static_cast<uint8_t>(b);
        frame[4] = static_cast<uint8_t>(c);
        frame[5] = static_cast<uint8_t>(d);
    }
    link.TransmitFrame();
}

void CommandSet::SendStop() {
    auto& frame = state.txFrame;
    if (state.protocol == ProtocolOskaDefault) {
        const uint8_t stop[] = {'7', '5', '0', '9', '0', '0'};
        std::copy(std::begin(stop), std::end(stop), frame.begin() + 3);
    } else {
        std::fill(frame.begin() + 2, frame.begin() + 6, uint8_t{0});
    }
    link.TransmitFrame();
}

void CommandSet::SendReset() {
    const uint8_t reset[] = {'7', '1', '0', '0', '0', '0'};
    std::copy(std::begin(reset), std::end(reset), state.txFrame.begin() + 3);
    link.TransmitFrame();
}

void CommandSet::SelectCamera() {
    if (!CameraIdEntry::InRange(entry.pendingId)) {
        messages.ShowMessage(QString::fromLatin1(kCameraIdRangeText));
        return;
    }
    auto& frame = state.txFrame;
    frame[3] = '7';
    frame[4] = '4';
    link.HexPair(entry.pendingId);
    frame[5] = frame[11];
    frame[6] = frame[12];
    frame[7] = '0';
    frame[8] = '0';
    // Addressed to the camera selected so far; the new ID travels in bytes 5 and 6.
    link.TransmitFrame();
    entry.CommitSelected();
}

void CommandSet::SendPower() {
    if (state.protocol == ProtocolOskaDefault) {
        SendCommand('0', 'A', 0, 0);
    } else if (state.protocol == ProtocolPelcoD) {
        // The toggle flips after the frame is handed on, whether or not it got out.
        SendCommand(powerToggle ? 0x88 : 0x08, 0, 0, 0);
        powerToggle = powerToggle ? 0 : 1;
    }
}

void CommandSet::SendByProtocol(const uint8_t oska[2], const uint8_t pelco[4]) {
    if (state.protocol == ProtocolOskaDefault)
        SendCommand(oska[0], oska[1], 0, 0);
    else if (state.protocol == ProtocolPelcoD)
        SendCommand(pelco[0], pelco[1], pelco[2], pelco[3]);
}

bool CommandSet::RunKeyRow(int controlId) {
    const KeyRow* row = FindRow(controlId);
    if (!row)
        return false;
    switch (row->rule) {
        case Rule::ByProtocol:
            SendByProtocol(row->oska, row->pelco);
            break;
        case Rule::SameInBoth:
            // The OSKA-DEFAULT characters, under PELCO D too (command 1 = '0').
            SendCommand(row->oska[0], row->oska[1], 0, 0);
            break;
        case Rule::Power:
            SendPower();
            break;
        case Rule::Reset:
            SendReset();
            break;
        case Rule::CameraSelect:
            SelectCamera();
            break;
    }
    return true;
}

bool CommandSet::RunArrowRow(int virtualKey) {
    for (const ArrowRow& arrow : kArrowRows) {
        if (arrow.virtualKey == virtualKey)
            return RunKeyRow(arrow.sendsRowOf);
    }
    return false;
}

bool CommandSet::IsStopKey(int controlId) {
    const KeyRow* row = FindRow(controlId);
    return row && row->stopOnRelease;
}

bool CommandSet::IsArrowKey(int virtualKey) {
    return virtualKey >= VirtualKey::Left && virtualKey <= VirtualKey::Down;
}
