#include <windows.h>

#include <csignal>
#include <exception>

#include "crash_stop.h"
#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/raw_io.h"

namespace {

MovementRecord* crashRecord = nullptr;
volatile intptr_t crashLine = -1;
// The thread of the first crash, which alone sends; 0 before any.
volatile LONG crashThread = 0;
std::terminate_handler previousTerminate = nullptr;

// The thread that writes the line (the one that armed the handler, which goes on to run
// the window). A crash on another thread first suspends it where it is, so that the record
// is read as a crash on that thread would read it and the line has one writer: the stop's
// sender is chosen by the record, never by which thread is faster.
DWORD lineThreadId = 0;
HANDLE lineThread = nullptr;
CONTEXT heldContext;

// How long a crash on another thread tries to hold the line's thread where no byte is in
// the system's hands: a byte's longest write, and a loaded machine's delays.
constexpr int64_t kHoldWaitNs = 100 * LineTiming::kNsPerMs;

void HoldLineThread() {
    if (!lineThread || GetCurrentThreadId() == lineThreadId)
        return;
    const int64_t deadline = LineClockNs() + kHoldWaitNs;
    for (;;) {
        if (SuspendThread(lineThread) == static_cast<DWORD>(-1))
            return;
        // A suspension takes effect some time after the call; reading the thread's
        // registers waits for it.
        heldContext.ContextFlags = CONTEXT_CONTROL;
        GetThreadContext(lineThread, &heldContext);
        // Held with a byte in the system's hands, nobody could tell whether it went: the
        // thread goes on to the end of that write, and is held again.
        if (!crashRecord->handing || LineClockNs() >= deadline)
            return;
        ResumeThread(lineThread);
        SleepUntilNs(LineClockNs() + LineTiming::kNsPerMs / 4);
    }
}

// A write the held thread left with the port (held with a byte in hand past the wait, or a
// crash on the line's thread inside its own write) is withdrawn: the stop would otherwise
// queue behind it in the driver for as long as the stalled line keeps it. The port is
// opened for overlapped I/O, so this thread's calls on it never wait for the held thread
// to leave its own; the record already counts that byte as most likely not sent.
void WithdrawHeldWrite() {
    const intptr_t line = crashLine;
    if (line != -1 && static_cast<LineKind>(crashRecord->lineKind) == LineKind::Serial)
        CancelIoEx(reinterpret_cast<HANDLE>(line), nullptr);
}

// Once per run, whichever way of crashing comes first. A crash on another thread while
// the first one sends waits for the first to end the process.
void OnCrash(const char* how) {
    const auto self = static_cast<LONG>(GetCurrentThreadId());
    const LONG first = InterlockedCompareExchange(&crashThread, self, 0);
    if (first == 0) {
        HoldLineThread();
        WithdrawHeldWrite();
        SendCrashStop(how, *crashRecord, crashLine);
    } else if (first != self) {
        Sleep(INFINITE);
    }
}

// The error report still follows: the search goes on to the system's handler.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS*) {
    OnCrash("an unhandled exception");
    return EXCEPTION_CONTINUE_SEARCH;
}

extern "C" void OnAbort(int) {
    OnCrash("abort");
}

[[noreturn]] void OnTerminate() {
    OnCrash("std::terminate");
    if (previousTerminate)
        previousTerminate();
    std::abort();
}

}  // namespace

void ArmCrashStop(MovementRecord& record) {
    crashRecord = &record;
    lineThreadId = GetCurrentThreadId();
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &lineThread,
                    THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0);
    SetUnhandledExceptionFilter(OnUnhandledException);
    // abort() goes on to end the program once the handler returns.
    std::signal(SIGABRT, OnAbort);
    previousTerminate = std::set_terminate(OnTerminate);
}

void SetCrashStopLine(intptr_t line) {
    crashLine = line;
}
