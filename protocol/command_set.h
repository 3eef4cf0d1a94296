#pragma once

#include <cstdint>

#include "controller_state.h"

class CSerialLink;
class CameraIdEntry;
class MessageSink;

// What every operator action puts on the line, in both protocols: the rows of the camera
// keys and of the PC arrow keys, the stop, RESET, camera select and the POWER alternation.
class CommandSet {
public:
    CommandSet(ControllerState& state, CSerialLink& link, CameraIdEntry& entry,
               MessageSink& messages);

    // Completes txFrame's command bytes and transmits: under OSKA-DEFAULT a and b are
    // command characters 3 and 4 behind '7' '5'; under PELCO D a to d are command 1,
    // command 2, data 1 and data 2. Only the low 8 bits of each count.
    void SendCommand(int a, int b, int c, int d);
    void SendStop();
    void SendReset();
    // Sends camera select for the typed ID to the current camera, then commits the ID;
    // an ID outside 0..255 shows the range message and sends nothing.
    void SelectCamera();
    void SendPower();

    // Carries out the row of an on-screen key. False when the control has no row here
    // (digits, ENT, CLR, COMMUNICATION SET, or anything else).
    bool RunKeyRow(int controlId);
    // Carries out the row of a PC arrow key (virtual-key code). False for other codes.
    bool RunArrowRow(int virtualKey);

    // The keys whose click, when released, sends the stop.
    static bool IsStopKey(int controlId);
    static bool IsArrowKey(int virtualKey);

    int32_t powerToggle = 0;

private:
    void SendByProtocol(const uint8_t oska[2], const uint8_t pelco[4]);

    ControllerState& state;
    CSerialLink& link;
    CameraIdEntry& entry;
    MessageSink& messages;
};
