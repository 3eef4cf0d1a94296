#include <windows.h>

#include <csignal>
#include <exception>

#include "crash_stop.h"

namespace {

MovementRecord* crashRecord = nullptr;
volatile intptr_t crashLine = -1;
volatile LONG crashing = 0;
std::terminate_handler previousTerminate = nullptr;

// Once per run, whichever way of crashing comes first.
void OnCrash(const char* how) {
    if (InterlockedExchange(&crashing, 1) == 0)
        SendCrashStop(how, *crashRecord, crashLine);
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
    SetUnhandledExceptionFilter(OnUnhandledException);
    // abort() goes on to end the program once the handler returns.
    std::signal(SIGABRT, OnAbort);
    previousTerminate = std::set_terminate(OnTerminate);
}

void SetCrashStopLine(intptr_t line) {
    crashLine = line;
}
