#pragma once

#include "controller_state.h"

// The bytes of every frame, built without a line: each function takes the buffer as the
// frames before left it and returns it with its own bytes written; the bytes it does not
// write keep their old values, as the line's peers have always seen them.
namespace FrameBuilder {

constexpr int kOskaLength = 11;
constexpr int kPelcoLength = 7;
constexpr int kHexHigh = 11;
constexpr int kHexLow = 12;

// The upper-case hexadecimal digit of a nibble, 0 to 15.
uint8_t HexDigit(int nibble);
// The two digits of the low 8 bits of value into bytes 11 (high) and 12 (low).
TxFrame HexPair(TxFrame frame, int value);

// The command bytes of a command: under OSKA-DEFAULT '7' '5' a b '0' '0' in bytes 3 to 8
// (c and d unused); under any other protocol a to d in bytes 2 to 5. Only the low 8 bits
// of each argument count.
TxFrame WriteCommand(TxFrame frame, int32_t protocol, int a, int b, int c, int d);
// The stop: '7' '5' '0' '9' '0' '0' under OSKA-DEFAULT, four zero bytes otherwise.
TxFrame WriteStop(TxFrame frame, int32_t protocol);
// RESET, an OSKA-DEFAULT command only: '7' '1' '0' '0' '0' '0'.
TxFrame WriteReset(TxFrame frame);
// Camera select for newId: '7' '4', its two hex digits, '0' '0'.
TxFrame WriteCameraSelect(TxFrame frame, int newId);

// Start, camera address and checksum around the command bytes: '*', two address digits
// and two checksum digits (the sum of bytes 0 to 8) under OSKA-DEFAULT; 0xFF, the address
// and the sum of bytes 1 to 5 under any other protocol.
TxFrame CompleteFrame(TxFrame frame, int32_t protocol, int32_t cameraId);
// The bytes of a complete frame that go on the line.
int FrameLength(int32_t protocol);

}  // namespace FrameBuilder
