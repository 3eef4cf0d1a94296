#include "net_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, whose types it uses.
#include <mstcpip.h>

#include <algorithm>
#include <string>

#include "serial/line/port_problem.h"

// Exported by ws2_32 since Windows 8, and missing from MinGW-w64's ws2tcpip.h.
extern "C" {
WINSOCK_API_LINKAGE INT WSAAPI GetAddrInfoExCancel(LPHANDLE lpHandle);
WINSOCK_API_LINKAGE INT WSAAPI GetAddrInfoExOverlappedResult(LPOVERLAPPED lpOverlapped);
}

namespace {

using Outcome = NetSocket::ConnectOutcome;

// Small, so that where the system cannot say what is unacknowledged the buffer itself
// holds no more than a few frames.
constexpr int kSendBufferBytes = 512;
// The retransmission time-out of a connection, in seconds (ws2ipdef.h, Windows 10 1703).
constexpr int kTcpMaxRt = 5;
// The request for TCP_INFO (Windows 10 1703), spelt out for the same reason as below.
constexpr DWORD kSioTcpInfo = _WSAIORW(IOC_VENDOR, 39);
// What SIO_TCP_INFO answers with, version 0 (Windows 10 1703): laid out as mstcpip.h has
// it, here so that the header's Windows-version guard does not hide it.
struct TcpInfo0 {
    int state;
    ULONG mss;
    ULONG64 connectionTimeMs;
    BOOLEAN timestampsEnabled;
    ULONG rttUs;
    ULONG minRttUs;
    ULONG bytesInFlight;
    ULONG cwnd;
    ULONG sndWnd;
    ULONG rcvWnd;
    ULONG rcvBuf;
    ULONG64 bytesOut;
    ULONG64 bytesIn;
    ULONG bytesReordered;
    ULONG bytesRetrans;
    ULONG fastRetrans;
    ULONG dupAcksIn;
    ULONG timeoutEpisodes;
    UCHAR synRetrans;
};

void DeclarePeerGoneSoon(SOCKET socket) {
    const DWORD maxRtS = NetSocket::kPeerGoneMs / 1000;
    setsockopt(socket, IPPROTO_TCP, kTcpMaxRt, reinterpret_cast<const char*>(&maxRtS),
               sizeof maxRtS);
    // Keep-alive: the first probe after 2 s idle, then every second.
    tcp_keepalive keepAlive{1, 2000, 1000};
    DWORD answered = 0;
    WSAIoctl(socket, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &answered,
             nullptr, nullptr);
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

// The cast: MinGW-w64's ADDRINFOEXW spells the type of its ai_next with another case
// (struct addrinfoexW, never defined); the pointer is the next entry all the same.
template <typename Info>
QList<NetSocket::Platform::Address> AddressesOf(const Info* found) {
    QList<NetSocket::Platform::Address> addresses;
    for (const Info* entry = found; entry; entry = reinterpret_cast<const Info*>(entry->ai_next))
        addresses.append({entry->ai_family, entry->ai_socktype, entry->ai_protocol,
                          QByteArray(reinterpret_cast<const char*>(entry->ai_addr),
                                     static_cast<int>(entry->ai_addrlen))});
    return addresses;
}

// GetAddrInfoExW beside the caller (Windows 8 and later): handed an OVERLAPPED whose event is
// a manual-reset one and no completion routine, it returns WSA_IO_PENDING and sets the event
// when it ends; GetAddrInfoExOverlappedResult then gives its result. GetAddrInfoExCancel sets
// the event at once (the result WSA_E_CANCELLED), whatever a name service behind it goes on
// doing, and from then the system no longer writes into the OVERLAPPED or the result.
class SystemLookup : public NetSocket::Platform::Lookup {
public:
    SystemLookup(const QString& host, uint16_t port)
        : name(host.toStdWString()), service(std::to_wstring(port)) {
        if (!StartWinsock()) {
            status = WSAGetLastError();
            return;
        }
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!overlapped.hEvent) {
            status = static_cast<int>(GetLastError());
            return;
        }
        ADDRINFOEXW hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        status = GetAddrInfoExW(name.c_str(), service.c_str(), NS_ALL, nullptr, &hints, &result,
                                nullptr, &overlapped, nullptr, &cancel);
    }
    ~SystemLookup() override {
        if (result)
            FreeAddrInfoExW(result);
        if (overlapped.hEvent)
            CloseHandle(overlapped.hEvent);
    }
    bool Wait(const QDeadlineTimer& deadline) override {
        if (status != WSA_IO_PENDING)
            return true;
        const qint64 ms = std::max<qint64>(0, deadline.remainingTime());
        if (WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(ms)) != WAIT_OBJECT_0)
            return false;
        status = GetAddrInfoExOverlappedResult(&overlapped);
        return true;
    }
    QList<NetSocket::Platform::Address> Addresses(QString& words) override {
        if (status == 0)
            return AddressesOf(result);
        words = SystemErrorWords(status);
        return {};
    }
    bool Cancel() override {
        if (status != WSA_IO_PENDING)
            return true;
        GetAddrInfoExCancel(&cancel);
        return Wait(QDeadlineTimer(kCancelMs));
    }

private:
    // How long a cancelled lookup is given to set its event, which it does at once.
    static constexpr int kCancelMs = 100;

