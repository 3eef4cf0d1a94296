#include "qt_serial_device.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <QThread>

#include <cerrno>

#include "terminal_probe.h"

bool QtSerialDevice::Open(const QString& name, uint32_t baud) {
    port.close();
    problem = {};
    // Frames must never be written into a regular file, a directory or a pipe.
    const TerminalProbe probe(name);
    if (!probe.isTerminal) {
        lastError = QSerialPort::DeviceNotFoundError;
        problem = {probe.fault, name, probe.systemError};
        if (problem.fault == PortFault::Busy)
            return FailBusy(name);
        return false;
    }
    port.setPortName(name);
    port.setBaudRate(static_cast<qint32>(baud));
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    // No flow control of any kind, whatever the last program left: a write-only line may
    // have no CTS wired, and a write must never wait for it.
    port.setFlowControl(QSerialPort::NoFlowControl);
    // Write-only: nothing is ever read back from the line.
    if (!port.open(QIODevice::WriteOnly)) {
        lastError = port.error();
        const QString words = port.errorString();
        port.close();
        // The probe just opened the device, so a refusal here is QSerialPort's lock file or
        // the exclusive-open flag of another holder.
        if (lastError == QSerialPort::PermissionError || lastError == QSerialPort::OpenError)
            return FailBusy(name);
        problem = {PortFault::Failed, name, words};
        return false;
    }
    // Programs that lock ports with flock are respected, and while the link holds the port
    // their lock attempts fail. The exclusive-open flag QSerialPort sets does not stop root.
    if (::flock(static_cast<int>(port.handle()), LOCK_EX | LOCK_NB) != 0) {
        port.close();
        lastError = QSerialPort::PermissionError;
        return FailBusy(name);
    }
    // Converters powered from the modem lines need DTR and RTS up.
    if (probe.modemLines) {
        port.setDataTerminalReady(true);
        port.setRequestToSend(true);
    }
    // A rate or setting the port refuses leaves it closed, not held. Read back from the
    // driver, not from what QSerialPort remembers setting.
    const QString wrong = LineSettingsProblem(static_cast<int>(port.handle()), probe.modemLines);
    if (port.baudRate() != static_cast<qint32>(baud) || !wrong.isEmpty()) {
        lastError = QSerialPort::UnsupportedOperationError;
        problem = {PortFault::Refused, name, wrong};
        port.close();
        return false;
    }
    port.clear();
    lastError = QSerialPort::NoError;
    return true;
}

bool QtSerialDevice::FailBusy(const QString& name) {
    problem = {PortFault::Busy, name, FindPortHolder(name, QCoreApplication::applicationPid())};
    return false;
}

void QtSerialDevice::Close() {
    if (!port.isOpen())
        return;
    // Bytes already reported as sent (a stop, say) must still leave: give the driver a
    // bounded time to send them, and drop only what a stalled line still holds, so that
    // closing never waits for the line. Flushing a pseudo-terminal would also throw away
    // what its far end has not read yet.
    if (!WaitForDrain(kDrainMs))
        port.clear(QSerialPort::Output);
    port.close();
}

uint32_t QtSerialDevice::Write(const uint8_t* data, uint32_t count, int timeoutMs) {
    if (!port.isOpen() || count == 0)
        return 0;
    // Wait for room on the line before QSerialPort takes the bytes: a byte that cannot
    // leave in time then never enters its buffer. Discarding it afterwards would also
    // flush the driver's queue, and with it bytes already reported as sent.
    if (count == 1 && !WaitForRoom(timeoutMs)) {
        lastError = QSerialPort::TimeoutError;
        return 0;
    }
    const qint64 accepted = port.write(reinterpret_cast<const char*>(data), count);
    if (accepted < 0) {
        lastError = port.error();
        port.clearError();
        return 0;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (port.bytesToWrite() > 0) {
        if (!port.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
            break;
    }
    const qint64 left = port.bytesToWrite();
    const uint32_t written = static_cast<uint32_t>(accepted - left);
    if (left > 0) {
        // What did not leave in time is dropped here: QSerialPort would otherwise send
        // it whenever the line frees up, long after the frame was given up.
        port.clear(QSerialPort::Output);
    }
    if (port.error() != QSerialPort::NoError) {
        lastError = port.error();
        // A resource error means the device is gone (unplugged): let it go, so that a
        // later reopen can take it again. Other errors leave the port usable.
        if (lastError == QSerialPort::ResourceError)
            port.close();
        else
            port.clearError();
    }
    return written;
}

bool QtSerialDevice::WaitForDrain(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        int queued = 0;
        if (::ioctl(static_cast<int>(port.handle()), TIOCOUTQ, &queued) != 0 || queued == 0)
            return queued == 0;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(1);
    }
}

bool QtSerialDevice::WaitForRoom(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        struct pollfd line = {static_cast<int>(port.handle()), POLLOUT, 0};
        const int ready = ::poll(&line, 1, static_cast<int>(deadline.remainingTime()));
        if (ready > 0)
            return true;  // room, or a hung-up line that the write itself then reports
        if (ready == 0 || errno != EINTR)
            return false;
    }
}
