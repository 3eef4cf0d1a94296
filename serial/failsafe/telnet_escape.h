#pragma once

#include <cstdint>

// Data bytes as Telnet carries them: 0xFF (IAC) doubled, every other byte as it is.
namespace TelnetEscape {

constexpr uint8_t kIac = 0xFF;

// How many bytes the first count data bytes take on the wire.
int WireLength(const uint8_t* data, int count);
// Writes the count data bytes as Telnet carries them into out, which has room for twice
// count; returns how many bytes it wrote.
int Escape(const uint8_t* data, int count, uint8_t* out);
// How many of the count data bytes went out whole in the first sent bytes on the wire.
int WholeBytes(const uint8_t* data, int count, int sent);

}  // namespace TelnetEscape
