#include "raw_io.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include "line_timing.h"

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

// Waits at most ms for events on fd; EINTR counts as a wake-up.
void PollFor(int fd, short events, int64_t ms) {
    struct pollfd entry = {fd, events, 0};
    ::poll(&entry, 1, static_cast<int>(ms < 0 ? 0 : ms));
}

}  // namespace

int64_t LineClockNs() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

void SleepUntilNs(int64_t ns) {
    struct timespec at {};
    at.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
    at.tv_nsec = static_cast<long>(ns % kNsPerSecond);
    // An absolute deadline: a signal that interrupts the sleep never shortens it.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

bool WriteLineBytes(intptr_t line, LineKind kind, const uint8_t* bytes, int count) {
    const int fd = static_cast<int>(line);
    if (fd < 0)
        return false;
    // The port is open without blocking: a full line answers EAGAIN and is waited for. A
    // socket is sent to without SIGPIPE, which would end a crashing program by another signal.
    const int64_t deadline = LineClockNs() + LineTiming::kMaxByteTimeoutMs * LineTiming::kNsPerMs;
    int done = 0;
    while (done < count) {
        const size_t left = static_cast<size_t>(count - done);
        const ssize_t n = kind == LineKind::Serial
                              ? ::write(fd, bytes + done, left)
                              : ::send(fd, bytes + done, left, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return false;
        const int64_t wait = deadline - LineClockNs();
        if (wait <= 0)
            return false;
        PollFor(fd, POLLOUT, wait / LineTiming::kNsPerMs + 1);
    }
    return true;
}

namespace {

// Stops sending, then reads and drops what the server sends until it ends the connection (or
// resets it), until the time is up, or, with untilAcknowledged, until it has acknowledged
// every byte sent; then closes.
void DrainAndClose(intptr_t socket, int timeoutMs, bool untilAcknowledged) {
    const int fd = static_cast<int>(socket);
    if (fd < 0)
        return;
    const int64_t deadline = LineClockNs() + timeoutMs * LineTiming::kNsPerMs;
    ::shutdown(fd, SHUT_WR);
    char drop[4096];
    for (;;) {
        ssize_t got;
        while ((got = ::recv(fd, drop, sizeof drop, MSG_DONTWAIT)) > 0) {
        }
        const bool open = got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        const int64_t left = deadline - LineClockNs();
        if (!open || left <= 0)
            break;
        int64_t pollMs = left / LineTiming::kNsPerMs + 1;
        if (untilAcknowledged) {
            int unacknowledged = 0;
            if (::ioctl(fd, SIOCOUTQ, &unacknowledged) != 0 || unacknowledged == 0)
                break;
            pollMs = left / LineTiming::kNsPerMs < 5 ? left / LineTiming::kNsPerMs : 5;
        }
        PollFor(fd, POLLIN, pollMs);
    }
    ::close(fd);
}

}  // namespace

void CloseSocketGently(intptr_t socket, int timeoutMs) {
    DrainAndClose(socket, timeoutMs, true);
}

void CloseSocketAfterServer(intptr_t socket, int timeoutMs) {
    DrainAndClose(socket, timeoutMs, false);
}

void SayOnStandardError(const char* text) {
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, std::strlen(text));
}

namespace {

// The calling thread's holds, and the crash signal sent from outside that its hold's end
// owes it. Initial-exec: a signal handler reads them without a call into the dynamic loader,
// which may allocate.
thread_local __attribute__((tls_model("initial-exec"))) volatile sig_atomic_t holdDepth = 0;
thread_local __attribute__((tls_model("initial-exec"))) volatile sig_atomic_t deferredSignal = 0;

}  // namespace

ByteInHandHold::ByteInHandHold() {
    holdDepth = holdDepth + 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

ByteInHandHold::~ByteInHandHold() {
    // The record's stores about the byte come before the hold ends.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    holdDepth = holdDepth - 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (holdDepth != 0 || deferredSignal == 0)
        return;
    const int signalNumber = deferredSignal;
    deferredSignal = 0;
    // The crash handler takes it now, with the byte settled in the record; it does not return.
    ::raise(signalNumber);
}

bool ByteInHandHold::Defer(int signalNumber) {
    if (holdDepth == 0)
        return false;
    deferredSignal = signalNumber;
    return true;
}
