#include "pause.h"

#include <algorithm>

#include <windows.h>

// Windows 10 1803 and later; MinGW-w64's headers do not name it yet.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

// Waking from the timer runs late, by tens of microseconds on Windows and by half a
// millisecond under Wine. The pause wakes early by what waking has lately cost and watches
// the clock for the rest: the margin rises at once to a late wake and falls slowly back,
// bounded so that the clock is never watched for long.
constexpr LONGLONG kMinMarginUs = 100;
constexpr LONGLONG kMaxMarginUs = 1000;
constexpr LONGLONG kMarginSlackUs = 50;

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
    static thread_local LONGLONG marginUs = kMinMarginUs;
    const LONGLONG start = NowUs();
    const LONGLONG end = start + LONGLONG(ms) * 1000;
    const LONGLONG waitUs = std::max<LONGLONG>(LONGLONG(ms) * 1000 - marginUs, 0);
    LARGE_INTEGER due;
    due.QuadPart = -waitUs * 10;  // relative, in 100 ns units
    if (!SetWaitableTimer(timer.handle, &due, 0, nullptr, nullptr, FALSE)) {
        ::Sleep(static_cast<DWORD>(ms));
        return;
    }
    WaitForSingleObject(timer.handle, INFINITE);
    const LONGLONG lateUs = NowUs() - (start + waitUs) + kMarginSlackUs;
    marginUs = lateUs > marginUs ? lateUs : marginUs - (marginUs - lateUs) / 16;
    marginUs = std::clamp(marginUs, kMinMarginUs, kMaxMarginUs);
    while (NowUs() < end) {
    }
}
