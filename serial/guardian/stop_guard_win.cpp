// The program's side of the guardian on Windows (velmor-guard.exe, started here before the
// window exists). The record lives in a shared file mapping; the program puts a copy of
// each opened port's handle into the guardian's handle table and takes it out again when it
// closes the port, so the two need no messages. A socket the guardian must take and let go
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

// The events to and from the guardian, the program's handles.
HANDLE changed = nullptr;
HANDLE settled = nullptr;
bool socketPassed = false;

void ChangeSocket(GuardianShare& share, LONG change) {
    share.socketChange = change;
    ResetEvent(settled);
    SetEvent(changed);
    WaitForSingleObject(settled, kSettleMs);
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
    std::swprintf(command, sizeof(command) / sizeof(command[0]), L"\"%ls\" %llu %llu %llu %llu",
                  program, number(mapping), number(self), number(changed), number(settled));
    // Only these are handed down.
    HANDLE handed[] = {mapping, self, changed, settled};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    alignas(8) char attributeSpace[256];
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeSpace);
    STARTUPINFOEXW start{};
    start.StartupInfo.cb = sizeof(start);
    if (size <= sizeof(attributeSpace) &&
        InitializeProcThreadAttributeList(attributes, 1, 0, &size) &&
        UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed,
                                  sizeof(handed), nullptr, nullptr))
        start.lpAttributeList = attributes;
    PROCESS_INFORMATION process{};
    const DWORD flags =
        CREATE_NO_WINDOW | (start.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0);
    const BOOL created = CreateProcessW(program, command, nullptr, nullptr, TRUE, flags, nullptr,
                                        nullptr, &start.StartupInfo, &process);
    if (start.lpAttributeList)
        DeleteProcThreadAttributeList(attributes);
    CloseHandle(self);
    if (!created) {
        problem = "no process";
        UnmapViewOfFile(view);
        CloseHandle(mapping);
        return false;
    }
    CloseHandle(process.hThread);
    guardian = reinterpret_cast<intptr_t>(process.hProcess);
    shared = view;
    record = &static_cast<GuardianShare*>(view)->record;
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
            ChangeSocket(*share, kSocketOffered);
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
        ChangeSocket(*share, kSocketDropped);
    }
    const auto copy = reinterpret_cast<HANDLE>(share->guardianLine);
    share->guardianLine = 0;
    // Closed in the guardian from here: the port is free again as soon as the program
    // closes its own handle.
    if (copy)
        DuplicateHandle(reinterpret_cast<HANDLE>(guardian), copy, nullptr, nullptr, 0, FALSE,
                        DUPLICATE_CLOSE_SOURCE);
}
