#include "guardian_send.h"

#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/raw_io.h"
#include "serial/failsafe/stop_sender.h"

namespace {

// How often a line that refused the stop is tried again: a stalled serial server or a full
// queue frees up without notice, and two frame pauses between tries put the stop at most
// that long after the line frees, at no cost to a machine the program has left.
constexpr int64_t kRetryEveryMs = 2 * LineTiming::kFramePauseMs;
// How long the guardian keeps trying: a server's flow-control hold or a waking adapter lasts
// well under a second, a loaded machine's delays on top of that a second more; past it the
// port is let go, so that a program started again can have it.
constexpr int64_t kRetryForMs = 3000;

}  // namespace

void SendOwedStop(intptr_t line, MovementRecord& record) {
    const bool moving = MovementLog::OwesStop(record);
    const int64_t giveUpNs = LineClockNs() + kRetryForMs * LineTiming::kNsPerMs;
    // Each try paces its bytes after the last that went, as the line does.
    int sent = SendOwedBytes(line, record);
    while (MovementLog::OwedBytes(record).count > 0 && LineClockNs() < giveUpNs) {
        SleepUntilNs(LineClockNs() + kRetryEveryMs * LineTiming::kNsPerMs);
        sent += SendOwedBytes(line, record);
    }
    const bool owed = MovementLog::OwedBytes(record).count > 0;
    static_assert(kRetryForMs == 3000, "the words below give the time");
    if (owed)
        SayOnStandardError(
            "velmor: the program is gone and the line took no stop within 3 s: the camera may "
            "still be moving.\n");
    else if (moving)
        SayOnStandardError(
            "velmor: the program is gone while a camera moved: the guardian sent the stop.\n");
    else if (sent > 0)
        SayOnStandardError(
            "velmor: the program is gone mid-frame: the guardian finished the frame.\n");
}
