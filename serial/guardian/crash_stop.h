#pragma once

#include <cstdint>

#include "serial/failsafe/movement_record.h"

// The crash handler: on a fault or an abort it finishes the frame in flight and sends the
// stop while a movement runs, from record on the open line, says so in one line on
// standard error, and lets the crash go on as it would have (the core dump or the error
// report, and the exit status).
void ArmCrashStop(MovementRecord& record);
// The program's open line, or -1 while none is open.
void SetCrashStopLine(intptr_t line);

// What the crash handler does, on any platform, once per run: sends what the record owes on
// line (none when -1), and says in one line on standard error what became of the moving
// camera. how names the crash ("SIGSEGV", "an unhandled exception").
void SendCrashStop(const char* how, MovementRecord& record, intptr_t line);