    std::wstring name;
    std::wstring service;
    OVERLAPPED overlapped{};
    ADDRINFOEXW* result = nullptr;
    HANDLE cancel = nullptr;
    int status = 0;  // 0 once found, WSA_IO_PENDING while running, else why it failed
};

}  // namespace

bool NetSocket::Platform::Numeric(const QString& host, uint16_t port, QList<Address>& addresses) {
    if (!StartWinsock())
        return false;
    // AI_NUMERICHOST: the text of an address is converted, and a name fails at once.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.toLatin1().constData(), QByteArray::number(port).constData(), &hints,
                    &found) != 0)
        return false;
    addresses = AddressesOf(found);
    freeaddrinfo(found);
    return true;
}

std::unique_ptr<NetSocket::Platform::Lookup> NetSocket::Platform::Resolve(const QString& host,
                                                                          uint16_t port) {
    return std::make_unique<SystemLookup>(host, port);
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
    DeclarePeerGoneSoon(socket);
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

int NetSocket::Send(Handle socket, const char* data, int count, int& error) {
    const int sent = ::send(static_cast<SOCKET>(socket), data, count, 0);
    if (sent >= 0)
        return sent;
    error = WSAGetLastError();
    return error == WSAEWOULDBLOCK ? 0 : -1;
}

bool NetSocket::WaitForRoom(Handle socket, int timeoutMs) {
    return WaitFor(static_cast<SOCKET>(socket), true, QDeadlineTimer(timeoutMs)) > 0;
}

void NetSocket::StopSending(Handle socket) {
    if (socket != kNone)
        shutdown(static_cast<SOCKET>(socket), SD_SEND);
}

int NetSocket::Receive(Handle socket, char* data, int count, int& error) {
    const int got = recv(static_cast<SOCKET>(socket), data, count, 0);
    if (got > 0)
        return got;
    error = got == 0 ? 0 : WSAGetLastError();
    return error == WSAEWOULDBLOCK ? 0 : -1;
}

bool NetSocket::WaitForData(Handle socket, int timeoutMs) {
    return WaitFor(static_cast<SOCKET>(socket), false, QDeadlineTimer(timeoutMs)) > 0;
}

int NetSocket::Unacknowledged(Handle socket) {
    DWORD version = 0;
    TcpInfo0 info{};
    DWORD answered = 0;
    if (WSAIoctl(static_cast<SOCKET>(socket), kSioTcpInfo, &version, sizeof version, &info,
                 sizeof info, &answered, nullptr, nullptr) != 0)
        return -1;
    return static_cast<int>(info.bytesInFlight);
}

int NetSocket::Unsent(Handle) {
    // Windows does not say; the small send buffer bounds it instead.
    return -1;
}

void NetSocket::Platform::Close(Handle socket, bool abortive) {
    const SOCKET handle = static_cast<SOCKET>(socket);
    if (abortive) {
        const linger now{1, 0};
        setsockopt(handle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now), sizeof now);
    } else {
        shutdown(handle, SD_SEND);
    }
    closesocket(handle);
}

void NetSocket::Forget(Handle socket) {
    // A duplicated socket stays open until its last descriptor closes; no shutdown, which
    // would end the connection for the guardian's descriptor too.
    if (socket != kNone)
        closesocket(static_cast<SOCKET>(socket));
}
