#pragma once

// A blocking pause of the user-interface thread, as the line timing needs it.
class Pause {
public:
    virtual ~Pause() = default;
    // Returns no sooner than ms milliseconds after the call.
    virtual void Sleep(int ms) = 0;
};

// Sleeps on the monotonic clock with the finest timer the platform offers, so the
// pause overshoots by as little as possible.
class PrecisePause : public Pause {
public:
    void Sleep(int ms) override;
};
