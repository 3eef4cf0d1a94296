#include "stop_guard.h"

#include "crash_stop.h"
#include "serial/failsafe/raw_io.h"

namespace {

StopGuard* started = nullptr;

}  // namespace

StopGuard& StopGuard::Start(int argc, char** argv) {
    static StopGuard guard;
    if (started)
        return guard;
    started = &guard;
    if (!guard.StartGuardian(argc, argv) || guard.limit)
        SayOnStandardError(("velmor: " + guard.Warning() + "\n").c_str());
    ArmCrashStop(*guard.record);
    return guard;
}

StopGuard* StopGuard::Instance() {
    return started;
}

std::string StopGuard::Warning() const {
    if (!problem && limit)
        return std::string("the guardian ") + limit;
    if (!problem)
        return std::string();
    return std::string("the guardian could not start (") + problem +
           "): a forced kill will leave a moving camera moving";
}

void StopGuard::LineOpened(intptr_t line) {
    SetCrashStopLine(line);
    PassLine(line);
}

void StopGuard::LineClosed() {
    SetCrashStopLine(-1);
    DropLine();
}
