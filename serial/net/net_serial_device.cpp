#include "net_serial_device.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <mutex>

#include "serial/failsafe/line_timing.h"

namespace {

using Outcome = NetSocket::ConnectOutcome;

// What one read may take before a write goes on: a flood is read a slice at a time,
// never waited out.
constexpr int kReadLimitBytes = 1 << 16;

// How the worker's conversation with an RFC 2217 server ended.
struct Conversation {
    PortFault fault = PortFault::None;
    QString why;
};

// Sends all of bytes on a connection with room for them (the few dozen of the conversation);
// false when it broke or had no room.
bool SendAll(NetSocket::Handle socket, const QByteArray& bytes, QString& words) {
    return bytes.isEmpty() ||
           NetSocket::Send(socket, bytes.constData(), int(bytes.size()), words) == bytes.size();
}

// Reads what the server sent into the conversation and sends the answers it owes; false
// when the connection ended.
bool ReadInto(NetSocket::Handle socket, TelnetComPort& telnet, int limit, QString& words) {
    char buffer[4096];
    while (limit > 0) {
        const int got =
            NetSocket::Receive(socket, buffer, std::min<int>(sizeof buffer, limit), words);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        limit -= got;
        if (!SendAll(socket, telnet.Feed(buffer, got), words))
            return false;
    }
    return true;
}

// Reads and answers until done() or the deadline; false when the connection ended.
template <typename Done>
bool Converse(NetSocket::Handle socket, TelnetComPort& telnet, const QDeadlineTimer& deadline,
              Done done, QString& words) {
    while (!done() && !deadline.hasExpired()) {
        if (NetSocket::WaitForData(socket, int(deadline.remainingTime())) &&
            !ReadInto(socket, telnet, kReadLimitBytes, words))
            return false;
    }
    return true;
}

// Offers the option and binary mode, waits for the answers, sets the far port and checks
// what the server confirms, each step within NetSerialDevice::kNegotiationMs.
Conversation SetFarPort(NetSocket::Handle socket, const NetAddress& address, uint32_t baud,
                        TelnetComPort& telnet) {
    const QString server = address.Label();
    const double seconds = NetSerialDevice::kNegotiationMs / 1000.0;
    QString words;
    const auto ended = [&] {
        return Conversation{PortFault::Network,
                            words.isEmpty()
                                ? QStringLiteral("%1 closed the connection while its port was "
                                                 "being set")
                                      .arg(server)
                                : QStringLiteral("the connection to %1 broke while its port was "
                                                 "being set (%2)")
                                      .arg(server, words)};
    };
    if (!SendAll(socket, telnet.Offers(), words))
        return ended();
    if (!Converse(
            socket, telnet, QDeadlineTimer(NetSerialDevice::kNegotiationMs),
            [&] { return telnet.OffersAnswered(); }, words))
        return ended();
    if (telnet.ComPort() == TelnetComPort::Answer::No)
        return {PortFault::Refused,
                QStringLiteral("%1 refused the COM-PORT-OPTION, so it cannot set its port to "
                               "%2 baud")
                    .arg(server)
                    .arg(baud)};
    if (telnet.ComPort() == TelnetComPort::Answer::Pending)
        return {PortFault::Refused,
                QStringLiteral("%1 did not answer the offer of the COM-PORT-OPTION within %2 s "
                               "(it is no RFC 2217 server?), so its port cannot be set to %3 "
                               "baud")
                    .arg(server)
                    .arg(seconds)
                    .arg(baud)};
    if (!SendAll(socket, telnet.Settings(baud), words))
        return ended();
    if (!Converse(
            socket, telnet, QDeadlineTimer(NetSerialDevice::kNegotiationMs),
            [&] { return telnet.SettingsConfirmed() || !telnet.SettingsFault().isEmpty(); }, words))
        return ended();
    if (!telnet.SettingsFault().isEmpty())
        return {PortFault::Refused, QStringLiteral("%1 %2").arg(server, telnet.SettingsFault())};
    if (!telnet.SettingsConfirmed())
        return {PortFault::Refused, QStringLiteral("%1 did not confirm %2 within %3 s")
                                        .arg(server, telnet.Unconfirmed())
                                        .arg(seconds)};
    return {};
}

QString ConnectFailure(const NetAddress& address, const Outcome& outcome) {
    switch (outcome.failure) {
        case Outcome::Failure::Unresolved:
            return QStringLiteral("cannot find host %1 (%2)").arg(address.host, outcome.words);
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

// Shared by the device and its worker thread, which may outlive the device's wait: a name
// lookup cannot be cut short.
struct NetSerialDevice::OpenJob {
    enum class Stage { Lookup, Connect, Done };
    std::mutex lock;
    Stage stage = Stage::Lookup;
    bool abandoned = false;      // the device stopped waiting: the worker closes what it opened
    QEventLoop* wake = nullptr;  // the device's wait, while it waits
    Outcome outcome;
    Conversation conversation;
    TelnetComPort telnet;

    void Run(const NetAddress& address, uint32_t baud) {
        QString words;
        const QList<NetSocket::Platform::Address> addresses =
            NetSocket::Platform::CurrentResolver()(address.host, address.port, words);
        {
            const std::lock_guard<std::mutex> hold(lock);
            if (abandoned) {
                stage = Stage::Done;
                return;
            }
            stage = Stage::Connect;
        }
        // The connect's bound starts here, once the address is known.
        Outcome connected = addresses.isEmpty()
                                ? Outcome{NetSocket::kNone, Outcome::Failure::Unresolved, words}
                                : NetSocket::Connect(addresses, kConnectMs);
        Conversation talk;
        TelnetComPort session;
        if (connected.failure == Outcome::Failure::None &&
            address.scheme == NetAddress::Scheme::Rfc2217) {
            talk = SetFarPort(connected.socket, address, baud, session);
            if (talk.fault != PortFault::None) {
                // The refusals it was sent are its to read before the end.
                NetSocket::Release(connected.socket, LineTiming::kCloseDrainMs);
                connected.socket = NetSocket::kNone;
            }
        }
        const std::lock_guard<std::mutex> hold(lock);
        stage = Stage::Done;
        if (abandoned) {
            NetSocket::Release(connected.socket, 0);
            return;
        }
        outcome = connected;
        conversation = talk;
        telnet = session;
        if (wake)
            QMetaObject::invokeMethod(wake, &QEventLoop::quit, Qt::QueuedConnection);
    }
};

namespace {

using Job = NetSerialDevice::OpenJob;

// Runs the event loop, without the operator's input, until the job is done or check()
// says to stop waiting; checked every few milliseconds.
template <typename Check>
void WaitBesideEventLoop(Job& job, Check check) {
    const auto finished = [&job] {
        const std::lock_guard<std::mutex> hold(job.lock);
        return job.stage == Job::Stage::Done;
    };
    if (!QCoreApplication::instance()) {
        while (!finished() && !check()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return;
    }
    QEventLoop loop;
    {
        const std::lock_guard<std::mutex> hold(job.lock);
        if (job.stage == Job::Stage::Done)
            return;
        job.wake = &loop;
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (check())
            loop.quit();
    });
    poll.start(20);
    while (!finished() && !check()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    const std::lock_guard<std::mutex> hold(job.lock);
    job.wake = nullptr;
}

}  // namespace

NetSerialDevice::~NetSerialDevice() {
    Close();
    if (!worker.joinable())
        return;
    bool done = false;
    {
        const std::lock_guard<std::mutex> hold(job->lock);
        job->abandoned = true;
        done = job->stage == OpenJob::Stage::Done;
    }
    // A lookup still running ends by itself and closes nothing of this device's.
    if (done)
        worker.join();
    else
        worker.detach();
}

bool NetSerialDevice::Open(const QString& name, uint32_t baud) {
    Close();
    problem = {};
    writeProblem = {};
    telnet = {};
    QString why;
    if (!ParseNetEntry(name, address, why)) {
        problem = {PortFault::UnusableEntry, QString(), QStringLiteral("\"%1\" %2").arg(name, why)};
        return false;
    }
    entry = address.Entry();
    if (worker.joinable()) {
        // The last attempt's lookup may still be running: one at a time, so it is given
        // one more lookup's time to end before anything new starts.
        const QDeadlineTimer last(kLookupMs);
        WaitBesideEventLoop(*job, [&last] { return last.hasExpired(); });
        const std::lock_guard<std::mutex> hold(job->lock);
        if (job->stage != OpenJob::Stage::Done) {
            problem = {PortFault::Network, entry,
                       QStringLiteral("the lookup of a host from the last attempt has not "
                                      "ended; press COMMUNICATION SET again in a moment")};
            return false;
        }
    }
    if (worker.joinable())
        worker.join();
    job = std::make_shared<OpenJob>();
    worker = std::thread([shared = job, target = address, baud] { shared->Run(target, baud); });
    const QDeadlineTimer lookup(kLookupMs);
    // Past the lookup, the worker bounds its connect and conversation itself; this cap only
    // keeps a fault there from holding the window.
    constexpr int kCapMs = kLookupMs + kConnectMs + 2 * kNegotiationMs + 1000;
    const QDeadlineTimer cap(kCapMs);
    bool lookupTooSlow = false;
    WaitBesideEventLoop(*job, [&] {
        const std::lock_guard<std::mutex> hold(job->lock);
        lookupTooSlow = job->stage == OpenJob::Stage::Lookup && lookup.hasExpired();
        return lookupTooSlow || cap.hasExpired();
    });
    std::unique_lock<std::mutex> hold(job->lock);
    if (job->stage != OpenJob::Stage::Done) {
        job->abandoned = true;
        problem = {PortFault::Network, entry,
                   lookupTooSlow ? QStringLiteral("cannot find host %1: the name service did not "
                                                  "answer within %2 s")
                                       .arg(address.host)
                                       .arg(kLookupMs / 1000.0)
                                 : QStringLiteral("no answer from %1 within %2 s")
                                       .arg(address.Label())
                                       .arg(kCapMs / 1000.0)};
        return false;
    }
    const Outcome outcome = job->outcome;
    const Conversation talk = job->conversation;
    telnet = job->telnet;
    hold.unlock();
    worker.join();
    if (outcome.failure != Outcome::Failure::None) {
        problem = {PortFault::Network, entry, ConnectFailure(address, outcome)};
        return false;
    }
    if (talk.fault != PortFault::None) {
        problem = {talk.fault, entry, talk.why};
        return false;
    }
    socket = outcome.socket;
    return true;
}

void NetSerialDevice::Close() {
    NetSocket::Release(socket, dropped ? 0 : LineTiming::kCloseDrainMs);
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

bool NetSerialDevice::ReadIncoming() {
    QString words;
    const bool open = Telnetting() ? ReadInto(socket, telnet, kReadLimitBytes, words)
                                   : NetSocket::DropIncoming(socket, kReadLimitBytes, words);
    if (!open)
        Drop(words.isEmpty()
                 ? QStringLiteral("%1 closed the connection").arg(address.Label())
                 : QStringLiteral("the connection to %1 broke (%2)").arg(address.Label(), words));
    return open;
}

bool NetSerialDevice::CheckLine() {
    if (socket == NetSocket::kNone || dropped)
        return !dropped;
    return ReadIncoming();
}

int NetSerialDevice::WireLength(const uint8_t* data, uint32_t count) const {
    return Telnetting() ? telnet.WireLength(data, count) : static_cast<int>(count);
}

uint32_t NetSerialDevice::WholeBytes(const uint8_t* data, uint32_t count, int sent) const {
    return Telnetting() ? telnet.WholeBytes(data, count, sent)
                        : static_cast<uint32_t>(std::min(static_cast<int>(count), sent));
}

uint32_t NetSerialDevice::Write(const uint8_t* data, uint32_t count, int timeoutMs) {
    if (socket == NetSocket::kNone || dropped || count == 0)
        return 0;
    if (!ReadIncoming())
        return 0;
    if (Telnetting() && telnet.Suspended()) {
        writeProblem = {PortFault::Network, entry,
                        QStringLiteral("%1 asked the keypad to hold its data "
                                       "(FLOWCONTROL-SUSPEND) and has not let it go on")
                            .arg(address.Label())};
        return 0;
    }
    const QByteArray wire =
        Telnetting() ? telnet.Escaped(data, count)
                     : QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(count));
    const QDeadlineTimer deadline(timeoutMs);
    // Bytes that cannot leave would reach the server late: the byte joins those waiting only
    // while both stay within their bounds, else it is refused and the frame given up, as
    // on a local line. A peer that acknowledges nothing for NetSocket::kPeerGoneMs is gone,
    // and what still waits here goes with the connection.
    const auto full = [this, &wire](int& unsent, int& unacknowledged) {
        unsent = NetSocket::Unsent(socket);
        unacknowledged = NetSocket::Unacknowledged(socket);
        return (unsent >= 0 && unsent + wire.size() > kMaxQueuedBytes) ||
               (unacknowledged >= 0 && unacknowledged + wire.size() > kMaxUnacknowledgedBytes);
    };
    int unsent = 0;
    int unacknowledged = 0;
    while (full(unsent, unacknowledged)) {
        if (deadline.hasExpired()) {
            writeProblem = {
                PortFault::Network, entry,
                QStringLiteral("%1 took no byte within %2 ms (%3 bytes unsent, %4 not "
                               "acknowledged): the server is not reading or the network has "
                               "stalled; the frame was given up so that it cannot arrive late")
                    .arg(address.Label())
                    .arg(timeoutMs)
                    .arg(std::max(unsent, 0))
                    .arg(std::max(unacknowledged - std::max(unsent, 0), 0))};
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    QString words;
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
    // Half of an escaped byte is on its way: the server would read the next byte as part
    // of it, so the connection cannot go on.
    if (WireLength(data, whole) != sent) {
        Drop(QStringLiteral("%1 took half of an escaped byte and then no more; the "
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
