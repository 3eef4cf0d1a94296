// Winsock before the rest of Windows, which would bring in its older first version.
#include <winsock2.h>

#include <windows.h>

#include <mmsystem.h>

#include "line_timing.h"
#include "raw_io.h"
#include "raw_io_win.h"

// Windows 10 1803 and later; MinGW-w64's headers do not name it yet.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// Windows 10 1709 and 11; not in every MinGW-w64's headers. Declared apart, under names of
// this file's own, so that headers which do have them never clash.
namespace {
constexpr int kProcessPowerThrottling = 4;  // PROCESS_INFORMATION_CLASS
constexpr ULONG kThrottlingVersion = 1;
constexpr ULONG kThrottleExecutionSpeed = 0x1;
constexpr ULONG kThrottleIgnoreTimerResolution = 0x4;
struct PowerThrottlingState {
    ULONG version;
    ULONG controlMask;
    ULONG stateMask;
};
using SetProcessInformationCall = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);

// Whether this process has raised the system timer's resolution.
volatile LONG timerRaised = 0;
}  // namespace

int64_t LineClockNs() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return int64_t(count.QuadPart / frequency.QuadPart) * 1000000000 +
           int64_t(count.QuadPart % frequency.QuadPart) * 1000000000 / frequency.QuadPart;
}

void* CreatePauseTimer() {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (timer)
        return timer;
    // Before Windows 10 1803 there is no high-resolution timer. A plain one fires on the
    // system clock's tick, 15.6 ms unless raised: raised to 1 ms once, for the rest of the
    // run, a 2 ms pause stays a 2 ms pause.
    if (InterlockedCompareExchange(&timerRaised, 1, 0) == 0)
        timeBeginPeriod(1);
    return CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
}

bool PauseTimerRaised() {
    return timerRaised != 0;
}

void KeepFullSpeed() {
    // Before Windows 8 the call is missing, and before Windows 10 1709 it refuses the
    // class: there is no throttling to opt out of either.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto set = kernel ? reinterpret_cast<SetProcessInformationCall>(reinterpret_cast<void*>(
                                  GetProcAddress(kernel, "SetProcessInformation")))
                            : nullptr;
    if (!set)
        return;
    // Control without state: this process is never slowed down (efficiency mode, a laptop
    // on battery) and its timer requests are kept while its window is hidden. A Windows
    // that knows only the first flag may refuse both together: it is then asked alone.
    PowerThrottlingState state{kThrottlingVersion,
                               kThrottleExecutionSpeed | kThrottleIgnoreTimerResolution, 0};
    if (!set(GetCurrentProcess(), kProcessPowerThrottling, &state, sizeof state)) {
        state.controlMask = kThrottleExecutionSpeed;
        set(GetCurrentProcess(), kProcessPowerThrottling, &state, sizeof state);
    }
}

void ClosePauseTimer(void* timer) {
    if (timer)
        CloseHandle(static_cast<HANDLE>(timer));
}

void WaitOnPauseTimer(void* timer, int64_t ns) {
    if (ns <= 0)
        return;
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(ns / 100);  // relative, in 100 ns units
    if (timer && SetWaitableTimer(static_cast<HANDLE>(timer), &due, 0, nullptr, nullptr, FALSE))
        WaitForSingleObject(static_cast<HANDLE>(timer), INFINITE);
    else
        ::Sleep(static_cast<DWORD>((ns + LineTiming::kNsPerMs - 1) / LineTiming::kNsPerMs));
}

void SleepUntilNs(int64_t ns) {
    const int64_t left = ns - LineClockNs();
    if (left <= 0)
        return;
    void* timer = CreatePauseTimer();
    WaitOnPauseTimer(timer, left);
    ClosePauseTimer(timer);
}

namespace {

// Waits at most ms for the socket to be readable (read) or writable; true when it is.
bool SelectFor(SOCKET socket, bool read, int64_t ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    const long us = static_cast<long>(ms < 0 ? 0 : ms * 1000);
    timeval time{us / 1000000, us % 1000000};
    return select(0, read ? &set : nullptr, read ? nullptr : &set, nullptr, &time) == 1;
}

bool SendToSocket(SOCKET socket, const uint8_t* bytes, int count) {
    const int64_t deadline = LineClockNs() + LineTiming::kMaxByteTimeoutMs * LineTiming::kNsPerMs;
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
        SelectFor(socket, false, wait / LineTiming::kNsPerMs + 1);
    }
    return true;
}

}  // namespace

