#include "net_serial_device.h"

#include <algorithm>
#include <thread>

#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/telnet_escape.h"

namespace {

using Outcome = NetSocket::ConnectOutcome;
using Event = TelnetConversation::Event;

// What one look at the line may read: a flood is read a slice at a time, never waited out.
constexpr int kReadLimitBytes = 1 << 16;

QString ConnectFailure(const NetAddress& address, const Outcome& outcome) {
    switch (outcome.failure) {
        case Outcome::Failure::Refused:
            return QStringLiteral("%1 refused the connection").arg(address.Label());
        case Outcome::Failure::NoAnswer:
            return QStringLiteral("no answer from %1 within %2 s")
                .arg(address.Label())
                .arg(NetSerialDevice::kConnectMs / 1000.0);
        case Outcome::Failure::Other:
        case Outcome::Failure::None:
            break;
    }
    return QStringLiteral("could not connect to %1 (%2)").arg(address.Label(), outcome.words);
}

}  // namespace

NetSerialDevice::~NetSerialDevice() {
    Close();
    // The system writes into a lookup it went on with once that ends: it is left to the
    // system rather than freed under it.
    if (unfinished && !unfinished->Cancel())
        static_cast<void>(unfinished.release());
}

bool NetSerialDevice::Open(const QString& name, uint32_t baud) {
    Close();
    problem = {};
    fault = {};
    QString why;
    if (!ParseNetEntry(name, address, why)) {
        problem = {PortFault::UnusableEntry, QString(), QStringLiteral("\"%1\" %2").arg(name, why)};
        return false;
    }
    entry = address.Entry();
    QList<NetSocket::Platform::Address> addresses;
    if (!LookUp(addresses))
        return false;
    // The connect's bound starts here, once the address is known.
    const Outcome connected = NetSocket::Connect(addresses, kConnectMs);
    if (connected.failure != Outcome::Failure::None) {
        problem = {PortFault::Network, entry, ConnectFailure(address, connected)};
        return false;
    }
    if (Telnetting() && !SetFarPort(connected.socket, baud)) {
        // The refusals it was sent are its to read before the end.
        NetSocket::Release(connected.socket, LineTiming::kCloseDrainMs);
        return false;
    }
    socket = connected.socket;
    return true;
}

bool NetSerialDevice::LookUp(QList<NetSocket::Platform::Address>& addresses) {
    if (NetSocket::Platform::Numeric(address.host, address.port, addresses))
        return true;
    // One lookup at a time: one that the system went on with is given one more lookup's
    // time to end before the next starts.
    if (unfinished && !unfinished->Wait(QDeadlineTimer(kLookupMs))) {
        problem = {PortFault::Network, entry,
                   QStringLiteral("the lookup of a host from the last attempt has not ended; "
                                  "press COMMUNICATION SET again in a moment")};
        return false;
    }
    unfinished.reset();
    std::unique_ptr<NetSocket::Platform::Lookup> lookup =
        NetSocket::Platform::CurrentResolver()(address.host, address.port);
    if (!lookup->Wait(QDeadlineTimer(kLookupMs))) {
        if (!lookup->Cancel())
            unfinished = std::move(lookup);
        problem = {PortFault::Network, entry,
                   QStringLiteral("cannot find host %1: the name service did not answer within "
                                  "%2 s")
                       .arg(address.host)
                       .arg(kLookupMs / 1000.0)};
        return false;
    }
    QString words;
    addresses = lookup->Addresses(words);
    if (addresses.isEmpty()) {
        problem = {PortFault::Network, entry,
                   QStringLiteral("cannot find host %1 (%2)").arg(address.host, words)};
        return false;
    }
    return true;
}

