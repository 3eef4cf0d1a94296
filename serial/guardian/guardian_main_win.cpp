// velmor-guard.exe, the guardian on Windows: no Qt and no window. It waits on the program's
// process handle, which signals however the program went (taskkill /F and Task Manager's
// End task included), then sends what the record owes on the port the program left in its
// handle table (or on the socket it was given), and ends. A program of its own name, so
// that ending every velmor.exe does not end the guardian with them.
// Winsock before the rest of Windows, which would bring in its older first version.
#include <winsock2.h>

#include <windows.h>

#include <cwchar>

#include "guardian_share_win.h"
#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/raw_io.h"
#include "serial/failsafe/raw_io_win.h"
#include "serial/failsafe/stop_sender.h"

namespace {

// How long the guardian gives the stop to leave over a network line before it closes.
constexpr int kSocketCloseMs = LineTiming::kCloseDrainMs;
// And over a local port.
constexpr int kPortCloseMs = LineTiming::kCloseDrainMs;

// Takes the socket the program offers, or lets the held one go, as socketChange says.
void Settle(GuardianShare& share, SOCKET& held) {
    const LONG change = share.socketChange;
    if (change == kSocketSettled)
        return;
    if (held != INVALID_SOCKET)
        closesocket(held);
    held = change == kSocketOffered ? WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                                                 FROM_PROTOCOL_INFO, &share.socketInfo, 0, 0)
                                    : INVALID_SOCKET;
    share.socketChange = kSocketSettled;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count != 5)
        return 2;
    const auto mapping = reinterpret_cast<HANDLE>(std::wcstoull(args[1], nullptr, 10));
    const auto program = reinterpret_cast<HANDLE>(std::wcstoull(args[2], nullptr, 10));
    const auto changed = reinterpret_cast<HANDLE>(std::wcstoull(args[3], nullptr, 10));
    const auto settled = reinterpret_cast<HANDLE>(std::wcstoull(args[4], nullptr, 10));
    auto* share = static_cast<GuardianShare*>(
        MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(GuardianShare)));
    if (!share)
        return 2;
    KeepFullSpeed();
    WSADATA winsock{};
    const bool sockets = WSAStartup(MAKEWORD(2, 2), &winsock) == 0;
    SOCKET held = INVALID_SOCKET;
    const HANDLE waits[] = {program, changed};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        if (sockets)
            Settle(*share, held);
        SetEvent(settled);
    }
    // An offer the program made just before it went is still good: the socket is already
    // in this process's handle table.
    if (sockets)
        Settle(*share, held);
    const auto line = reinterpret_cast<HANDLE>(share->guardianLine);
    if (line) {
        SendOwedBytes(reinterpret_cast<intptr_t>(line), share->record);
        // Time for the stop to leave the adapter, bounded: a flush may never end on a
        // device that is being removed.
        SleepUntilNs(LineClockNs() + kPortCloseMs * LineTiming::kNsPerMs);
        CloseHandle(line);
    } else if (held != INVALID_SOCKET) {
        SendOwedBytes(static_cast<intptr_t>(held), share->record);
        CloseSocketGently(static_cast<intptr_t>(held), kSocketCloseMs);
    }
    return 0;
}
