#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "crash_stop.h"
#include "serial/failsafe/crash_signals.h"
#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/raw_io.h"

namespace {

MovementRecord* crashRecord = nullptr;
volatile intptr_t crashLine = -1;
// A stack of its own, so that a stack overflow still reaches the handler.
alignas(16) char handlerStack[64 * 1024];

// The thread that writes the line (the one that armed the handler, which goes on to run
// the window). A crash on another thread first holds it where it is, so that the record is
// read as a handler on that thread would read it and the line has one writer: the stop's
// sender is chosen by the record, never by which thread is faster.
pid_t lineThread = 0;
// The thread of the first crash, which alone sends; 0 before any.
std::atomic<pid_t> crashThread{0};
int holdSignal = 0;
volatile sig_atomic_t lineThreadHeld = 0;
// How long a crash on another thread waits for the line's thread to stop: a byte's longest
// write, and the scheduler's delays on a loaded machine. After that it sends anyway.
constexpr int64_t kHoldWaitNs = 100 * LineTiming::kNsPerMs;

pid_t ThisThread() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

extern "C" void OnHoldSignal(int) {
    // A byte in the system's hands is let go on (its write restarts): held there, nobody
    // could tell whether it went. The crashing thread asks again.
    if (crashRecord->handing)
        return;
    lineThreadHeld = 1;
    // The process ends by the crash on the other thread; nothing here runs again.
    for (;;) ::pause();
}

void HoldLineThread() {
    if (lineThread == 0 || ThisThread() == lineThread)
        return;
    const int64_t deadline = LineClockNs() + kHoldWaitNs;
    while (!lineThreadHeld && LineClockNs() < deadline) {
        if (::syscall(SYS_tgkill, ::getpid(), lineThread, holdSignal) != 0)
            return;
        SleepUntilNs(LineClockNs() + LineTiming::kNsPerMs / 4);
    }
}

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

// Sent by kill, tgkill or sigqueue (si_code <= 0), rather than a fault of the thread's own
// (si_code > 0) or its own abort(), which raises SIGABRT on itself from inside the process.
bool SentFromOutside(int signalNumber, const siginfo_t& info) {
    if (info.si_code > 0)
        return false;
    return !(signalNumber == SIGABRT && info.si_code == SI_TKILL && info.si_pid == ::getpid());
}

struct sigaction crashAction {};

extern "C" void OnCrashSignal(int signalNumber, siginfo_t* info, void*) {
    const int savedErrno = errno;
    // A signal from outside never interrupts a byte in hand: it comes again at the hold's
    // end, to this handler, put back in place for it (SA_RESETHAND took it away). A fault
    // or an abort of the thread's own cannot wait, and the record marks the byte in doubt.
    if (SentFromOutside(signalNumber, *info) && ByteInHandHold::Defer(signalNumber)) {
        ::sigaction(signalNumber, &crashAction, nullptr);
        errno = savedErrno;
        return;
    }
    const pid_t self = ThisThread();
    pid_t first = 0;
    if (crashThread.compare_exchange_strong(first, self)) {
        HoldLineThread();
        SendCrashStop(CrashName(signalNumber), *crashRecord, crashLine < 0 ? -1 : crashLine);
    } else if (first != self) {
        // Another thread crashed first and sends what the record owes: this one waits for
        // that crash to end the process.
        for (;;) ::pause();
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
    crashAction.sa_sigaction = OnCrashSignal;
    sigemptyset(&crashAction.sa_mask);
    // SA_RESTART: a write or a wait that a deferred signal interrupted goes on by itself.
    crashAction.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND | SA_RESTART;
    for (int signalNumber : kCrashSignals) ::sigaction(signalNumber, &crashAction, nullptr);
    lineThread = ThisThread();
    // A real-time signal: nothing else in the program uses one.
    holdSignal = SIGRTMIN + 3;
    struct sigaction hold {};
    hold.sa_handler = OnHoldSignal;
    sigemptyset(&hold.sa_mask);
    hold.sa_flags = SA_RESTART;
    ::sigaction(holdSignal, &hold, nullptr);
}

void SetCrashStopLine(intptr_t line) {
    crashLine = line;
}
