#include "pause.h"

#include <algorithm>
#include <cstdint>

#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/raw_io.h"
#include "serial/failsafe/raw_io_win.h"

namespace {

// Waking from the timer runs late, by tens of microseconds on Windows and by half a
// millisecond under Wine. The pause wakes early by what waking has lately cost and watches
// the clock for the rest: the margin rises at once to a late wake and falls slowly back,
// bounded so that the clock is never watched for long.
constexpr int64_t kMinMarginNs = 100000;
constexpr int64_t kMaxMarginNs = 1000000;
constexpr int64_t kMarginSlackNs = 50000;

// One timer per pausing thread, made on its first pause and kept: making one for every
// 2 ms pause costs more than the overshoot it saves.
class PauseTimer {
public:
    PauseTimer() : handle(CreatePauseTimer()) {}
    ~PauseTimer() { ClosePauseTimer(handle); }
    PauseTimer(const PauseTimer&) = delete;
    PauseTimer& operator=(const PauseTimer&) = delete;
    void* handle;
};

}  // namespace

void PrecisePause::Sleep(int ms) {
    if (ms <= 0)
        return;
    static thread_local PauseTimer timer;
    static thread_local int64_t marginNs = kMinMarginNs;
    const int64_t start = LineClockNs();
    const int64_t end = start + ms * LineTiming::kNsPerMs;
    const int64_t waitNs = std::max<int64_t>(ms * LineTiming::kNsPerMs - marginNs, 0);
    WaitOnPauseTimer(timer.handle, waitNs);
    const int64_t lateNs = LineClockNs() - (start + waitNs) + kMarginSlackNs;
    marginNs = lateNs > marginNs ? lateNs : marginNs - (marginNs - lateNs) / 16;
    marginNs = std::clamp(marginNs, kMinMarginNs, kMaxMarginNs);
    while (LineClockNs() < end) {
    }
}