PortWriteEnd EndPortWrite(void* port, OVERLAPPED* overlapped, uint32_t waitMs, uint32_t& written,
                          uint32_t& error, bool& cancelled) {
    written = 0;
    error = 0;
    cancelled = false;
    if (WaitForSingleObject(overlapped->hEvent, waitMs) != WAIT_OBJECT_0) {
        // Only this write is withdrawn: another thread's write on the port is its own.
        cancelled = true;
        CancelIoEx(static_cast<HANDLE>(port), overlapped);
        if (WaitForSingleObject(overlapped->hEvent, kPortCancelWaitMs) != WAIT_OBJECT_0)
            return PortWriteEnd::Stuck;
    }
    DWORD count = 0;
    const bool done = GetOverlappedResult(static_cast<HANDLE>(port), overlapped, &count, FALSE);
    error = done ? 0 : GetLastError();
    // A write ended by its time-out or a cancel still counts what went before it.
    written = count;
    return done ? PortWriteEnd::Done : PortWriteEnd::Failed;
}

namespace {

// The stop senders' writes on a port: the crash handler's (one thread, the first crash's)
// and the guardian's (its only thread), so one at a time in each process. Static, not on
// the stack: a write the driver never ends, even once cancelled, may still complete into
// its OVERLAPPED after the sender gave up, and the port then takes no more from it.
OVERLAPPED senderWrite;
HANDLE senderWriteEvent = nullptr;
bool senderWriteStuck = false;

bool WritePortBytes(HANDLE port, const uint8_t* bytes, DWORD count) {
    if (senderWriteStuck && !HasOverlappedIoCompleted(&senderWrite))
        return false;
    senderWriteStuck = false;
    if (!senderWriteEvent)
        senderWriteEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!senderWriteEvent)
        return false;
    senderWrite = OVERLAPPED{};
    senderWrite.hEvent = senderWriteEvent;
    // The port's own write time-out is the one the program set, never below the floor; the
    // bound here holds where the driver keeps none.
    if (!WriteFile(port, bytes, count, nullptr, &senderWrite) && GetLastError() != ERROR_IO_PENDING)
        return false;
    uint32_t written = 0, error = 0;
    bool cancelled = false;
    const PortWriteEnd end = EndPortWrite(
        port, &senderWrite, LineTiming::kWriteFloorMs + kPortTickMs, written, error, cancelled);
    senderWriteStuck = end == PortWriteEnd::Stuck;
    return end == PortWriteEnd::Done && written == count;
}

}  // namespace

bool WriteLineBytes(intptr_t line, LineKind kind, const uint8_t* bytes, int count) {
    if (line == -1 || line == 0)
        return false;
    if (kind != LineKind::Serial)
        return SendToSocket(static_cast<SOCKET>(line), bytes, count);
    return WritePortBytes(reinterpret_cast<HANDLE>(line), bytes, DWORD(count));
}

void CloseSocketGently(intptr_t socket, int timeoutMs) {
    if (socket == -1)
        return;
    const SOCKET handle = static_cast<SOCKET>(socket);
    const int64_t deadline = LineClockNs() + timeoutMs * LineTiming::kNsPerMs;
    shutdown(handle, SD_SEND);
    // Until the server closes its side, or time is up.
    char drop[512];
    for (int64_t left = deadline - LineClockNs(); left > 0; left = deadline - LineClockNs()) {
        // Read only what is there: the socket may be a blocking one.
        if (!SelectFor(handle, true,
                       left / LineTiming::kNsPerMs < 5 ? left / LineTiming::kNsPerMs : 5))
            continue;
        const int got = recv(handle, drop, sizeof drop, 0);
        if (got == 0 || (got < 0 && WSAGetLastError() != WSAEWOULDBLOCK))
            break;
    }
    closesocket(handle);
}

void CloseSocketAfterServer(intptr_t socket, int timeoutMs) {
    // The gentle close here already waits for the server's end.
    CloseSocketGently(socket, timeoutMs);
}

void SayOnStandardError(const char* text) {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(err, text, DWORD(lstrlenA(text)), &written, nullptr);
}

ByteInHandHold::ByteInHandHold() = default;

ByteInHandHold::~ByteInHandHold() = default;

bool ByteInHandHold::Defer(int) {
    return false;
}
