#pragma once

#include <cstdint>

#include "movement_record.h"

// The platform's raw line calls for SendOwedBytes, each safe in a crashed process.

// Writes count bytes (one data byte as the line carries it), waiting at most the link's
// per-byte time-out for room on the line; false unless all of them went.
bool WriteLineBytes(intptr_t line, LineKind kind, const uint8_t* bytes, int count);
// Sleeps until the line clock reads ns; returns at once when it is past.
void SleepUntilNs(int64_t ns);
