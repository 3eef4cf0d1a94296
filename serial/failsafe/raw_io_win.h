#pragma once

#include <cstdint>

// The pause timer on Windows: a high-resolution waitable timer, not the 15.6 ms tick of
// Sleep. A kernel object, so safe to make and use in a process whose heap may be broken.

// A new timer, or null where the system cannot make one.
void* CreatePauseTimer();
void ClosePauseTimer(void* timer);
// Waits ns on timer; without one, with Sleep rounded up to whole milliseconds.
void WaitOnPauseTimer(void* timer, int64_t ns);
