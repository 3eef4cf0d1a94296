#pragma once

#include <winsock2.h>

#include <windows.h>

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
    // The program's round of each change, and the round the guardian last settled: the
    // program takes only the answer to its own round, never a late one to an earlier round.
    volatile LONG changeRound;
    volatile LONG settledRound;
    // Written by the launcher before it ends: the guardian's process id, and whether the
    // guardian is still in a job (one that allows no breakaway).
    volatile LONG guardianPid;
    volatile LONG guardianInJob;
};

// socketChange: a socket is offered in socketInfo, or the guardian's is to go.
constexpr LONG kSocketSettled = 0;
constexpr LONG kSocketOffered = 1;
constexpr LONG kSocketDropped = 2;

// The guardian's program file, beside velmor.exe. Its command line, in decimal: the
// mapping's handle, the program's process handle, and the two events, "changed" (set by
// the program) and "settled" (set by the guardian), all inherited. The program starts it
// with kLaunchWord after them: that copy is only the launcher, which starts the guardian
// with the same handles outside the program's job and process tree and ends.
constexpr wchar_t kGuardianFile[] = L"velmor-guard.exe";
constexpr wchar_t kLaunchWord[] = L"launch";
constexpr int kHandedCount = 4;

// Starts command (program's own path in program) with only the handles in handed
// inherited, and flags; false with the system's error left for GetLastError.
bool StartWithHandles(const wchar_t* program, wchar_t* command, HANDLE* handed, int count,
                      DWORD flags, PROCESS_INFORMATION& process);
