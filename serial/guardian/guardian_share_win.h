#pragma once

#include <winsock2.h>

#include <cstdint>

#include "serial/failsafe/movement_record.h"

// What the program and its guardian share on Windows, in a file mapping.
struct GuardianShare {
    MovementRecord record;
    volatile int64_t guardianLine;  // the open port as a HANDLE valid in the guardian; 0: none
    // A network line is a socket, which only Winsock may hand to another process: the
    // program describes it here for the guardian and sets socketChange; the guardian takes
    // it (or lets the one it holds go), clears socketChange and sets the settled event.
    WSAPROTOCOL_INFOW socketInfo;
    volatile LONG socketChange;
};

// socketChange: a socket is offered in socketInfo, or the guardian's is to go.
constexpr LONG kSocketSettled = 0;
constexpr LONG kSocketOffered = 1;
constexpr LONG kSocketDropped = 2;

// The guardian's program file, beside velmor.exe. Its command line, in decimal: the
// mapping's handle, the program's process handle, and the two events, "changed" (set by
// the program) and "settled" (set by the guardian), all inherited.
constexpr wchar_t kGuardianFile[] = L"velmor-guard.exe";
