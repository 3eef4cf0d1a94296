#include "port_problem.h"

#include <windows.h>

PortFault FaultFromSystemError(int error) {
    switch (static_cast<DWORD>(error)) {
        case ERROR_SUCCESS:
            return PortFault::None;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
            return PortFault::NoSuchDevice;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            // Serial ports are opened without sharing: a second opener is refused.
            return PortFault::Busy;
        default:
            return PortFault::Failed;
    }
}

QString SystemErrorWords(int error) {
    // In English, the interface's language, where the system has its texts in English;
    // else in the system's own language rather than none.
    wchar_t* text = nullptr;
    for (const DWORD language : {DWORD(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), DWORD(0)}) {
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(error), language,
                       reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        if (text)
            break;
    }
    const QString words = text ? QString::fromWCharArray(text).trimmed() : QString();
    LocalFree(text);
    return words.isEmpty() ? QStringLiteral("system error %1").arg(error) : words;
}
