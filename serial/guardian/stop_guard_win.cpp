// The program's side of the guardian on Windows (velmor-guard.exe, started through its
// launcher here before the window exists). The record lives in a shared file mapping; the program
// puts a copy of each opened port's handle into the guardian's handle table and takes it out again
// when it closes the port, so the two need no messages. A socket the guardian must take and let go
// itself, told by an event and answering by another.
// Winsock before the rest of Windows, which would bring in its older first version.
#include <winsock2.h>

#include <windows.h>

#include <cwchar>

#include "guardian_share_win.h"
#include "stop_guard.h"

namespace {

// How long the program waits for the guardian to take or let go a socket.
constexpr DWORD kSettleMs = 200;
// How long the program waits for the launcher to start the guardian: process start-up on
// a loaded machine, far above its usual few milliseconds.
constexpr DWORD kLaunchMs = 10000;

// The events to and from the guardian, the program's handles.
HANDLE changed = nullptr;
HANDLE settled = nullptr;
bool socketPassed = false;

void ChangeSocket(GuardianShare& share, LONG change, LONG round) {
    share.socketChange = change;
    // A full barrier: the change is in place before the guardian can see its round.
    InterlockedExchange(&share.changeRound, round);
    SetEvent(changed);
    const ULONGLONG deadline = GetTickCount64() + kSettleMs;
    // The settled event may be an earlier round's, set after that round stopped waiting.
    while (share.settledRound != round) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return;
        WaitForSingleObject(settled, static_cast<DWORD>(deadline - now));
    }
}

}  // namespace

bool StopGuard::StartGuardian(int, char**) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &inherited, PAGE_READWRITE, 0,
                                        sizeof(GuardianShare), nullptr);
    void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(GuardianShare))
                         : nullptr;
    HANDLE self = nullptr;
    changed = CreateEventW(&inherited, FALSE, FALSE, nullptr);
    settled = CreateEventW(&inherited, FALSE, FALSE, nullptr);
    if (!view || !changed || !settled ||
        !DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                         SYNCHRONIZE, TRUE, 0)) {
        problem = "no shared memory";
        if (mapping)
            CloseHandle(mapping);
        return false;
    }
    wchar_t program[MAX_PATH + 32] = {};
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    wchar_t* folderEnd = std::wcsrchr(program, L'\\');
    if (length == 0 || length >= MAX_PATH || !folderEnd) {
        problem = "no program path";
        return false;
    }
    std::wcscpy(folderEnd + 1, kGuardianFile);
    wchar_t command[MAX_PATH + 96] = {};
    const auto number = [](HANDLE handle) {
        return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle));
    };
    std::swprintf(command, sizeof(command) / sizeof(command[0]), L"\"%ls\" %llu %llu %llu %llu %ls",
                  program, number(mapping), number(self), number(changed), number(settled),
                  kLaunchWord);
    HANDLE handed[kHandedCount] = {mapping, self, changed, settled};
    PROCESS_INFORMATION launcher{};
    const bool launched =
        StartWithHandles(program, command, handed, kHandedCount, CREATE_NO_WINDOW, launcher);
    CloseHandle(self);
    auto* share = static_cast<GuardianShare*>(view);
    HANDLE process = nullptr;
    if (launched) {
        CloseHandle(launcher.hThread);
        DWORD status = 1;
        if (WaitForSingleObject(launcher.hProcess, kLaunchMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(launcher.hProcess, &status);
        CloseHandle(launcher.hProcess);
        // The guardian waits for this program, so its id cannot have been given to another
        // process yet.
        if (status == 0 && share->guardianPid != 0)
            process =
                OpenProcess(PROCESS_DUP_HANDLE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                            FALSE, static_cast<DWORD>(share->guardianPid));
    }
    if (!process) {
        problem = "no process";
        UnmapViewOfFile(view);
        CloseHandle(mapping);
        return false;
    }
    if (share->guardianInJob)
        limit =
            "shares the program's job, which lets no process leave it: ending the job "
            "will leave a moving camera moving";
    guardian = reinterpret_cast<intptr_t>(process);
    shared = view;
    record = &share->record;
    return true;
}

void StopGuard::PassLine(intptr_t line) {
    if (guardian == -1 || line == -1)
        return;
    auto* share = static_cast<GuardianShare*>(shared);
    if (static_cast<LineKind>(record->lineKind) != LineKind::Serial) {
        // Described for the guardian's process: the guardian makes its own socket of it.
        socketPassed = WSADuplicateSocketW(static_cast<SOCKET>(line),
                                           GetProcessId(reinterpret_cast<HANDLE>(guardian)),
                                           &share->socketInfo) == 0;
        if (socketPassed)
            ChangeSocket(*share, kSocketOffered, static_cast<LONG>(++round));
        return;
    }
    HANDLE copy = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(line),
                        reinterpret_cast<HANDLE>(guardian), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        share->guardianLine = reinterpret_cast<intptr_t>(copy);
}

void StopGuard::DropLine() {
    if (guardian == -1)
        return;
    auto* share = static_cast<GuardianShare*>(shared);
    if (socketPassed) {
        // The connection must end when the program closes its socket, not when the guardian
        // does.
        socketPassed = false;
        ChangeSocket(*share, kSocketDropped, static_cast<LONG>(++round));
    }
    const auto copy = reinterpret_cast<HANDLE>(share->guardianLine);
    share->guardianLine = 0;
    // Closed in the guardian from here: the port is free again as soon as the program
    // closes its own handle.
    if (copy)
        DuplicateHandle(reinterpret_cast<HANDLE>(guardian), copy, nullptr, nullptr, 0, FALSE,
                        DUPLICATE_CLOSE_SOURCE);
}
