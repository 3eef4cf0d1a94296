#pragma once

#include <cstdint>

#include "serial/movement_record.h"

// What the program and its guardian share on Windows, in a file mapping.
struct GuardianShare {
    MovementRecord record;
    volatile int64_t guardianLine;  // the open port as a HANDLE valid in the guardian; 0: none
};

// The guardian's program file, beside velmor.exe. Its command line: the mapping's handle
// and the program's process handle, both inherited, in decimal.
constexpr wchar_t kGuardianFile[] = L"velmor-guard.exe";
