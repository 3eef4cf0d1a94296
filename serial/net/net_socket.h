#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <cstdint>

// The platform's stream sockets, as the network line uses them: non-blocking, with
// TCP_NODELAY so that every byte leaves when written and the line's pauses survive.
namespace NetSocket {

using Handle = intptr_t;
constexpr Handle kNone = -1;

struct ConnectOutcome {
    enum class Failure { None, Unresolved, Refused, NoAnswer, Other };
    Handle socket = kNone;
    Failure failure = Failure::None;
    QString words;  // the system's own words for Unresolved and Other
};

// Resolves host and connects to the first of its addresses that answers, giving up
// timeoutMs after the call for the connect (the name lookup is the system's own).
ConnectOutcome Connect(const QString& host, uint16_t port, int timeoutMs);

// Sends what the socket takes now: the count taken, 0 when it has no room, -1 when the
// connection broke (words says how).
int Send(Handle socket, const char* data, int count, QString& words);
// Waits at most timeoutMs for room to send; false when there was none in time.
bool WaitForRoom(Handle socket, int timeoutMs);
// Reads and drops at most limit bytes of what the server sent. False when the server
// closed the connection or it broke (words then says how, empty for a close).
bool DropIncoming(Handle socket, int limit, QString& words);
// Sends nothing more on the socket, from any process that holds it; the server sees the
// end of the connection.
void StopSending(Handle socket);

// The platform's halves of Connect.
namespace Platform {

// One address a name stands for, as the system's resolver gives it.
struct Address {
    int family = 0;
    int type = 0;
    int protocol = 0;
    QByteArray sockaddr;
};

// The addresses of host, in the resolver's order; on a failure, none and its words.
QList<Address> Resolve(const QString& host, uint16_t port, QString& words);
ConnectOutcome ConnectOne(const Address& address, const QDeadlineTimer& deadline);

}  // namespace Platform

}  // namespace NetSocket
