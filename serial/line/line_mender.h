#pragma once

#include <functional>

// Opens lines off the window's thread, so that a port that takes its time to open (a
// Bluetooth port connecting, a server's connect time-out) never holds the window: each
// opening the operator asks for, and the attempts to open again a line that dropped, one at
// a time, each after a pause. Tests substitute one that runs them when told.
class LineMender {
public:
    using Attempt = std::function<bool()>;

    virtual ~LineMender() = default;
    // After delayMs, on the window's thread, ready gives the attempt (it may look the port up
    // again); the attempt runs on a thread of its own, and done gets what it returned, on the
    // window's thread. Replaces whatever was scheduled before.
    virtual void Schedule(int delayMs, std::function<Attempt()> ready,
                          std::function<void(bool)> done) = 0;
    // Nothing scheduled runs any more. An attempt under way is waited for while the window's
    // thread runs its event loop without the operator's input (the window paints and answers),
    // and its done runs with what it returned before this returns: what it opened is not lost.
    virtual void CallOff() = 0;
    // As CallOff, but done never runs: for a link that is going away.
    virtual void Cancel() = 0;
    // Runs attempt on a thread of its own and returns what it returned. Meanwhile the
    // window's thread runs its event loop without the operator's input: the window paints,
    // and what the operator does waits until the port is settled.
    virtual bool RunAside(const Attempt& attempt) = 0;
    // Calls look every intervalMs on the window's thread until told again; no look stops it.
    virtual void Watch(int intervalMs, std::function<void()> look) = 0;
};
