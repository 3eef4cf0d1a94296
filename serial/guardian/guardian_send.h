#pragma once

#include <cstdint>

#include "serial/failsafe/movement_record.h"

// What the guardian does on any platform once the program is gone and has left it line (a
// file descriptor; a HANDLE or a SOCKET on Windows): sends what the record owes and, while
// the line took that only in part or not at all (a stalled or held line), tries again until
// it goes or the time is up. Then says in one line on standard error what became of it;
// nothing when nothing was owed.
void SendOwedStop(intptr_t line, MovementRecord& record);
