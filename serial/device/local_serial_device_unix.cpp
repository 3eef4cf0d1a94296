#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSerialPort>
#include <QThread>

#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "local_serial_device.h"
#include "serial/failsafe/line_timing.h"
#include "serial/ports/port_holder.h"
#include "terminal_probe.h"

// Off Windows the port is a QSerialPort, opened write-only.
struct LocalSerialDevice::Port {
    bool WaitForDrain(int timeoutMs);
    bool WaitForRoom(const QDeadlineTimer& deadline);
    // Refuses the open because name is held elsewhere, naming the holder where possible.
    bool FailBusy(const QString& name) {
        problem = {PortFault::Busy, name, FindPortHolder(name, QCoreApplication::applicationPid())};
        return false;
    }

    QSerialPort serial;
    PortProblem problem;
    bool lost = false;  // the device went away under an open port
};

LocalSerialDevice::LocalSerialDevice() : port(std::make_unique<Port>()) {}

LocalSerialDevice::~LocalSerialDevice() = default;

PortProblem LocalSerialDevice::LastProblem() const {
    return port->problem;
}

bool LocalSerialDevice::LineLost() const {
    return port->lost;
}

intptr_t LocalSerialDevice::NativeHandle() const {
    return port->serial.isOpen() ? intptr_t(port->serial.handle()) : -1;
}

bool LocalSerialDevice::Open(const QString& name, uint32_t baud) {
    QSerialPort& serial = port->serial;
    serial.close();
    port->problem = {};
    port->lost = false;
    // Frames must never be written into a regular file, a directory or a pipe.
    const TerminalProbe probe(name);
    if (!probe.isTerminal) {
        port->problem = {probe.fault, name, probe.systemError};
        if (probe.fault == PortFault::Busy)
            return port->FailBusy(name);
        return false;
    }
    serial.setPortName(name);
    serial.setBaudRate(static_cast<qint32>(baud));
    serial.setDataBits(QSerialPort::Data8);
    serial.setParity(QSerialPort::NoParity);
    serial.setStopBits(QSerialPort::OneStop);
    // No flow control of any kind, whatever the last program left: a write-only line may
    // have no CTS wired, and a write must never wait for it.
    serial.setFlowControl(QSerialPort::NoFlowControl);
    // Write-only: nothing is ever read back from the line.
    if (!serial.open(QIODevice::WriteOnly)) {
        const QSerialPort::SerialPortError error = serial.error();
        const QString words = serial.errorString();
        serial.close();
        // The probe just opened the device, so a refusal here is QSerialPort's lock file or
        // the exclusive-open flag of another holder.
        if (error == QSerialPort::PermissionError || error == QSerialPort::OpenError)
            return port->FailBusy(name);
        port->problem = {PortFault::Failed, name, words};
        return false;
    }
    // Programs that lock ports with flock are respected, and while the link holds the port
    // their lock attempts fail. The exclusive-open flag QSerialPort sets does not stop root.
    if (::flock(static_cast<int>(serial.handle()), LOCK_EX | LOCK_NB) != 0) {
        serial.close();
        return port->FailBusy(name);
    }
    // Converters powered from the modem lines need DTR and RTS up.
    if (probe.modemLines) {
        serial.setDataTerminalReady(true);
        serial.setRequestToSend(true);
    }
    // A rate or setting the port refuses leaves it closed, not held. Read back from the
    // driver, not from what QSerialPort remembers setting.
    const QString wrong = LineSettingsProblem(static_cast<int>(serial.handle()), probe.modemLines);
    if (serial.baudRate() != static_cast<qint32>(baud) || !wrong.isEmpty()) {
        port->problem = {PortFault::Refused, name, wrong};
        serial.close();
        return false;
    }
    serial.clear();
    return true;
}

void LocalSerialDevice::Close() {
    QSerialPort& serial = port->serial;
    if (!serial.isOpen())
        return;
    // Bytes already reported as sent (a stop, say) must still leave: give the driver a
    // bounded time to send them, and drop only what a stalled line still holds, so that
    // closing never waits for the line; one that went away is closed at once. Flushing a
    // pseudo-terminal would also throw away what its far end has not read yet.
    if (!port->lost && !port->WaitForDrain(LineTiming::kCloseDrainMs))
        serial.clear(QSerialPort::Output);
    serial.close();
}

void LocalSerialDevice::Abandon() {
    port->serial.close();
}

uint32_t LocalSerialDevice::Write(const uint8_t* data, uint32_t count, int timeoutMs) {
    QSerialPort& serial = port->serial;
    if (!serial.isOpen() || port->lost || count == 0)
        return 0;
    // Straight to the descriptor, which QSerialPort opens without blocking: no buffer of Qt's
    // and no allocation, only write and poll, so that a byte-in-hand hold around this call
    // covers the system call alone. A byte goes to the driver only once it has room for it:
    // what did not leave in time never entered the driver's queue, so nothing is discarded,
    // and the bytes already counted as sent stay queued.
    const int fd = static_cast<int>(serial.handle());
    const QDeadlineTimer deadline(timeoutMs);
    uint32_t written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd, data + written, count - written);
        if (n > 0) {
            written += static_cast<uint32_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!port->WaitForRoom(deadline))
                break;
        } else {
            // The device went away (unplugged, its far end closed): the line lets it go and
            // opens it again. Any other refusal leaves the port as it is.
            port->lost =
                n < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV || errno == EBADF);
            break;
        }
    }
    return written;
}

bool LocalSerialDevice::CheckLine() {
    QSerialPort& serial = port->serial;
    if (!serial.isOpen() || port->lost)
        return !port->lost;
    // A terminal whose device went away (unplugged, its far end closed) is hung up.
    struct pollfd line = {static_cast<int>(serial.handle()), POLLOUT, 0};
    if (::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        port->lost = true;
    return !port->lost;
}

bool LocalSerialDevice::Port::WaitForDrain(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        int queued = 0;
        if (::ioctl(static_cast<int>(serial.handle()), TIOCOUTQ, &queued) != 0 || queued == 0)
            return queued == 0;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(1);
    }
}

bool LocalSerialDevice::Port::WaitForRoom(const QDeadlineTimer& deadline) {
    for (;;) {
        struct pollfd line = {static_cast<int>(serial.handle()), POLLOUT, 0};
        const int ready = ::poll(&line, 1, static_cast<int>(deadline.remainingTime()));
        if (ready > 0)
            return true;  // room, or a hung-up line that the write itself then reports
        if (ready == 0 || errno != EINTR)
            return false;
    }
}
