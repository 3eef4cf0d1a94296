#include "win_serial_device.h"

#include <QStringList>

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

// Every field that decides how bytes leave, whatever the last program left: no flow
// control of any kind, since a write-only line may have no CTS or DSR wired; DTR and RTS
// up for converters powered from them; no abort on a line error, which would fail every
// later write until someone cleared it.
DCB LineSettings(DCB dcb, uint32_t baud) {
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    return dcb;
}

// The line settings in which got differs from wanted, named; empty when none.
QString LineDifference(const DCB& got, const DCB& wanted) {
    const struct {
        const char* name;
        bool same;
    } fields[] = {
        {"the rate", got.BaudRate == wanted.BaudRate},
        {"data bits", got.ByteSize == wanted.ByteSize},
        {"parity", got.Parity == wanted.Parity && got.fParity == wanted.fParity},
        {"stop bits", got.StopBits == wanted.StopBits},
        {"CTS flow control", got.fOutxCtsFlow == wanted.fOutxCtsFlow},
        {"DSR flow control",
         got.fOutxDsrFlow == wanted.fOutxDsrFlow && got.fDsrSensitivity == wanted.fDsrSensitivity},
        {"DTR", got.fDtrControl == wanted.fDtrControl},
        {"RTS", got.fRtsControl == wanted.fRtsControl},
        {"XON/XOFF", got.fOutX == wanted.fOutX && got.fInX == wanted.fInX},
        {"abort on error", got.fAbortOnError == wanted.fAbortOnError},
    };
    QStringList differ;
    for (const auto& field : fields)
        if (!field.same)
            differ << QString::fromLatin1(field.name);
    return differ.join(QStringLiteral(", "));
}

}  // namespace

bool WinSerialDevice::Open(const QString& name, uint32_t baud) {
    Close();
    problem = {};
    if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
        problem = {PortFault::NotSerial, name, QString()};
        return false;
    }
    const QString claimName = ClaimName(name);
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
    const QString refused = Configure(baud);
    if (!refused.isEmpty()) {
        Close();
        problem = {PortFault::Refused, name, refused};
        return false;
    }
    return true;
}

QString WinSerialDevice::Configure(uint32_t baud) {
    HANDLE port = static_cast<HANDLE>(handle);
    SetupComm(port, 64, 64);
    PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_RXABORT);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(port, &dcb))
        return QStringLiteral("its settings cannot be read");
    DCB wanted = LineSettings(dcb, baud);
    if (!SetCommState(port, &wanted))
        return QStringLiteral("it takes no such settings: ") + SystemWords(GetLastError());
    DCB check{};
    check.DCBlength = sizeof(check);
    if (!GetCommState(port, &check))
        return QStringLiteral("its settings cannot be read back");
    const QString differ = LineDifference(check, wanted);
    if (!differ.isEmpty())
        return QStringLiteral("it kept its own ") + differ;
    timeoutsMs = 0;
    if (!SetWriteTimeout(1))
        return QStringLiteral("it takes no write time-out");
    return QString();
}

bool WinSerialDevice::SetWriteTimeout(int timeoutMs) {
    const DWORD wanted = static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 1);
    if (wanted == timeoutsMs)
        return true;
    // The whole write may take at most this long; the driver gives up after it. Frames go
    // out one byte at a time with the same time-out, so this is set once per open port.
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = wanted;
    if (!SetCommTimeouts(static_cast<HANDLE>(handle), &timeouts))
        return false;
    timeoutsMs = wanted;
    return true;
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
    if (!SetWriteTimeout(timeoutMs))
        return 0;
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
