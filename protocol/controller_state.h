#pragma once

#include <array>
#include <cstdint>

// Protocol numbers as the protocol combo box lists them and the profile stores them.
enum Protocol : int32_t { ProtocolOskaDefault = 0, ProtocolPelcoD = 1 };

// Camera types as the camera-type combo box lists them and the profile stores them.
enum CameraType : int32_t { CameraTypeZoom = 0, CameraTypeBd = 1 };

// One buffer shared by every frame of both protocols and never cleared between frames:
// bytes a frame does not rewrite keep what an earlier frame left there. Bytes 11 and 12
// receive the two digits of HexPair; 13 to 15 are unused.
using TxFrame = std::array<uint8_t, 16>;

// The settings in force and the transmit buffer. One instance lives for the whole run;
// everything starts at zero until the panel initialises it.
struct ControllerState {
    int32_t protocol = 0;
    int32_t cameraType = 0;
    int32_t cameraId = 0;  // committed camera address; frames carry its low 8 bits
    int32_t comPort = 0;   // the N of COMn
    uint32_t baudRate = 0;
    int32_t settingsValid = 0;
    TxFrame txFrame{};
};

// The rate a protocol imposes: 9600 for OSKA-DEFAULT, 2400 for PELCO D, 0 for none.
constexpr uint32_t ProtocolBaudRate(int32_t protocol) {
    return protocol == ProtocolOskaDefault ? 9600 : protocol == ProtocolPelcoD ? 2400 : 0;
}