bool NetSerialDevice::SetFarPort(NetSocket::Handle connection, uint32_t baud) {
    telnet = TelnetConversation(address.Label(), baud);
    QDeadlineTimer phase;
    int error = 0;
    const auto carryOut = [&](const TelnetConversation::Actions& actions) {
        if (actions.startClock)
            phase.setRemainingTime(kNegotiationMs);
        const int length = int(actions.send.size());
        return length == 0 ||
               NetSocket::Send(connection, actions.send.constData(), length, error) == length;
    };
    bool standing = carryOut(telnet.Handle(Event::Start));
    while (standing && telnet.Opening()) {
        if (phase.hasExpired()) {
            standing = carryOut(telnet.Handle(Event::TimeUp));
        } else if (NetSocket::WaitForData(connection, int(phase.remainingTime()))) {
            char buffer[4096];
            const int got = NetSocket::Receive(connection, buffer, sizeof buffer, error);
            standing = got >= 0 && carryOut(telnet.Handle(Event::Received, buffer, got));
        }
    }
    if (!standing) {
        telnet.Handle(Event::Ended);
        problem = {PortFault::Network, entry,
                   error == 0 ? QStringLiteral("%1 closed the connection while its port was being "
                                               "set")
                                    .arg(address.Label())
                              : QStringLiteral("the connection to %1 broke while its port was "
                                               "being set (%2)")
                                    .arg(address.Label(), SystemErrorWords(error))};
        return false;
    }
    if (telnet.Current() == TelnetConversation::State::Refused) {
        problem = {PortFault::Refused, entry, telnet.Refusal()};
        return false;
    }
    return true;
}

void NetSerialDevice::Close() {
    NetSocket::Release(socket, dropped ? 0 : LineTiming::kCloseDrainMs);
    socket = NetSocket::kNone;
    dropped = false;
    telnet = {};
}

void NetSerialDevice::Abandon() {
    NetSocket::Forget(socket);
    socket = NetSocket::kNone;
    dropped = false;
    telnet = {};
}

void NetSerialDevice::Drop(Fault::Kind kind, int error) {
    // The socket stays the line's until the port is closed, so that the crash handler and
    // the guardian never write to a handle the system has given to something else; from
    // here every send on it fails.
    NetSocket::StopSending(socket);
    dropped = true;
    fault = {kind, error};
}

bool NetSerialDevice::CheckLine() {
    if (socket == NetSocket::kNone || dropped)
        return !dropped;
    char buffer[4096];
    for (int limit = kReadLimitBytes; limit > 0;) {
        int error = 0;
        const int got =
            NetSocket::Receive(socket, buffer, std::min<int>(sizeof buffer, limit), error);
        if (got == 0)
            break;
        if (got < 0) {
            Drop(error == 0 ? Fault::Kind::Closed : Fault::Kind::Broke, error);
            return false;
        }
        limit -= got;
        if (!Telnetting())
            continue;
        const QByteArray answers = telnet.Handle(Event::Received, buffer, got).send;
        const int length = int(answers.size());
        const int sent =
            length == 0 ? 0 : NetSocket::Send(socket, answers.constData(), length, error);
        if (sent != length) {
            Drop(sent < 0 ? Fault::Kind::Broke : Fault::Kind::Unanswered, error);
            return false;
        }
    }
    // While the server holds the flow, that is why nothing is written; once it lets go, no
    // more.
    if (FlowHeld() && fault.kind == Fault::Kind::None)
        fault = {Fault::Kind::Held};
    else if (!FlowHeld() && fault.kind == Fault::Kind::Held)
        fault = {};
    return true;
}

bool NetSerialDevice::FlowHeld() const {
    return telnet.Current() == TelnetConversation::State::Held;
}

LineKind NetSerialDevice::NativeKind() const {
    if (!Telnetting())
        return LineKind::Socket;
    return telnet.Options().BinaryOut() == TelnetComPort::Answer::Yes ? LineKind::TelnetSocket
                                                                      : LineKind::TelnetTextSocket;
}

