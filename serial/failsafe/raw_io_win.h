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

// The ports are opened for overlapped I/O (see LocalSerialDevice::Open): every write on one
// is begun with an OVERLAPPED of its writer's and ended by EndPortWrite, so that no writer
// ever waits on a handle another thread is inside, and none waits without a bound.
struct _OVERLAPPED;

// A write the driver was asked to cancel is given this long to end: drivers cancel a
// queued write at once, and this is the scheduler's delay on a loaded machine.
constexpr uint32_t kPortCancelWaitMs = 50;
// A driver's write time-out fires on the system clock's tick (15.6 ms unless raised), so
// the writer's own bound waits one tick past it: the driver ends its own write first, with
// the count of what it sent, wherever it can.
constexpr uint32_t kPortTickMs = 16;

enum class PortWriteEnd {
    Done,    // ended; written says how many bytes the driver took
    Failed,  // ended with error; written still says how many went before it
    Stuck,   // still going even once cancelled: overlapped stays the driver's until it ends
};

// Ends the write begun on port with overlapped (whose event is manual-reset): waits at most
// waitMs, then cancels it (cancelled) and waits at most kPortCancelWaitMs more.
PortWriteEnd EndPortWrite(void* port, _OVERLAPPED* overlapped, uint32_t waitMs, uint32_t& written,
                          uint32_t& error, bool& cancelled);

// Opts this process out of power throttling, where Windows has it: its pauses and writes
// keep their time on a laptop on battery and with its window hidden.
void KeepFullSpeed();
