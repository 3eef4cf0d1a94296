#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "stop_sender.h"
#include "stop_sender_io.h"

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

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
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

bool WriteLineBytes(intptr_t line, LineKind kind, const uint8_t* bytes, int count) {
    const int fd = static_cast<int>(line);
    if (fd < 0)
        return false;
    // The port is open without blocking: a full line answers EAGAIN and is waited for. A
    // socket is sent to without SIGPIPE, which would end a crashing program by another signal.
    const int64_t deadline = LineClockNs() + int64_t(MovementLog::kByteTimeoutMs) * 1000000;
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
        struct pollfd room = {fd, POLLOUT, 0};
        ::poll(&room, 1, static_cast<int>(wait / 1000000 + 1));
    }
    return true;
}
