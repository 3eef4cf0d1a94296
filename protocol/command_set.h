#pragma once

#include <cstdint>

#include "controller_state.h"
#include "notice.h"

class CSerialLink;
class CameraIdEntry;

// What every operator action puts on the line, in both protocols: the rows of the camera
// keys and of the PC arrow keys, the stop, RESET, camera select and the POWER alternation.
// Each action sends at most one frame and says what became of it.
class CommandSet {
public:
    CommandSet(ControllerState& state, CSerialLink& link, CameraIdEntry& entry);

    // Completes txFrame's command bytes and transmits: under OSKA-DEFAULT a and b are
    // command characters 3 and 4 behind '7' '5'; under PELCO D a to d are command 1,
    // command 2, data 1 and data 2. Only the low 8 bits of each count.
    Notice SendCommand(int a, int b, int c, int d);
    Notice SendStop();
    Notice SendReset();
    // Sends camera select for the typed ID to the current camera, then commits the ID;
    // an ID outside 0..255 sends nothing and commits nothing.
    Notice SelectCamera();
    Notice SendPower();

    // Completes the frame in txFrame (start, camera address, checksum) for the current
    // protocol and sends it byte by byte with the line's pauses.
    FrameResult TransmitFrame();
    // After the operator has been told of a failed frame: the frame's closing pause.
    void SettleFailedFrame();

    // Carries out the row of an on-screen key; nothing for a control without one.
    Notice RunKeyRow(int controlId);
    // Carries out the row of a PC arrow key (virtual-key code); nothing for other codes.
    Notice RunArrowRow(int virtualKey);

    // The controls with a row here: the camera keys, CAM and RESET; not the digits, ENT,
    // CLR or COMMUNICATION SET.
    static bool HasRow(int controlId);
    // The keys whose click, when released, sends the stop.
    static bool IsStopKey(int controlId);
    static bool IsArrowKey(int virtualKey);
    // The on-screen key whose row a PC arrow key sends; 0 for other codes.
    static int ArrowRowOf(int virtualKey);

    // The POWER alternation under PELCO D: 0 sends 0x08 next, 1 sends 0x88.
    int32_t PowerToggle() const { return powerToggle; }
    void ResetPowerToggle() { powerToggle = 0; }

private:
    Notice SendByProtocol(const uint8_t oska[2], const uint8_t pelco[4]);

    ControllerState& state;
    CSerialLink& link;
    CameraIdEntry& entry;
    int32_t powerToggle = 0;
};
