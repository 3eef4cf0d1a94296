#include "net_serial_device.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/raw_io.h"
#include "serial/failsafe/telnet_escape.h"
#include "telnet_com_port.h"

namespace {

using Outcome = NetSocket::ConnectOutcome;

// What one read may drop before a write goes on: a flood is dropped a slice at a time,
// never waited out.
constexpr int kDropLimitBytes = 1 << 16;

// Shared by the caller and the connecting thread, which may outlive the caller's wait:
// a name lookup cannot be cut short.
struct ConnectJob {
    std::mutex lock;
    bool finished = false;
    bool abandoned = false;
    Outcome outcome;
};

// Connects on a thread of its own while the caller's event loop runs, without the
// operator's input; gives up after timeoutMs whatever the thread is doing.
Outcome ConnectBesideEventLoop(const NetAddress& address, int timeoutMs) {
    auto job = std::make_shared<ConnectJob>();
    QEventLoop loop;
    QEventLoop* waiting = QCoreApplication::instance() ? &loop : nullptr;
    std::thread([job, waiting, host = address.host, port = address.port, timeoutMs] {
        const Outcome outcome = NetSocket::Connect(host, port, timeoutMs);
        const std::lock_guard<std::mutex> hold(job->lock);
        if (job->abandoned) {
            CloseSocketGently(outcome.socket, 0);
            return;
        }
        job->outcome = outcome;
        job->finished = true;
        if (waiting)
            QMetaObject::invokeMethod(waiting, &QEventLoop::quit, Qt::QueuedConnection);
    }).detach();
    const QDeadlineTimer deadline(timeoutMs);
    if (waiting) {
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    for (;;) {
        {
            const std::lock_guard<std::mutex> hold(job->lock);
            if (job->finished)
                return job->outcome;
            if (deadline.hasExpired()) {
                job->abandoned = true;
                return {NetSocket::kNone, Outcome::Failure::NoAnswer, QString()};
            }
        }
        // Without an event loop, or woken by something else than the thread or the timer.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

QString ConnectFailure(const NetAddress& address, const Outcome& outcome, int timeoutMs) {
    switch (outcome.failure) {
        case Outcome::Failure::Unresolved:
            return QStringLiteral("the name %1 could not be resolved (%2)")
                .arg(address.host, outcome.words);
        case Outcome::Failure::Refused:
            return QStringLiteral("%1 refused the connection").arg(address.Label());
        case Outcome::Failure::NoAnswer:
            return QStringLiteral("no answer from %1 within %2 s")
                .arg(address.Label())
                .arg(timeoutMs / 1000.0);
        case Outcome::Failure::Other:
        case Outcome::Failure::None:
            break;
    }
    return QStringLiteral("could not connect to %1 (%2)").arg(address.Label(), outcome.words);
}

}  // namespace

bool NetSerialDevice::Open(const QString& name, uint32_t baud) {
    Close();
    problem = {};
    writeProblem = {};
    QString why;
    if (!ParseNetEntry(name, address, why)) {
        problem = {PortFault::UnusableEntry, QString(), QStringLiteral("\"%1\" %2").arg(name, why)};
        return false;
    }
    entry = address.Entry();
    const Outcome outcome = ConnectBesideEventLoop(address, kConnectMs);
    if (outcome.failure != Outcome::Failure::None) {
        problem = {PortFault::Network, entry, ConnectFailure(address, outcome, kConnectMs)};
        return false;
    }
    socket = outcome.socket;
    if (address.scheme != NetAddress::Scheme::Rfc2217)
        return true;
    // A fresh connection has room for the few dozen bytes that set the far port.
    const QByteArray opening = TelnetComPort::Opening(baud);
    QString words;
    if (NetSocket::Send(socket, opening.constData(), opening.size(), words) != opening.size()) {
        CloseSocketGently(socket, 0);
        socket = NetSocket::kNone;
        problem = {PortFault::Network, entry,
                   QStringLiteral("%1 took the connection but not the port settings%2")
                       .arg(address.Label(),
                            words.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(words))};
        return false;
    }
    return true;
}

void NetSerialDevice::Close() {
    CloseSocketGently(socket, dropped ? 0 : LineTiming::kCloseDrainMs);
    socket = NetSocket::kNone;
    dropped = false;
}

void NetSerialDevice::Drop(const QString& why) {
    // The socket stays the line's until the port is closed, so that the crash handler and
    // the guardian never write to a handle the system has given to something else; from
    // here every send on it fails.
    NetSocket::StopSending(socket);
    dropped = true;
    writeProblem = {PortFault::Network, entry, why};
}

int NetSerialDevice::WireLength(const uint8_t* data, uint32_t count) const {
    const bool telnet = address.scheme == NetAddress::Scheme::Rfc2217;
    return telnet ? TelnetEscape::WireLength(data, static_cast<int>(count))
                  : static_cast<int>(count);
}

uint32_t NetSerialDevice::WholeBytes(const uint8_t* data, uint32_t count, int sent) const {
    const bool telnet = address.scheme == NetAddress::Scheme::Rfc2217;
    const int whole = telnet ? TelnetEscape::WholeBytes(data, static_cast<int>(count), sent)
                             : std::min(static_cast<int>(count), sent);
    return static_cast<uint32_t>(whole);
}

uint32_t NetSerialDevice::Write(const uint8_t* data, uint32_t count, int timeoutMs) {
    if (socket == NetSocket::kNone || dropped || count == 0)
        return 0;
    QString words;
    if (!NetSocket::DropIncoming(socket, kDropLimitBytes, words)) {
        Drop(words.isEmpty()
                 ? QStringLiteral("%1 closed the connection").arg(address.Label())
                 : QStringLiteral("the connection to %1 broke (%2)").arg(address.Label(), words));
        return 0;
    }
    const QByteArray wire =
        address.scheme == NetAddress::Scheme::Rfc2217
            ? TelnetComPort::Escaped(data, count)
            : QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(count));
    const QDeadlineTimer deadline(timeoutMs);
    int sent = 0;
    while (sent < wire.size()) {
        const int taken =
            NetSocket::Send(socket, wire.constData() + sent, wire.size() - sent, words);
        if (taken < 0) {
            const uint32_t whole = WholeBytes(data, count, sent);
            Drop(QStringLiteral("the connection to %1 broke (%2)").arg(address.Label(), words));
            return whole;
        }
        sent += taken;
        if (taken == 0 && !NetSocket::WaitForRoom(socket, int(deadline.remainingTime())))
            break;
    }
    const uint32_t whole = WholeBytes(data, count, sent);
    if (sent == wire.size())
        return whole;
    // Half of a doubled 0xFF is on its way: the server would read the next byte as a
    // Telnet command, so the connection cannot go on.
    if (WireLength(data, whole) != sent) {
        Drop(QStringLiteral("%1 took half of an escaped 0xFF byte and then no more; the "
                            "connection was closed")
                 .arg(address.Label()));
        return whole;
    }
    writeProblem = {PortFault::Network, entry,
                    QStringLiteral("%1 took no more bytes within %2 ms (the server is not "
                                   "reading)")
                        .arg(address.Label())
                        .arg(timeoutMs)};
    return whole;
}
