// The program's side of the guardian on Windows (velmor-guard.exe, started here before the
// window exists). The record lives in a shared file mapping; the program puts a copy of
// each opened port's handle into the guardian's handle table and takes it out again when it
// closes the port, so the two need no messages.
#include <windows.h>

#include <cwchar>

#include "guardian_share_win.h"
#include "stop_guard.h"

bool StopGuard::StartGuardian(int, char**) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &inherited, PAGE_READWRITE, 0,
                                        sizeof(GuardianShare), nullptr);
    void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(GuardianShare))
                         : nullptr;
    HANDLE self = nullptr;
    if (!view || !DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(),
                                  &self, SYNCHRONIZE, TRUE, 0)) {
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
    std::swprintf(command, sizeof(command) / sizeof(command[0]), L"\"%ls\" %llu %llu", program,
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(mapping)),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(self)));
    // Only the mapping and the program's handle are handed down.
    HANDLE handed[] = {mapping, self};
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
    HANDLE copy = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(line),
                        reinterpret_cast<HANDLE>(guardian), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        static_cast<GuardianShare*>(shared)->guardianLine = reinterpret_cast<intptr_t>(copy);
}

void StopGuard::DropLine() {
    if (guardian == -1)
        return;
    auto* share = static_cast<GuardianShare*>(shared);
    const auto copy = reinterpret_cast<HANDLE>(share->guardianLine);
    share->guardianLine = 0;
    // Closed in the guardian from here: the port is free again as soon as the program
    // closes its own handle.
    if (copy)
        DuplicateHandle(reinterpret_cast<HANDLE>(guardian), copy, nullptr, nullptr, 0, FALSE,
                        DUPLICATE_CLOSE_SOURCE);
}
