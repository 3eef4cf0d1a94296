#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <cstdint>
#include <memory>

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
    enum class Failure { None, Refused, NoAnswer, Other };
    Handle socket = kNone;
    Failure failure = Failure::None;
    QString words;  // the system's own words for Other
};

namespace Platform {
struct Address;
}

// Connects to the first of the addresses that answers, giving up timeoutMs after the call.
ConnectOutcome Connect(const QList<Platform::Address>& addresses, int timeoutMs);

// Sends what the socket takes now: the count taken, 0 when it has no room, -1 when the
// connection broke (error is the system's code). Allocates nothing.
int Send(Handle socket, const char* data, int count, int& error);
// Waits at most timeoutMs for room to send; false when there was none in time.
bool WaitForRoom(Handle socket, int timeoutMs);
// Sends nothing more on the socket, from any process that holds it; the server sees the
// end of the connection.
void StopSending(Handle socket);
// Reads at most count bytes of what the server sent: the count read, 0 when nothing is
// there, -1 when the server closed the connection (error 0) or it broke (the system's code).
int Receive(Handle socket, char* data, int count, int& error);
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
// Closes this process's handle alone, at once and without ending the connection: a copy
// held elsewhere (the guardian's) keeps it as it is, bytes queued included.
void Forget(Handle socket);

// The platform's halves of the lookup and of Connect.
namespace Platform {

// One address a name stands for, as the system's resolver gives it.
struct Address {
    int family = 0;
    int type = 0;
    int protocol = 0;
    QByteArray sockaddr;
};

// A name lookup that runs beside its caller, the system's resolver doing the work: waited
// for with a deadline, and stopped where the system can stop it. Destroyed only once it has
// ended or Cancel said it stopped: until then the system may still write into it.
class Lookup {
public:
    virtual ~Lookup() = default;
    // Waits until the lookup has ended or the deadline has passed; true when it has ended.
    virtual bool Wait(const QDeadlineTimer& deadline) = 0;
    // Once ended: the addresses found, in the resolver's order; on a failure none, and the
    // system's words for it.
    virtual QList<Address> Addresses(QString& words) = 0;
    // Stops a lookup that has not ended; true when it has stopped or ended, false when the
    // system goes on with it (it is then waited for before the next one starts).
    virtual bool Cancel() = 0;
};

// The addresses of a numeric host (an IPv4 address, an IPv6 address without brackets), found
// without asking any name service; false when host is a name.
bool Numeric(const QString& host, uint16_t port, QList<Address>& addresses);
// Starts looking host up with the system's resolver.
std::unique_ptr<Lookup> Resolve(const QString& host, uint16_t port);
// The resolver that Connect's callers use: the system's, or a test's slow or failing one.
using Resolver = std::unique_ptr<Lookup> (*)(const QString& host, uint16_t port);
Resolver CurrentResolver();
void SetResolver(Resolver resolver);

ConnectOutcome ConnectOne(const Address& address, const QDeadlineTimer& deadline);
// Closes the socket: abortive drops what is still queued and resets the connection.
void Close(Handle socket, bool abortive);

}  // namespace Platform

}  // namespace NetSocket
