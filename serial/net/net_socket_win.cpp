#include "net_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "serial/line/port_problem.h"

namespace {

using Outcome = NetSocket::ConnectOutcome;

// As on Linux: bounded, yet roomy enough for a slow network's unacknowledged bytes.
constexpr int kSendBufferBytes = 64 * 1024;

bool StartWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// select(), not WSAPoll: WSAPoll does not report a failed connect on older Windows.
int WaitFor(SOCKET socket, bool write, const QDeadlineTimer& deadline) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    const qint64 ms = std::max<qint64>(0, deadline.remainingTime());
    timeval wait{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000 * 1000)};
    return select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &wait);
}

}  // namespace

QList<NetSocket::Platform::Address> NetSocket::Platform::Resolve(const QString& host, uint16_t port,
                                                                 QString& words) {
    QList<Address> addresses;
    if (!StartWinsock()) {
        words = SystemErrorWords(WSAGetLastError());
        return addresses;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int lookup = getaddrinfo(host.toLatin1().constData(),
                                   QByteArray::number(port).constData(), &hints, &found);
    if (lookup != 0) {
        words = SystemErrorWords(lookup);
        return addresses;
    }
    for (const addrinfo* entry = found; entry; entry = entry->ai_next)
        addresses.append({entry->ai_family, entry->ai_socktype, entry->ai_protocol,
                          QByteArray(reinterpret_cast<const char*>(entry->ai_addr),
                                     static_cast<int>(entry->ai_addrlen))});
    freeaddrinfo(found);
    return addresses;
}

NetSocket::ConnectOutcome NetSocket::Platform::ConnectOne(const Address& address,
                                                          const QDeadlineTimer& deadline) {
    const SOCKET socket = ::socket(address.family, address.type, address.protocol);
    if (socket == INVALID_SOCKET)
        return {NetSocket::kNone, Outcome::Failure::Other, SystemErrorWords(WSAGetLastError())};
    u_long nonBlocking = 1;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
    const BOOL on = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&kSendBufferBytes),
               sizeof kSendBufferBytes);
    int error = 0;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(address.sockaddr.constData()),
                  address.sockaddr.size()) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            const int ready = WaitFor(socket, true, deadline);
            int length = sizeof error;
            if (ready == 0)
                error = WSAETIMEDOUT;
            else if (ready < 0)
                error = WSAGetLastError();
            else
                getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        }
    }
    if (error == 0)
        return {static_cast<NetSocket::Handle>(socket), Outcome::Failure::None, QString()};
    closesocket(socket);
    if (error == WSAECONNREFUSED)
        return {NetSocket::kNone, Outcome::Failure::Refused, QString()};
    if (error == WSAETIMEDOUT)
        return {NetSocket::kNone, Outcome::Failure::NoAnswer, QString()};
    return {NetSocket::kNone, Outcome::Failure::Other, SystemErrorWords(error)};
}

int NetSocket::Send(Handle socket, const char* data, int count, QString& words) {
    const int sent = ::send(static_cast<SOCKET>(socket), data, count, 0);
    if (sent >= 0)
        return sent;
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK)
        return 0;
    words = SystemErrorWords(error);
    return -1;
}

bool NetSocket::WaitForRoom(Handle socket, int timeoutMs) {
    return WaitFor(static_cast<SOCKET>(socket), true, QDeadlineTimer(timeoutMs)) > 0;
}

bool NetSocket::DropIncoming(Handle socket, int limit, QString& words) {
    char buffer[4096];
    while (limit > 0) {
        const int got =
            recv(static_cast<SOCKET>(socket), buffer, std::min<int>(sizeof buffer, limit), 0);
        if (got > 0) {
            limit -= got;
            continue;
        }
        const int error = got == 0 ? 0 : WSAGetLastError();
        if (error == WSAEWOULDBLOCK)
            return true;
        words = got == 0 ? QString() : SystemErrorWords(error);
        return false;
    }
    return true;
}

void NetSocket::StopSending(Handle socket) {
    if (socket != kNone)
        shutdown(static_cast<SOCKET>(socket), SD_SEND);
}
