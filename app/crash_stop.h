#pragma once

#include <cstdint>

#include "serial/movement_record.h"

// The crash handler: on a fault or an abort it finishes the frame in flight and sends the
// stop while a movement runs, from record on the open line, says so in one line on
// standard error, and lets the crash go on as it would have (the core dump or the error
// report, and the exit status).
void ArmCrashStop(MovementRecord& record);
// The program's open line, or -1 while none is open.
void SetCrashStopLine(intptr_t line);
