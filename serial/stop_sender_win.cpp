// Winsock before the rest of Windows, which would bring in its older first version.
#include <winsock2.h>

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

namespace {

bool SendToSocket(SOCKET socket, const uint8_t* bytes, int count) {
    const int64_t deadline = LineClockNs() + int64_t(MovementLog::kByteTimeoutMs) * 1000000;
    int done = 0;
    while (done < count) {
        const int n = send(socket, reinterpret_cast<const char*>(bytes) + done, count - done, 0);
        if (n > 0) {
            done += n;
            continue;
        }
        const int64_t wait = deadline - LineClockNs();
        if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK || wait <= 0)
            return false;
        fd_set room;
        FD_ZERO(&room);
        FD_SET(socket, &room);
        const long us = static_cast<long>(wait / 1000);
        timeval time{us / 1000000, us % 1000000};
        select(0, nullptr, &room, nullptr, &time);
    }
    return true;
}

}  // namespace

bool WriteLineBytes(intptr_t line, LineKind kind, const uint8_t* bytes, int count) {
    if (line == -1 || line == 0)
        return false;
    if (kind != LineKind::Serial)
        return SendToSocket(static_cast<SOCKET>(line), bytes, count);
    HANDLE port = reinterpret_cast<HANDLE>(line);
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = MovementLog::kByteTimeoutMs;
    SetCommTimeouts(port, &timeouts);
    DWORD written = 0;
    return WriteFile(port, bytes, DWORD(count), &written, nullptr) && written == DWORD(count);
}
