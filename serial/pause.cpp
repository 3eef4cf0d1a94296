#include "pause.h"

#include <QtGlobal>

#if defined(Q_OS_WIN)
#include <windows.h>
// Windows 10 1803 and later; MinGW-w64's headers do not name it yet.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
#else
#include <cerrno>
#include <cstdint>
#include <ctime>
#if defined(Q_OS_LINUX)
#include <sys/prctl.h>
#endif
#endif

#if defined(Q_OS_WIN)

void PrecisePause::Sleep(int ms) {
    // A high-resolution waitable timer, not the 15.6 ms scheduler tick of ::Sleep.
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (!timer) {
        ::Sleep(static_cast<DWORD>(ms));
        return;
    }
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;  // relative, in 100 ns units
    if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE))
        WaitForSingleObject(timer, INFINITE);
    else
        ::Sleep(static_cast<DWORD>(ms));
    CloseHandle(timer);
}

#else

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
// Waking from a sleep costs tens of microseconds on a loaded machine. The pause sleeps
// until this long before its end and watches the clock for the rest.
constexpr int64_t kClockWatchNs = 150000;

int64_t MonotonicNs() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

}  // namespace

void PrecisePause::Sleep(int ms) {
    if (ms <= 0)
        return;
#if defined(Q_OS_LINUX)
    // The default 50 us timer slack lets every pause run long; ask for 1 ns. Slack
    // belongs to the thread, so it is set on the thread that pauses.
    static thread_local bool slackSet = false;
    if (!slackSet) {
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        slackSet = true;
    }
#endif
    const int64_t end = MonotonicNs() + int64_t(ms) * 1000000;
    const int64_t wake = end - kClockWatchNs;
    struct timespec wakeAt {};
    wakeAt.tv_sec = static_cast<time_t>(wake / kNsPerSecond);
    wakeAt.tv_nsec = static_cast<long>(wake % kNsPerSecond);
    // An absolute deadline: a signal that interrupts the sleep never shortens it.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wakeAt, nullptr) == EINTR) {
    }
    while (MonotonicNs() < end) {
    }
}

#endif
