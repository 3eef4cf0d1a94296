#include "net_socket.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "serial/line/port_problem.h"

namespace {

using Outcome = NetSocket::ConnectOutcome;

// The device bounds what waits in the socket by asking how much is unacknowledged; the
// buffer itself only needs room for that bound in one-byte segments, which the kernel
// counts at about a kilobyte each.
constexpr int kSendBufferBytes = 64 * 1024;
// Keep-alive on an idle connection: the first probe after this long, then every
// kKeepAliveIntervalS, and the peer is gone after kKeepAliveProbes unanswered.
constexpr int kKeepAliveIdleS = 2;
constexpr int kKeepAliveIntervalS = 1;
constexpr int kKeepAliveProbes = 2;

void DeclarePeerGoneSoon(int socket) {
    const int on = 1;
    const unsigned int userTimeout = NetSocket::kPeerGoneMs;
    ::setsockopt(socket, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
    ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleS, sizeof kKeepAliveIdleS);
    ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalS,
                 sizeof kKeepAliveIntervalS);
    ::setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof kKeepAliveProbes);
}

// Waits for events on the socket until the deadline; the poll result, EINTR retried.
int PollUntil(int socket, short events, const QDeadlineTimer& deadline) {
    for (;;) {
        struct pollfd entry = {socket, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(deadline.remainingTime()));
        if (ready >= 0 || errno != EINTR)
            return ready;
    }
}

}  // namespace

QList<NetSocket::Platform::Address> NetSocket::Platform::Resolve(const QString& host, uint16_t port,
                                                                 QString& words) {
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    struct addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(host.toLatin1().constData(),
                                     QByteArray::number(port).constData(), &hints, &found);
    QList<Address> addresses;
    if (lookup != 0) {
        words = QString::fromLocal8Bit(gai_strerror(lookup));
        return addresses;
    }
    for (const struct addrinfo* entry = found; entry; entry = entry->ai_next)
        addresses.append({entry->ai_family, entry->ai_socktype, entry->ai_protocol,
                          QByteArray(reinterpret_cast<const char*>(entry->ai_addr),
                                     static_cast<int>(entry->ai_addrlen))});
    ::freeaddrinfo(found);
    return addresses;
}

NetSocket::ConnectOutcome NetSocket::Platform::ConnectOne(const Address& address,
                                                          const QDeadlineTimer& deadline) {
    const int socket = ::socket(address.family, address.type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return {NetSocket::kNone, Outcome::Failure::Other, SystemErrorWords(errno)};
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
    DeclarePeerGoneSoon(socket);
    int error = 0;
    if (::connect(socket, reinterpret_cast<const struct sockaddr*>(address.sockaddr.constData()),
                  static_cast<socklen_t>(address.sockaddr.size())) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            const int ready = PollUntil(socket, POLLOUT, deadline);
            socklen_t length = sizeof error;
            if (ready == 0)
                error = ETIMEDOUT;
            else if (ready < 0)
                error = errno;
            else
                ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length);
        }
    }
    if (error == 0)
        return {socket, Outcome::Failure::None, QString()};
    ::close(socket);
    if (error == ECONNREFUSED)
        return {NetSocket::kNone, Outcome::Failure::Refused, QString()};
    if (error == ETIMEDOUT)
        return {NetSocket::kNone, Outcome::Failure::NoAnswer, QString()};
    return {NetSocket::kNone, Outcome::Failure::Other, SystemErrorWords(error)};
}

int NetSocket::Send(Handle socket, const char* data, int count, QString& words) {
    for (;;) {
        const ssize_t sent = ::send(static_cast<int>(socket), data, static_cast<size_t>(count),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0)
            return static_cast<int>(sent);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        words = SystemErrorWords(errno);
        return -1;
    }
}

bool NetSocket::WaitForRoom(Handle socket, int timeoutMs) {
    // A broken connection counts as room: the send that follows reports it.
    return PollUntil(static_cast<int>(socket), POLLOUT, QDeadlineTimer(timeoutMs)) > 0;
}

bool NetSocket::DropIncoming(Handle socket, int limit, QString& words) {
    char buffer[4096];
    while (limit > 0) {
        const ssize_t got = ::recv(static_cast<int>(socket), buffer,
                                   std::min<size_t>(sizeof buffer, size_t(limit)), MSG_DONTWAIT);
        if (got > 0) {
            limit -= static_cast<int>(got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        words = got == 0 ? QString() : SystemErrorWords(errno);
        return false;
    }
    return true;
}

void NetSocket::StopSending(Handle socket) {
    if (socket != kNone)
        ::shutdown(static_cast<int>(socket), SHUT_WR);
}

int NetSocket::Receive(Handle socket, char* data, int count, QString& words) {
    for (;;) {
        const ssize_t got =
            ::recv(static_cast<int>(socket), data, static_cast<size_t>(count), MSG_DONTWAIT);
        if (got > 0)
            return static_cast<int>(got);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        words = got == 0 ? QString() : SystemErrorWords(errno);
        return -1;
    }
}

bool NetSocket::WaitForData(Handle socket, int timeoutMs) {
    return PollUntil(static_cast<int>(socket), POLLIN, QDeadlineTimer(timeoutMs)) > 0;
}

int NetSocket::Unacknowledged(Handle socket) {
    int queued = 0;
    if (::ioctl(static_cast<int>(socket), SIOCOUTQ, &queued) != 0)
        return -1;
    return queued;
}

int NetSocket::Unsent(Handle socket) {
    int unsent = 0;
    if (::ioctl(static_cast<int>(socket), SIOCOUTQNSD, &unsent) != 0)
        return -1;
    return unsent;
}

void NetSocket::Platform::Close(Handle socket, bool abortive) {
    const int fd = static_cast<int>(socket);
    if (abortive) {
        const struct linger now = {1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    } else {
        ::shutdown(fd, SHUT_WR);
    }
    ::close(fd);
}
