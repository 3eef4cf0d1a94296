#include <poll.h>
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

bool WriteLineByte(intptr_t line, uint8_t byte) {
    const int fd = static_cast<int>(line);
    if (fd < 0)
        return false;
    // The port is open without blocking: a full line answers EAGAIN and is waited for.
    const int64_t deadline = LineClockNs() + int64_t(MovementLog::kByteTimeoutMs) * 1000000;
    for (;;) {
        const ssize_t n = ::write(fd, &byte, 1);
        if (n == 1)
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return false;
        const int64_t left = deadline - LineClockNs();
        if (left <= 0)
            return false;
        struct pollfd room = {fd, POLLOUT, 0};
        ::poll(&room, 1, static_cast<int>(left / 1000000 + 1));
    }
}
