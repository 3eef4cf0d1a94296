#include "net_socket.h"

#include <QDeadlineTimer>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

namespace {

using Outcome = NetSocket::ConnectOutcome;

// As on Linux: bounded, yet roomy enough for a slow network's unacknowledged bytes.
constexpr int kSendBufferBytes = 64 * 1024;

QString SocketWords(int error) {
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const QString words = text ? QString::fromWCharArray(text).trimmed() : QString();
    LocalFree(text);
    return words.isEmpty() ? QStringLiteral("socket error %1").arg(error) : words;
}

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

Outcome ConnectOne(const addrinfo& address, const QDeadlineTimer& deadline) {
    const SOCKET socket = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (socket == INVALID_SOCKET)
        return {NetSocket::kNone, Outcome::Failure::Other, SocketWords(WSAGetLastError())};
    u_long nonBlocking = 1;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
    const BOOL on = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&kSendBufferBytes),
               sizeof kSendBufferBytes);
    int error = 0;
    if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
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
    return {NetSocket::kNone, Outcome::Failure::Other, SocketWords(error)};
}

}  // namespace

NetSocket::ConnectOutcome NetSocket::Connect(const QString& host, uint16_t port, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    if (!StartWinsock())
        return {kNone, Outcome::Failure::Other, SocketWords(WSAGetLastError())};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int lookup = getaddrinfo(host.toLatin1().constData(),
                                   QByteArray::number(port).constData(), &hints, &found);
    if (lookup != 0)
        return {kNone, Outcome::Failure::Unresolved, SocketWords(lookup)};
    Outcome outcome{kNone, Outcome::Failure::NoAnswer, QString()};
    for (const addrinfo* address = found; address && !deadline.hasExpired();
         address = address->ai_next) {
        outcome = ConnectOne(*address, deadline);
        if (outcome.failure == Outcome::Failure::None)
            break;
    }
    freeaddrinfo(found);
    return outcome;
}

int NetSocket::Send(Handle socket, const char* data, int count, QString& words) {
    const int sent = ::send(static_cast<SOCKET>(socket), data, count, 0);
    if (sent >= 0)
        return sent;
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK)
        return 0;
    words = SocketWords(error);
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
        words = got == 0 ? QString() : SocketWords(error);
        return false;
    }
    return true;
}

void NetSocket::StopSending(Handle socket) {
    if (socket != kNone)
        shutdown(static_cast<SOCKET>(socket), SD_SEND);
}

void NetSocket::Close(Handle socket, int timeoutMs) {
    if (socket == kNone)
        return;
    const SOCKET handle = static_cast<SOCKET>(socket);
    const QDeadlineTimer deadline(timeoutMs);
    shutdown(handle, SD_SEND);
    // Until the server closes its side, or time is up; unread input would turn the close
    // into a reset that loses what is still queued.
    for (;;) {
        QString ignored;
        if (!DropIncoming(socket, 1 << 16, ignored) || deadline.hasExpired())
            break;
        WaitFor(handle, false, QDeadlineTimer(std::min<qint64>(deadline.remainingTime(), 5)));
    }
    closesocket(handle);
}
