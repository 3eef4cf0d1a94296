#pragma once

#include <csignal>

// The signals a crash ends the program in: the faults, and abort(), which qFatal and
// std::terminate end in. Not on Windows, which has none of them.
inline constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
