#include <cerrno>
#include <csignal>

#include "crash_stop.h"

namespace {

// The faults, and abort(), which qFatal and std::terminate end in.
const int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
MovementRecord* crashRecord = nullptr;
volatile intptr_t crashLine = -1;
volatile sig_atomic_t crashing = 0;
// A stack of its own, so that a stack overflow still reaches the handler.
alignas(16) char handlerStack[64 * 1024];

const char* CrashName(int signalNumber) {
    switch (signalNumber) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        default:
            return "SIGABRT";
    }
}

extern "C" void OnCrashSignal(int signalNumber) {
    const int savedErrno = errno;
    if (!crashing) {
        crashing = 1;
        SendCrashStop(CrashName(signalNumber), *crashRecord, crashLine < 0 ? -1 : crashLine);
    }
    errno = savedErrno;
    // The default action is back (SA_RESETHAND): a fault strikes again on return and a
    // signal sent from outside is raised again, so the core dump and the exit status are
    // the signal's, as without this handler.
    ::raise(signalNumber);
}

}  // namespace

void ArmCrashStop(MovementRecord& record) {
    crashRecord = &record;
    stack_t stack{};
    stack.ss_sp = handlerStack;
    stack.ss_size = sizeof(handlerStack);
    ::sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_handler = OnCrashSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (int signalNumber : kCrashSignals) ::sigaction(signalNumber, &action, nullptr);
}

void SetCrashStopLine(intptr_t line) {
    crashLine = line;
}
