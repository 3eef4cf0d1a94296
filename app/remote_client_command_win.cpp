#include <windows.h>

#include "remote_client_command.h"

void WriteStandard(int stream, const QByteArray& text) {
    const DWORD which = stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
    HANDLE to = GetStdHandle(which);
    // Started from a console without redirection: a windowed program writes to it only once
    // attached (the prompt may come back first; the token is printed all the same).
    if ((to == nullptr || to == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        to = GetStdHandle(which);
    if (to == nullptr || to == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(to, text.constData(), DWORD(text.size()), &written, nullptr);
}
