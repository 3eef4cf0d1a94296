#pragma once

#include <cstdint>

// The pause timer on Windows: a high-resolution waitable timer, not the 15.6 ms tick of
// Sleep. A kernel object, so safe to make and use in a process whose heap may be broken.

// A new timer, or null where the system cannot make one. Where no high-resolution timer can
// be made, a plain one, with the system timer's resolution raised to 1 ms for the run.
void* CreatePauseTimer();
// Whether this process had to raise the system timer's resolution for its pauses.
bool PauseTimerRaised();
void ClosePauseTimer(void* timer);
// Waits ns on timer; without one, with Sleep rounded up to whole milliseconds.
void WaitOnPauseTimer(void* timer, int64_t ns);

// Opts this process out of power throttling, where Windows has it: its pauses and writes
// keep their time on a laptop on battery and with its window hidden.
void KeepFullSpeed();
