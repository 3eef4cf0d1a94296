#pragma once

#include <cstdint>

#include "serial/failsafe/raw_io.h"

// A blocking pause of the user-interface thread, as the line timing needs it.
class Pause {
public:
    virtual ~Pause() = default;
    // Returns no sooner than ms milliseconds after the call.
    virtual void Sleep(int ms) = 0;
    // The clock the pauses keep: the line clock of the movement record's times.
    virtual int64_t NowNs() const { return LineClockNs(); }
};

// Sleeps on the monotonic clock with the finest timer the platform offers, so the
// pause overshoots by as little as possible.
class PrecisePause : public Pause {
public:
    void Sleep(int ms) override;
};
