#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <cstdint>

// The platform's stream sockets, as the network line uses them: non-blocking, with
// TCP_NODELAY so that every byte leaves when written and the line's pauses survive, and a
// peer that stops acknowledging declared gone within kPeerGoneMs (a user time-out for
// unacknowledged data, keep-alive probes for an idle connection).
namespace NetSocket {

using Handle = intptr_t;
constexpr Handle kNone = -1;

// How long a connection may go without the peer acknowledging before it counts as broken.
constexpr int kPeerGoneMs = 4000;

struct ConnectOutcome {
    enum class Failure { None, Unresolved, Refused, NoAnswer, Other };
    Handle socket = kNone;
    Failure failure = Failure::None;
    QString words;  // the system's own words for Unresolved and Other
};

namespace Platform {
struct Address;
}

// Connects to the first of the addresses that answers, giving up timeoutMs after the call.
ConnectOutcome Connect(const QList<Platform::Address>& addresses, int timeoutMs);

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
// Reads at most count bytes of what the server sent: the count read, 0 when nothing is
// there, -1 when the server closed the connection or it broke (words then says how,
// empty for a close).
int Receive(Handle socket, char* data, int count, QString& words);
// Waits at most timeoutMs for something to read (or the end of the connection).
bool WaitForData(Handle socket, int timeoutMs);
// The bytes handed to the socket that the peer has not yet acknowledged, sent or not;
// -1 when the system cannot tell (the send buffer is then as small as it takes).
int Unacknowledged(Handle socket);
// Of those, the bytes not yet sent at all: the peer's window is closed, or the network
// took none of the last ones. -1 when the system cannot tell.
int Unsent(Handle socket);
// Closes the socket. Bytes the peer has not acknowledged after drainMs are dropped with
// the connection (an abortive close, the peer sees a reset), never delivered later.
void Release(Handle socket, int drainMs);

// The platform's halves of Connect.
namespace Platform {

// One address a name stands for, as the system's resolver gives it.
struct Address {
    int family = 0;
    int type = 0;
    int protocol = 0;
    QByteArray sockaddr;
};

// The addresses of host, in the resolver's order; on a failure, none and its words. It
// cannot be cut short: it takes as long as the system's resolver takes.
QList<Address> Resolve(const QString& host, uint16_t port, QString& words);
// The resolver that Connect's callers use: the system's, or a test's slow or failing one.
using Resolver = QList<Address> (*)(const QString& host, uint16_t port, QString& words);
Resolver CurrentResolver();
void SetResolver(Resolver resolver);
ConnectOutcome ConnectOne(const Address& address, const QDeadlineTimer& deadline);
// Closes the socket: abortive drops what is still queued and resets the connection.
void Close(Handle socket, bool abortive);

}  // namespace Platform

}  // namespace NetSocket
