#include <windows.h>

#include "stop_sender.h"
#include "stop_sender_io.h"

// Windows 10 1803 and later; MinGW-w64's headers do not name it yet.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

int64_t LineClockNs() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return int64_t(count.QuadPart / frequency.QuadPart) * 1000000000 +
           int64_t(count.QuadPart % frequency.QuadPart) * 1000000000 / frequency.QuadPart;
}

void SleepUntilNs(int64_t ns) {
    const int64_t left = ns - LineClockNs();
    if (left <= 0)
        return;
    // A high-resolution timer, not the 15.6 ms tick of Sleep; a kernel object, so safe in
    // a process whose heap may be broken.
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(left / 100);
    if (timer && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE))
        WaitForSingleObject(timer, INFINITE);
    else
        ::Sleep(static_cast<DWORD>(left / 1000000 + 1));
    if (timer)
        CloseHandle(timer);
}

bool WriteLineByte(intptr_t line, uint8_t byte) {
    HANDLE port = reinterpret_cast<HANDLE>(line);
    if (!port || port == INVALID_HANDLE_VALUE)
        return false;
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = MovementLog::kByteTimeoutMs;
    SetCommTimeouts(port, &timeouts);
    DWORD written = 0;
    return WriteFile(port, &byte, 1, &written, nullptr) && written == 1;
}
