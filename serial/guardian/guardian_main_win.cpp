// velmor-guard.exe, the guardian on Windows: no Qt and no window. It waits on the program's
// process handle, which signals however the program went (taskkill /F and Task Manager's
// End task included), then sends what the record owes on the port the program left in its
// handle table (or on the socket it was given), trying again a while where the line refuses
// it, and ends. A program of its own name, so that ending every velmor.exe does not end the
// guardian with them.
//
// The program starts a launcher (this program with one more word), which starts the
// guardian and ends at once: the guardian's parent is then a process that is gone, so
// "End process tree" and taskkill /T, which follow parents, do not reach it; and it is
// started out of the program's job where the job allows it, so a job's end does not either.
// Winsock before the rest of Windows, which would bring in its older first version.
#include <winsock2.h>

#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "guardian_send.h"
#include "guardian_share_win.h"
#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/raw_io.h"
#include "serial/failsafe/raw_io_win.h"

namespace {

// How long the guardian gives the stop to leave a local port before it closes it.
constexpr int kPortCloseMs = LineTiming::kCloseDrainMs;
// How long the guardian waits for a serial server to end the connection after the stop: it
// has nothing else to do, and a loaded machine may keep the server from reading for a while.
constexpr int kServerCloseMs = 1000;

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
    // A change the program made meanwhile stays for the next wake.
    InterlockedCompareExchange(&share.socketChange, kSocketSettled, change);
}

// The launcher: starts the guardian on the same handles, away from the program's job if
// the job lets it go, else in it; says in the share which one it started.
int Launch(GuardianShare& share, HANDLE* handed) {
    wchar_t self[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 2;
    wchar_t command[MAX_PATH + 96] = {};
    std::swprintf(command, sizeof(command) / sizeof(command[0]), L"\"%ls\" %llu %llu %llu %llu",
                  self, static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handed[0])),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handed[1])),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handed[2])),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handed[3])));
    for (int i = 0; i < kHandedCount; ++i)
        SetHandleInformation(handed[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    // Its own process group: a console's Ctrl+C for the program is not the guardian's.
    const DWORD flags = CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP;
    PROCESS_INFORMATION process{};
    // A job without breakaway refuses the first (access denied): then in the job it is.
    if (!StartWithHandles(self, command, handed, kHandedCount, flags | CREATE_BREAKAWAY_FROM_JOB,
                          process) &&
        !StartWithHandles(self, command, handed, kHandedCount, flags, process))
        return 3;
    BOOL inJob = FALSE;
    IsProcessInJob(process.hProcess, nullptr, &inJob);
    share.guardianInJob = inJob ? 1 : 0;
    share.guardianPid = static_cast<LONG>(process.dwProcessId);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    const bool launcher = args && count == 6 && std::wcscmp(args[5], kLaunchWord) == 0;
    if (!args || (count != 5 && !launcher))
        return 2;
    HANDLE handed[kHandedCount];
    for (int i = 0; i < kHandedCount; ++i)
        handed[i] = reinterpret_cast<HANDLE>(std::wcstoull(args[i + 1], nullptr, 10));
    const HANDLE mapping = handed[0], program = handed[1], changed = handed[2], settled = handed[3];
    auto* share = static_cast<GuardianShare*>(
        MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(GuardianShare)));
    if (!share)
        return 2;
    if (launcher)
        return Launch(*share, handed);
    KeepFullSpeed();
    WSADATA winsock{};
    const bool sockets = WSAStartup(MAKEWORD(2, 2), &winsock) == 0;
    SOCKET held = INVALID_SOCKET;
    const HANDLE waits[] = {program, changed};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        // Read before the change: what is settled below is this round's change or a later
        // one, and a later one's round is answered at the wake its own event brings.
        const LONG round = InterlockedCompareExchange(&share->changeRound, 0, 0);
        if (sockets)
            Settle(*share, held);
        InterlockedExchange(&share->settledRound, round);
        SetEvent(settled);
    }
    // An offer the program made just before it went is still good: the socket is already
    // in this process's handle table.
    if (sockets)
        Settle(*share, held);
    const auto line = reinterpret_cast<HANDLE>(share->guardianLine);
    // The line's frame pause after the last byte comes before the close too, as it does
    // when the program closes the line.
    if (line) {
        SendOwedStop(reinterpret_cast<intptr_t>(line), share->record);
        SleepUntilNs(share->record.lastByteNs + LineTiming::kFramePauseNs);
        // Time for the stop to leave the adapter, bounded: a flush may never end on a
        // device that is being removed.
        SleepUntilNs(LineClockNs() + kPortCloseMs * LineTiming::kNsPerMs);
        CloseHandle(line);
    } else if (held != INVALID_SOCKET) {
        SendOwedStop(static_cast<intptr_t>(held), share->record);
        SleepUntilNs(share->record.lastByteNs + LineTiming::kFramePauseNs);
        // The connection ends only once the server has read up to its end, the stop's
        // last byte included.
        CloseSocketAfterServer(static_cast<intptr_t>(held), kServerCloseMs);
    }
    return 0;
}
