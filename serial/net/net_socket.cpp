#include "net_socket.h"

NetSocket::ConnectOutcome NetSocket::Connect(const QString& host, uint16_t port, int timeoutMs) {
    using Failure = ConnectOutcome::Failure;
    const QDeadlineTimer deadline(timeoutMs);
    QString words;
    const QList<Platform::Address> addresses = Platform::Resolve(host, port, words);
    if (addresses.isEmpty())
        return {kNone, Failure::Unresolved, words};
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
