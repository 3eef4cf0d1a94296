#include "pause.h"

#include <sys/prctl.h>

#include <cstdint>

#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/raw_io.h"

namespace {

// Waking from a sleep costs tens of microseconds on a loaded machine. The pause sleeps
// until this long before its end and watches the clock for the rest.
constexpr int64_t kClockWatchNs = 150000;

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
    const int64_t end = LineClockNs() + ms * LineTiming::kNsPerMs;
    SleepUntilNs(end - kClockWatchNs);
    while (LineClockNs() < end) {
    }
}
