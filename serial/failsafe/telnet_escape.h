#pragma once

#include <cstdint>

// Data bytes as Telnet carries them: 0xFF (IAC) doubled; where the sender's side is not in
// binary mode, a CR is followed by NUL (a bare CR would begin an end of line); every other
// byte as it is. The program's own Telnet line and the stop senders both write through here.
namespace TelnetEscape {

constexpr uint8_t kIac = 0xFF;
constexpr uint8_t kCr = 0x0D;

// How many bytes the first count data bytes take on the wire.
int WireLength(const uint8_t* data, int count, bool binary);
// Writes the count data bytes as Telnet carries them into out, which has room for twice
// count; returns how many bytes it wrote.
int Escape(const uint8_t* data, int count, uint8_t* out, bool binary);
// How many of the count data bytes went out whole in the first sent bytes on the wire.
int WholeBytes(const uint8_t* data, int count, int sent, bool binary);

}  // namespace TelnetEscape