bool NetSerialDevice::WaitForQueueRoom(int length, const QDeadlineTimer& deadline, int timeoutMs) {
    // Bytes that cannot leave would reach the server late: a byte joins those waiting only
    // while both stay within their bounds, else it is refused and the frame given up, as on
    // a local line. A peer that acknowledges nothing for NetSocket::kPeerGoneMs is gone, and
    // what still waits here goes with the connection.
    for (;;) {
        const int unsent = NetSocket::Unsent(socket);
        const int unacknowledged = NetSocket::Unacknowledged(socket);
        if ((unsent < 0 || unsent + length <= kMaxQueuedBytes) &&
            (unacknowledged < 0 || unacknowledged + length <= kMaxUnacknowledgedBytes))
            return true;
        if (deadline.hasExpired()) {
            const int waiting = std::max(unsent, 0);
            fault = {Fault::Kind::Stalled, 0, timeoutMs, waiting,
                     std::max(unacknowledged - waiting, 0)};
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
}

uint32_t NetSerialDevice::Write(const uint8_t* data, uint32_t count, int timeoutMs) {
    if (socket == NetSocket::kNone || dropped || count == 0)
        return 0;
    if (FlowHeld()) {
        fault = {Fault::Kind::Held};
        return 0;
    }
    const QDeadlineTimer deadline(timeoutMs);
    const bool binary = telnet.Options().BinaryOut() == TelnetComPort::Answer::Yes;
    for (uint32_t i = 0; i < count; ++i) {
        // One data byte is at most two on the wire: 0xFF doubled, CR followed by NUL.
        uint8_t wire[2] = {data[i], 0};
        const int length = Telnetting() ? TelnetEscape::Escape(&data[i], 1, wire, binary) : 1;
        if (!WaitForQueueRoom(length, deadline, timeoutMs))
            return i;
        int sent = 0;
        int error = 0;
        while (sent < length) {
            const int taken = NetSocket::Send(socket, reinterpret_cast<const char*>(wire) + sent,
                                              length - sent, error);
            if (taken < 0) {
                Drop(Fault::Kind::Broke, error);
                return i;
            }
            sent += taken;
            if (taken == 0 && !NetSocket::WaitForRoom(socket, int(deadline.remainingTime())))
                break;
        }
        if (sent == length)
            continue;
        // Half of an escaped byte is on its way: the server would read the next byte as
        // part of it, so the connection cannot go on.
        if (sent > 0)
            Drop(Fault::Kind::HalfEscaped);
        else
            fault = {Fault::Kind::NotTaken, 0, timeoutMs};
        return i;
    }
    return count;
}

PortProblem NetSerialDevice::WriteProblem() const {
    if (fault.kind == Fault::Kind::None)
        return {};
    return {PortFault::Network, entry, FaultWords()};
}

QString NetSerialDevice::FaultWords() const {
    const QString server = address.Label();
    switch (fault.kind) {
        case Fault::Kind::Closed:
            return QStringLiteral("%1 closed the connection").arg(server);
        case Fault::Kind::Broke:
            return QStringLiteral("the connection to %1 broke (%2)")
                .arg(server, SystemErrorWords(fault.error));
        case Fault::Kind::Unanswered:
            return QStringLiteral(
                       "%1 took no answer to its Telnet messages; the connection was "
                       "closed")
                .arg(server);
        case Fault::Kind::Held:
            return QStringLiteral(
                       "%1 asked the keypad to hold its data (FLOWCONTROL-SUSPEND) "
                       "and has not let it go on")
                .arg(server);
        case Fault::Kind::Stalled:
            return QStringLiteral(
                       "%1 took no byte within %2 ms (%3 bytes unsent, %4 not "
                       "acknowledged): the server is not reading or the network has "
                       "stalled; the frame was given up so that it cannot arrive late")
                .arg(server)
                .arg(fault.timeoutMs)
                .arg(fault.unsent)
                .arg(fault.unacknowledged);
        case Fault::Kind::NotTaken:
            return QStringLiteral(
                       "%1 took no more bytes within %2 ms (the server is not "
                       "reading)")
                .arg(server)
                .arg(fault.timeoutMs);
        case Fault::Kind::HalfEscaped:
            return QStringLiteral(
                       "%1 took half of an escaped byte and then no more; the "
                       "connection was closed")
                .arg(server);
        case Fault::Kind::None:
            break;
    }
    return QString();
}
