#include <QStringList>
#include <algorithm>

#include <windows.h>

#include "line_settings_win.h"
#include "local_serial_device.h"
#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/raw_io.h"
#include "serial/failsafe/raw_io_win.h"
#include "serial/ports/port_claim_win.h"

// Every field that decides how bytes leave, whatever the last program left: no flow
// control of any kind, since a write-only line may have no CTS or DSR wired; DTR and RTS
// up for converters powered from them; no abort on a line error, which would fail every
// later write until someone cleared it. The XON/XOFF characters and limits are unused with
// flow control off, yet drivers check them on every SetCommState: one character for both,
// or a limit beyond the queue, and the whole setting is refused.
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
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = kLineFlowLimitBytes;
    dcb.XoffLim = kLineFlowLimitBytes;
    return dcb;
}

bool LineGoneError(unsigned long error) {
    // What the drivers of unplugged adapters answer a write with, and a driver that has
    // stopped its device (Wine's word for a line that hung up as well). A write that only
    // timed out succeeds with fewer bytes written, or fails with a time-out: neither is here.
    switch (error) {
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_ACCESS_DENIED:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_OPERATION_ABORTED:
        case ERROR_INVALID_HANDLE:
        case ERROR_NOT_READY:
            return true;
        default:
            return false;
    }
}

namespace {

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

// One write on the port at a time, the line's; kept apart from the port so that a write the
// driver never ends, even once cancelled, can be left the memory it may still complete into.
struct PortWrite {
    PortWrite() { overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~PortWrite() {
        if (overlapped.hEvent)
            CloseHandle(overlapped.hEvent);
    }
    PortWrite(const PortWrite&) = delete;
    PortWrite& operator=(const PortWrite&) = delete;

    OVERLAPPED overlapped{};
    bool stuck = false;  // the driver still has it, though cancelled
};

// On Windows the port is a handle of the Win32 communications API, opened exclusively (no
// share mode) for overlapped I/O, with the port's claim beside it.
struct LocalSerialDevice::Port {
    // Sets the line up and reads it back; why the port refused, empty when it did not.
    QString Configure(uint32_t baud);
    bool SetWriteTimeout(int timeoutMs);
    // Whether the driver's output queue emptied within timeoutMs.
    bool WaitForDrain(int timeoutMs);
    // Lets the port and its claim go, nothing drained or dropped.
    void Release();

    HANDLE handle = nullptr;       // null while closed
    HANDLE claim = nullptr;        // the port's mutex while held
    unsigned long timeoutsMs = 0;  // the write time-out the port has; 0 before any is set
    std::unique_ptr<PortWrite> write;
    PortProblem problem;
    bool lost = false;  // the device went away under an open port
};

LocalSerialDevice::LocalSerialDevice() : port(std::make_unique<Port>()) {}

LocalSerialDevice::~LocalSerialDevice() {
    Close();
}

PortProblem LocalSerialDevice::LastProblem() const {
    return port->problem;
}

bool LocalSerialDevice::LineLost() const {
    return port->lost;
}

intptr_t LocalSerialDevice::NativeHandle() const {
    return port->handle ? intptr_t(port->handle) : -1;
}

bool LocalSerialDevice::Open(const QString& name, uint32_t baud) {
    Close();
    PortProblem& problem = port->problem;
    problem = {};
    port->lost = false;
    if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
        problem = {PortFault::NotSerial, name, QString()};
        return false;
    }
    const QString claimName = PortClaimName(name);
    port->claim = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(claimName.utf16()));
    if (port->claim && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(port->claim);
        port->claim = nullptr;
        problem = {PortFault::Busy, name, QStringLiteral("velmor")};
        return false;
    }
    // COM10 and above are reachable only through the device namespace.
    const QString path = QStringLiteral("\\\\.\\") + name;
    // Read access too: the line-state calls need it (Wine refuses them on a write-only
    // handle), though nothing is ever read. No sharing: the port is held exclusively.
    //
    // Overlapped, because the crash handler writes the stop on this handle while the line's
    // thread is suspended wherever it was, perhaps inside a write or a line-state call on it.
    // All I/O on a handle opened without FILE_FLAG_OVERLAPPED is serialised, even calls that
    // pass an OVERLAPPED (CreateFile's documentation), so the crash handler's first call
    // would wait for a thread that never runs again. CancelSynchronousIo would not free the
    // handle either: it only marks the thread's call for cancelling and does not wait for it
    // to end (its documentation), and a suspended thread never comes back out of its call.
    // With FILE_FLAG_OVERLAPPED the handle takes simultaneous operations, every writer waits
    // on an event of its own with a bound, and CancelIoEx withdraws a write whatever thread
    // began it, so neither the line nor the crash handler waits on the other. The guardian's
    // copy of the handle is the same file object, overlapped too.
    HANDLE opened =
        CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        Close();
        problem = {FaultFromSystemError(int(error)), name, SystemErrorWords(int(error))};
        return false;
    }
    port->handle = opened;
    if (!port->write)
        port->write = std::make_unique<PortWrite>();
    if (!port->write->overlapped.hEvent) {
        Close();
        problem = {PortFault::Failed, name, SystemErrorWords(int(GetLastError()))};
        return false;
    }
    const QString refused = port->Configure(baud);
    if (!refused.isEmpty()) {
        Close();
        problem = {PortFault::Refused, name, refused};
        return false;
    }
    return true;
}

