#include "pause.h"

#include <sys/prctl.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

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
    // The default 50 us timer slack lets every pause run long; ask for 1 ns. Slack
    // belongs to the thread, so it is set on the thread that pauses.
    static thread_local bool slackSet = false;
    if (!slackSet) {
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        slackSet = true;
    }
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
