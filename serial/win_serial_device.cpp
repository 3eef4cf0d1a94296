#include "win_serial_device.h"

#include <windows.h>

namespace {

PortFault FaultFromWinError(DWORD error) {
    switch (error) {
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

QString SystemWords(DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const QString words = text ? QString::fromWCharArray(text).trimmed() : QString();
    LocalFree(text);
    return words;
}

}  // namespace

bool WinSerialDevice::Open(const QString& name, uint32_t baud) {
    Close();
    problem = {};
    if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
        problem = {PortFault::NotSerial, name, QString()};
        return false;
    }
    const QString claimName = QStringLiteral("Local\\velmor-port-") + name.toUpper();
    claim = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(claimName.utf16()));
    if (claim && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        claim = nullptr;
        problem = {PortFault::Busy, name, QStringLiteral("velmor")};
        return false;
    }
    // COM10 and above are reachable only through the device namespace.
    const QString path = QStringLiteral("\\\\.\\") + name;
    // Read access too: the line-state calls need it (Wine refuses them on a write-only
    // handle), though nothing is ever read. No sharing: the port is held exclusively.
    HANDLE port = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                              0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        problem = {FaultFromWinError(error), name, SystemWords(error)};
        Close();
        return false;
    }
    handle = port;
    if (!Configure(baud)) {
        Close();
        problem = {PortFault::Refused, name, QString()};
        return false;
    }
    return true;
}

bool WinSerialDevice::Configure(uint32_t baud) {
    HANDLE port = static_cast<HANDLE>(handle);
    SetupComm(port, 64, 64);
    PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_RXABORT);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(port, &dcb))
        return false;
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    // XON/XOFF off; the hardware handshake stays as the port had it.
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    if (!SetCommState(port, &dcb))
        return false;
    DCB check{};
    check.DCBlength = sizeof(check);
    return GetCommState(port, &check) && check.BaudRate == baud && check.ByteSize == 8 &&
           check.Parity == NOPARITY && check.StopBits == ONESTOPBIT;
}

void WinSerialDevice::Close() {
    if (handle)
        CloseHandle(static_cast<HANDLE>(handle));
    handle = nullptr;
    if (claim)
        CloseHandle(static_cast<HANDLE>(claim));
    claim = nullptr;
}

uint32_t WinSerialDevice::Write(const uint8_t* data, uint32_t count, int timeoutMs) {
    if (!handle || count == 0)
        return 0;
    HANDLE port = static_cast<HANDLE>(handle);
    // The whole write may take at most timeoutMs; the driver gives up after it.
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 1);
    SetCommTimeouts(port, &timeouts);
    DWORD written = 0;
    if (!WriteFile(port, data, count, &written, nullptr)) {
        const DWORD error = GetLastError();  // before ClearCommError sets its own
        DWORD errors = 0;
        ClearCommError(port, &errors, nullptr);
        // A port that is gone (unplugged) is let go, so a later reopen can take it again.
        if (error == ERROR_BAD_COMMAND || error == ERROR_DEVICE_REMOVED)
            Close();
    }
    if (handle && written < count)
        PurgeComm(port, PURGE_TXCLEAR | PURGE_TXABORT);  // what is late is never sent later
    return written;
}
