#include <windows.h>

#include <csignal>
#include <cstring>
#include <exception>

#include "crash_stop.h"
#include "serial/stop_sender.h"

namespace {

MovementRecord* crashRecord = nullptr;
volatile intptr_t crashLine = -1;
volatile LONG crashing = 0;
std::terminate_handler previousTerminate = nullptr;

void Say(const char* text) {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(err, text, DWORD(std::strlen(text)), &written, nullptr);
}

// Once per run, whichever way of crashing comes first.
void SendCrashStop(const char* how) {
    if (InterlockedExchange(&crashing, 1) != 0)
        return;
    const bool moving = crashRecord->running != 0;
    const int sent = crashLine != -1 ? SendOwedBytes(crashLine, *crashRecord) : 0;
    Say("velmor: crashed (");
    Say(how);
    Say(moving && sent > 0 ? "): the moving camera was sent the stop.\n"
        : moving           ? "): a camera was moving, and the line took no stop.\n"
                           : "): no camera was moving.\n");
}

// The error report still follows: the search goes on to the system's handler.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS*) {
    SendCrashStop("an unhandled exception");
    return EXCEPTION_CONTINUE_SEARCH;
}

extern "C" void OnAbort(int) {
    SendCrashStop("abort");
}

[[noreturn]] void OnTerminate() {
    SendCrashStop("std::terminate");
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
