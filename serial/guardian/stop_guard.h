#pragma once

#include "serial/failsafe/line_guard.h"

// Keeps the endings the program cannot handle itself from leaving a camera moving. A crash:
// a handler in the program sends the stop from the movement record, then lets the crash go
// on. A forced kill: a guardian beside the program, with no window and no Qt, holds the
// line too and sends the stop once the program is gone. Both read the one record the link
// writes, so neither sends what the other already has.
class StopGuard : public LineGuard {
public:
    // Starts the guardian and puts the crash handler in place, once, first thing in main():
    // on Linux the guardian is a fork of the program, so no thread may exist yet. In the
    // guardian this never returns. A guardian that cannot start is said on standard error.
    static StopGuard& Start(int argc, char** argv);
    // The guard started, or null before Start.
    static StopGuard* Instance();

    MovementRecord& Record() override { return *record; }
    void LineOpened(intptr_t line) override;
    void LineClosed() override;
    std::string Warning() const override;

private:
    StopGuard() = default;

    // The platform's guardian: makes the shared record and starts the guardian on it, or
    // returns false with problem saying why. In the guardian it never returns.
    bool StartGuardian(int argc, char** argv);
    void PassLine(intptr_t line);
    void DropLine();

    MovementRecord ownRecord{};
    MovementRecord* record = &ownRecord;
    intptr_t guardian = -1;  // the socket to it on Linux, its process HANDLE on Windows
    void* shared = nullptr;  // the mapping that holds the record, where the platform needs it
    // The handshakes with the guardian so far: each answer names the round it answers.
    uint32_t round = 0;
    const char* problem = nullptr;
    // What a guardian that did start still cannot cover, in words.
    const char* limit = nullptr;
};
