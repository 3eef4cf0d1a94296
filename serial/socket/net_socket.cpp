#include "net_socket.h"

#include <atomic>
#include <thread>

namespace {
std::atomic<NetSocket::Platform::Resolver> resolver{&NetSocket::Platform::Resolve};
}

NetSocket::Platform::Resolver NetSocket::Platform::CurrentResolver() {
    return resolver.load();
}

void NetSocket::Platform::SetResolver(Resolver replacement) {
    resolver = replacement ? replacement : &Resolve;
}

NetSocket::ConnectOutcome NetSocket::Connect(const QList<Platform::Address>& addresses,
                                             int timeoutMs) {
    using Failure = ConnectOutcome::Failure;
    const QDeadlineTimer deadline(timeoutMs);
    // Every address of the name in turn, as long as time is left: a refusal on one is
    // no answer for the others.
    ConnectOutcome outcome{kNone, Failure::NoAnswer, QString()};
    for (const Platform::Address& address : addresses) {
        if (deadline.hasExpired())
            break;
        outcome = Platform::ConnectOne(address, deadline);
        if (outcome.failure == Failure::None)
            break;
    }
    return outcome;
}

void NetSocket::Release(Handle socket, int drainMs) {
    if (socket == kNone)
        return;
    const QDeadlineTimer deadline(drainMs);
    int queued = Unacknowledged(socket);
    while (queued > 0 && !deadline.hasExpired()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        queued = Unacknowledged(socket);
    }
    // Where the system cannot tell, what may still be queued is dropped as well.
    Platform::Close(socket, queued != 0);
}
