#include "pause.h"

#include <windows.h>

// Windows 10 1803 and later; MinGW-w64's headers do not name it yet.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

// Waking from the timer runs late by a tenth of a millisecond or more (under Wine, its own
// timer's cost). The pause waits until this long before its end and watches the clock for
// the rest.
constexpr LONGLONG kClockWatchUs = 250;

// One high-resolution waitable timer per pausing thread, made on its first pause and kept:
// making one for every 2 ms pause costs more than the overshoot it saves.
class PauseTimer {
public:
    PauseTimer()
        : handle(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                        TIMER_ALL_ACCESS)) {}
    ~PauseTimer() {
        if (handle)
            CloseHandle(handle);
    }
    PauseTimer(const PauseTimer&) = delete;
    PauseTimer& operator=(const PauseTimer&) = delete;
    HANDLE handle;
};

LONGLONG NowUs() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart / frequency * 1000000 + now.QuadPart % frequency * 1000000 / frequency;
}

}  // namespace

void PrecisePause::Sleep(int ms) {
    if (ms <= 0)
        return;
    static thread_local PauseTimer timer;
    // Not the 15.6 ms scheduler tick of ::Sleep, unless no such timer can be had.
    if (!timer.handle) {
        ::Sleep(static_cast<DWORD>(ms));
        return;
    }
    const LONGLONG end = NowUs() + LONGLONG(ms) * 1000;
    const LONGLONG waitUs = LONGLONG(ms) * 1000 - kClockWatchUs;
    LARGE_INTEGER due;
    due.QuadPart = -waitUs * 10;  // relative, in 100 ns units
    if (!SetWaitableTimer(timer.handle, &due, 0, nullptr, nullptr, FALSE)) {
        ::Sleep(static_cast<DWORD>(ms));
        return;
    }
    WaitForSingleObject(timer.handle, INFINITE);
    while (NowUs() < end) {
    }
}
