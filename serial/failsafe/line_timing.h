#pragma once

#include <cstdint>

// The line's timing, one figure each, for the link and for the stop senders that act once
// the program cannot: a pause after every byte, a pause after every frame, and the longest
// anyone waits for the line to take one byte.
namespace LineTiming {

constexpr int kBytePauseMs = 2;
constexpr int kFramePauseMs = 25;
// A byte's write time-out is 19200 / baud ms, and never more than at 2400 baud: a hand-edited
// rate of 1 would otherwise let one stalled byte hold the window for 19 s.
constexpr int kMaxByteTimeoutMs = 19200 / 2400;

// The least time a write to a local port on Windows is given, whatever the rate, there and
// in the guardian. A Windows write returns only once the adapter has taken the byte: a USB
// transfer (1 ms frames, a share of a busy bus), a wake from selective suspend (20 ms of
// resume signalling and 10 ms of recovery), and a driver time-out that fires on the system
// clock's tick (15.6 ms unless a program raised it). 19200 / baud ms alone runs out on a
// healthy adapter and cuts a frame, a stop included. A dead line still holds the window
// only this long per frame: the first refused byte ends the frame.
constexpr int kWriteFloorMs = 50;
static_assert(kWriteFloorMs >= 20 + 10 + 16, "a waking adapter's write times out");
static_assert(kWriteFloorMs >= kMaxByteTimeoutMs, "the floor lowers a slow rate's time-out");

// How long a closing line gives the bytes already sent to leave before it drops what a
// stalled line still holds, so that closing never waits for the line: long enough for a
// whole frame at the slowest rate (11 bytes of 10 bits at 2400 baud take 46 ms).
constexpr int kCloseDrainMs = 100;
static_assert(kCloseDrainMs >= 11 * 10 * 1000 / 2400, "a closing line cuts the last frame");

// After a frame cut short on the line, the next frame waits until a receiver has dropped what
// it got of it: sooner, the receiver joins those bytes to the next frame and drops both, a
// stop included. A receiver gives a frame up once the line has been quiet for as long as a
// whole frame takes: the longest (11 bytes of 10 bits) at the slowest rate (2400 baud), with
// the sender's pauses, takes 11 x (4.2 + 2) + 25 = 93 ms. The pause runs from when the last
// byte was handed over, and a line at 2400 baud may still be sending what it holds of the cut
// frame for up to 11 x 4.2 = 46 ms after that. One figure for every rate: the stop senders
// know no rate, and a cut frame is rare. velmor-vcam gives a frame up after 39 ms (PELCO D) or
// 47 ms (OSKA-DEFAULT) of quiet.
constexpr int kCutFramePauseMs = 140;
constexpr int kLongestFrameBytes = 11;
constexpr int kSlowestBaud = 2400;
constexpr int kSlowestByteMs = 10 * 1000 / kSlowestBaud;
static_assert(kCutFramePauseMs >= kLongestFrameBytes * (kSlowestByteMs + kBytePauseMs) +
                                      kFramePauseMs + kLongestFrameBytes * kSlowestByteMs,
              "a receiver joins a cut frame to the next");

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kBytePauseNs = kBytePauseMs * kNsPerMs;
constexpr int64_t kFramePauseNs = kFramePauseMs * kNsPerMs;
constexpr int64_t kCutFramePauseNs = kCutFramePauseMs * kNsPerMs;

}  // namespace LineTiming