QString LocalSerialDevice::Port::Configure(uint32_t baud) {
    HANDLE port = handle;
    SetupComm(port, kLineQueueBytes, kLineQueueBytes);
    PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_RXABORT);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(port, &dcb))
        return QStringLiteral("its settings cannot be read");
    DCB wanted = LineSettings(dcb, baud);
    if (!SetCommState(port, &wanted))
        return QStringLiteral("it takes no such settings: ") +
               SystemErrorWords(int(GetLastError()));
    DCB check{};
    check.DCBlength = sizeof(check);
    if (!GetCommState(port, &check))
        return QStringLiteral("its settings cannot be read back");
    const QString differ = LineDifference(check, wanted);
    if (!differ.isEmpty())
        return QStringLiteral("it kept its own ") + differ;
    timeoutsMs = 0;
    if (!SetWriteTimeout(LineTiming::kWriteFloorMs))
        return QStringLiteral("it takes no write time-out");
    return QString();
}

bool LocalSerialDevice::Port::SetWriteTimeout(int timeoutMs) {
    const DWORD wanted = static_cast<DWORD>(std::max(timeoutMs, LineTiming::kWriteFloorMs));
    if (wanted == timeoutsMs)
        return true;
    // The whole write may take at most this long, and never less than the floor no healthy
    // adapter reaches; the driver gives up after it. Frames go out one byte at a time with
    // the same time-out, so this is set once per open port.
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = wanted;
    if (!SetCommTimeouts(handle, &timeouts))
        return false;
    timeoutsMs = wanted;
    return true;
}

void LocalSerialDevice::Port::Release() {
    if (handle)
        CloseHandle(handle);
    handle = nullptr;
    if (claim)
        CloseHandle(claim);
    claim = nullptr;
    // A write the driver never ended, even once cancelled, keeps its memory for good: the
    // next port gets a new one.
    if (write && write->stuck && !HasOverlappedIoCompleted(&write->overlapped))
        static_cast<void>(write.release());
}

bool LocalSerialDevice::Port::WaitForDrain(int timeoutMs) {
    const int64_t deadline = LineClockNs() + timeoutMs * LineTiming::kNsPerMs;
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle, &errors, &status))
            return false;
        const bool writing = write && write->stuck && !HasOverlappedIoCompleted(&write->overlapped);
        if (status.cbOutQue == 0 && !writing)
            return true;
        if (LineClockNs() >= deadline)
            return false;
        ::Sleep(1);
    }
}

void LocalSerialDevice::Close() {
    // Bytes already reported as sent (a stop, say) must still leave: the driver's queue is
    // given a bounded time to empty (the longest frame at the slowest rate fits in it), and
    // only what a stalled line still holds is dropped then, so that closing never waits for
    // the line; one that went away is closed at once.
    if (port->handle && !port->lost && !port->WaitForDrain(LineTiming::kCloseDrainMs))
        PurgeComm(port->handle, PURGE_TXABORT | PURGE_TXCLEAR);
    port->Release();
}

void LocalSerialDevice::Abandon() {
    // The guardian's duplicate of the handle keeps the port open, queue and all.
    port->Release();
}

bool LocalSerialDevice::CheckLine() {
    if (!port->handle || port->lost)
        return !port->lost;
    // A device that went away fails every call on its handle, as its writes do.
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port->handle, &errors, &status) && LineGoneError(GetLastError()))
        port->lost = true;
    return !port->lost;
}

uint32_t LocalSerialDevice::Write(const uint8_t* data, uint32_t count, int timeoutMs) {
    // A line that is gone takes nothing more: the link closes it and, in time, opens it
    // again, and until then no write waits on a device the system is removing.
    if (!port->handle || port->lost || count == 0)
        return 0;
    HANDLE handle = port->handle;
    PortWrite& write = *port->write;
    // A write the driver still has, though cancelled, is a line that takes nothing.
    if (write.stuck && !HasOverlappedIoCompleted(&write.overlapped))
        return 0;
    write.stuck = false;
    if (!port->SetWriteTimeout(timeoutMs))
        return 0;
    const HANDLE event = write.overlapped.hEvent;
    write.overlapped = OVERLAPPED{};
    write.overlapped.hEvent = event;
    uint32_t written = 0, error = 0;
    bool cancelled = false;
    PortWriteEnd end = PortWriteEnd::Failed;
    if (WriteFile(handle, data, count, nullptr, &write.overlapped) ||
        GetLastError() == ERROR_IO_PENDING)
        end = EndPortWrite(handle, &write.overlapped, port->timeoutsMs + kPortTickMs, written,
                           error, cancelled);
    else
        error = GetLastError();
    if (end == PortWriteEnd::Stuck) {
        write.stuck = true;
        return 0;
    }
    if (end == PortWriteEnd::Failed) {
        // A port that is gone (unplugged) stays open here: the link closes it through its
        // own path, which lets the guardian's copy of the handle go as well. A write this
        // side cancelled for its time-out is a stall, not a loss.
        if (LineGoneError(error) && !(cancelled && error == ERROR_OPERATION_ABORTED)) {
            port->lost = true;
            return written;
        }
        DWORD errors = 0;
        ClearCommError(handle, &errors, nullptr);
    }
    // What the driver counted as written stays in its queue and leaves after all: dropping
    // it would cut a frame the record counts as sent, a stop included. What it did not take
    // was never handed over, and nothing of it is sent later.
    return written;
}
