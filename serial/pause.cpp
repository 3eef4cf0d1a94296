#include "pause.h"

#include <QtGlobal>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#if defined(Q_OS_LINUX)
#include <sys/prctl.h>
#endif
#endif

PrecisePause::PrecisePause() {
#if defined(Q_OS_LINUX)
    // The default 50 us timer slack lets every pause run long; 1 ns asks for none.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

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

void PrecisePause::Sleep(int ms) {
    if (ms <= 0)
        return;
    struct timespec deadline {};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    // An absolute deadline: a signal that interrupts the sleep never shortens it.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

#endif
