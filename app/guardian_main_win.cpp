// velmor-guard.exe, the guardian on Windows: no Qt and no window. It waits on the program's
// process handle, which signals however the program went (taskkill /F and Task Manager's
// End task included), then sends what the record owes on the port the program left in its
// handle table, and ends. A program of its own name, so that ending every velmor.exe does
// not end the guardian with them.
#include <windows.h>

#include <cwchar>

#include "guardian_share_win.h"
#include "serial/stop_sender.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count != 3)
        return 2;
    const auto mapping = reinterpret_cast<HANDLE>(std::wcstoull(args[1], nullptr, 10));
    const auto program = reinterpret_cast<HANDLE>(std::wcstoull(args[2], nullptr, 10));
    auto* share = static_cast<GuardianShare*>(
        MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(GuardianShare)));
    if (!share)
        return 2;
    WaitForSingleObject(program, INFINITE);
    const auto line = reinterpret_cast<HANDLE>(share->guardianLine);
    if (line) {
        SendOwedBytes(reinterpret_cast<intptr_t>(line), share->record);
        FlushFileBuffers(line);
        CloseHandle(line);
    }
    return 0;
}
