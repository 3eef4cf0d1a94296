#pragma once

#include <cstdint>

// The platform's raw line calls for SendOwedBytes, each safe in a crashed process.

// Writes one byte, waiting at most the link's per-byte time-out for room on the line.
bool WriteLineByte(intptr_t line, uint8_t byte);
// Sleeps until the line clock reads ns; returns at once when it is past.
void SleepUntilNs(int64_t ns);
