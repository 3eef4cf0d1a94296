// Winsock before the rest of Windows, which would bring in its older first version.
#include <winsock2.h>

#include <windows.h>

#include "guardian_share_win.h"

bool StartWithHandles(const wchar_t* program, wchar_t* command, HANDLE* handed, int count,
                      DWORD flags, PROCESS_INFORMATION& process) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    alignas(8) char attributeSpace[256];
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeSpace);
    STARTUPINFOEXW start{};
    start.StartupInfo.cb = sizeof(start);
    // Only these are handed down, never whatever else of the starter's happens to be
    // inheritable.
    if (size <= sizeof(attributeSpace) &&
        InitializeProcThreadAttributeList(attributes, 1, 0, &size) &&
        UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed,
                                  count * sizeof(HANDLE), nullptr, nullptr))
        start.lpAttributeList = attributes;
    const DWORD allFlags = flags | (start.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0);
    const BOOL created = CreateProcessW(program, command, nullptr, nullptr, TRUE, allFlags, nullptr,
                                        nullptr, &start.StartupInfo, &process);
    const DWORD error = GetLastError();
    if (start.lpAttributeList)
        DeleteProcThreadAttributeList(attributes);
    SetLastError(error);
    return created != FALSE;
}
