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

struct addrinfo StreamHints(int flags) {
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | flags;
    return hints;
}

QList<NetSocket::Platform::Address> AddressesOf(const struct addrinfo* found) {
    QList<NetSocket::Platform::Address> addresses;
    for (const struct addrinfo* entry = found; entry; entry = entry->ai_next)
        addresses.append({entry->ai_family, entry->ai_socktype, entry->ai_protocol,
                          QByteArray(reinterpret_cast<const char*>(entry->ai_addr),
                                     static_cast<int>(entry->ai_addrlen))});
    return addresses;
}

// glibc's lookup beside the caller (getaddrinfo_a, GAI_NOWAIT), waited for with
// gai_suspend's time-out. gai_cancel stops a request still queued; one that a resolver thread
// has begun runs on (EAI_NOTCANCELED) and is written into when it ends.
class SystemLookup : public NetSocket::Platform::Lookup {
public:
    SystemLookup(const QString& host, uint16_t port)
        : name(host.toLatin1()), service(QByteArray::number(port)), hints(StreamHints(0)) {
        request.ar_name = name.constData();
        request.ar_service = service.constData();
        request.ar_request = &hints;
        struct gaicb* list[] = {&request};
        started = ::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr);
    }
    ~SystemLookup() override {
        if (Status() == 0)
            ::freeaddrinfo(request.ar_result);
    }
    bool Wait(const QDeadlineTimer& deadline) override {
        while (Status() == EAI_INPROGRESS) {
            const qint64 ms = deadline.remainingTime();
            if (ms == 0)
                return false;
            const struct timespec wait = {static_cast<time_t>(ms / 1000),
                                          static_cast<long>(ms % 1000 * 1000000)};
            const struct gaicb* list[] = {&request};
            // EAI_AGAIN at the time-out, EAI_INTR for a signal: the status says which.
            ::gai_suspend(list, 1, &wait);
        }
        return true;
    }
    QList<NetSocket::Platform::Address> Addresses(QString& words) override {
        const int status = Status();
        if (status == 0)
            return AddressesOf(request.ar_result);
        words = QString::fromLocal8Bit(::gai_strerror(status));
        return {};
    }
    bool Cancel() override {
        return Status() != EAI_INPROGRESS || ::gai_cancel(&request) != EAI_NOTCANCELED;
    }

private:
    // 0 once found, EAI_INPROGRESS while running, else why it failed.
    int Status() { return started != 0 ? started : ::gai_error(&request); }

    QByteArray name;
    QByteArray service;
    struct addrinfo hints;
    struct gaicb request {};
    int started = 0;
};

}  // namespace

bool NetSocket::Platform::Numeric(const QString& host, uint16_t port, QList<Address>& addresses) {
    // AI_NUMERICHOST: a text that is no address fails at once, without a name service.
    const struct addrinfo hints = StreamHints(AI_NUMERICHOST);
    struct addrinfo* found = nullptr;
    if (::getaddrinfo(host.toLatin1().constData(), QByteArray::number(port).constData(), &hints,
                      &found) != 0)
        return false;
    addresses = AddressesOf(found);
    ::freeaddrinfo(found);
    return true;
}

std::unique_ptr<NetSocket::Platform::Lookup> NetSocket::Platform::Resolve(const QString& host,
                                                                          uint16_t port) {
    return std::make_unique<SystemLookup>(host, port);
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

int NetSocket::Send(Handle socket, const char* data, int count, int& error) {
    for (;;) {
        const ssize_t sent = ::send(static_cast<int>(socket), data, static_cast<size_t>(count),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0)
            return static_cast<int>(sent);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        error = errno;
        return -1;
    }
}

bool NetSocket::WaitForRoom(Handle socket, int timeoutMs) {
    // A broken connection counts as room: the send that follows reports it.
    return PollUntil(static_cast<int>(socket), POLLOUT, QDeadlineTimer(timeoutMs)) > 0;
}

void NetSocket::StopSending(Handle socket) {
    if (socket != kNone)
        ::shutdown(static_cast<int>(socket), SHUT_WR);
}

int NetSocket::Receive(Handle socket, char* data, int count, int& error) {
    for (;;) {
        const ssize_t got =
            ::recv(static_cast<int>(socket), data, static_cast<size_t>(count), MSG_DONTWAIT);
        if (got > 0)
            return static_cast<int>(got);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        error = got == 0 ? 0 : errno;
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

void NetSocket::Forget(Handle socket) {
    // No shutdown: that would end the connection for every process that holds it.
    if (socket != kNone)
        ::close(static_cast<int>(socket));
}
