// The guardian on Linux: a fork of the program made before any thread, which runs only raw
// system calls, in a session and process group of its own: a kill of the program's group
// (a supervisor's, a shell's `kill -9 %1`) must leave it to send the stop. It learns of each opened
// line through a socket (the descriptor travels in the message), closes its copy whenever the
// program closes the port, and sees the program's end as the end of the socket, however the program
// went.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include "guardian_send.h"
#include "serial/failsafe/line_timing.h"
#include "serial/failsafe/raw_io.h"
#include "stop_guard.h"

namespace {

constexpr char kOpened = 'O';
constexpr char kClosed = 'C';
constexpr char kLetGo = 'c';
constexpr int kChannelFd = 3;
// How long the program waits for the guardian to let a closed line go.
constexpr int kLetGoMs = 200;
// The stop is on its way to the device before the guardian lets the line go, unless the
// line is stalled: then the guardian goes anyway, so the port is never held long.
constexpr int kDrainMs = LineTiming::kCloseDrainMs;
// How long the guardian waits for a serial server to end the connection after the stop: it
// has nothing else to do, and a loaded machine may keep the server from reading for a while.
constexpr int kServerCloseMs = 1000;

// One message either way: what it says, and the program's round it belongs to. The
// guardian's answer to a close carries the close's round: an answer that came after the
// program stopped waiting for it is then never taken for a later round's.
struct GuardMessage {
    uint32_t tag;  // a whole word, so that no padding goes out unset
    uint32_t round;
};

// One message with at most one descriptor in it; false at the end of the socket.
bool ReceiveMessage(int channel, GuardMessage& said, int& fd) {
    alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    said = {};
    struct iovec data = {&said, sizeof(said)};
    struct msghdr message {};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    fd = -1;
    ssize_t n;
    do {
        n = ::recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return false;
    struct cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (header && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS)
        std::memcpy(&fd, CMSG_DATA(header), sizeof(int));
    return true;
}

void DrainBriefly(int line) {
    const struct timespec tick = {0, 1000000};
    for (int ms = 0; ms < kDrainMs; ++ms) {
        int queued = 0;
        if (::ioctl(line, TIOCOUTQ, &queued) != 0 || queued == 0)
            return;
        ::nanosleep(&tick, nullptr);
    }
}

[[noreturn]] void RunGuardian(int channel, MovementRecord& record) {
    ::prctl(PR_SET_NAME, "velmor-guard", 0, 0, 0);
    // Out of the program's session and group. Its life is still the program's: it ends at
    // the end of the socket, which only the program holds.
    ::setsid();
    // A Ctrl+C or a hang-up meant for the program must not take the guardian first; the
    // program's own end is what it waits for.
    for (int signalNumber : {SIGINT, SIGHUP, SIGTERM, SIGQUIT, SIGPIPE, SIGTSTP})
        ::signal(signalNumber, SIG_IGN);
    // Of what the program had open it keeps standard error only: a pipe or a terminal held
    // here would outlive the program.
    if (channel != kChannelFd) {
        ::dup2(channel, kChannelFd);
        ::close(channel);
    }
    ::close(STDIN_FILENO);
    ::close(STDOUT_FILENO);
    ::close_range(kChannelFd + 1, ~0U, 0);
    int line = -1;
    GuardMessage said{};
    int fd = -1;
    while (ReceiveMessage(kChannelFd, said, fd)) {
        if (line >= 0)
            ::close(line);
        line = said.tag == kOpened ? fd : -1;
        if (said.tag != kOpened && fd >= 0)
            ::close(fd);
        const GuardMessage answer = {kLetGo, said.round};
        if (said.tag == kClosed)
            ::send(kChannelFd, &answer, sizeof(answer), MSG_NOSIGNAL);
    }
    if (line < 0)
        ::_exit(0);
    SendOwedStop(line, record);
    // The line's frame pause after the last byte comes before the close too, as it does
    // when the program closes the line.
    SleepUntilNs(record.lastByteNs + LineTiming::kFramePauseNs);
    if (static_cast<LineKind>(record.lineKind) != LineKind::Serial) {
        // Nothing more is sent, and the connection ends only once the server has read up to
        // its end: a serial server passes the bytes it read on to the line, but a reset, or
        // an end it has not reached, may throw away the last of them.
        CloseSocketAfterServer(line, kServerCloseMs);
    } else {
        DrainBriefly(line);
        ::close(line);
    }
    ::_exit(0);
}

// Opens /dev/null on any of standard input, output and error that the program was started
// without (`velmor 2>&-`): the next descriptor made takes the lowest free number, and a
// socket to the guardian on 2 would receive every warning as a message.
void OpenStandardFiles() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        // The lower ones are open by now, so a closed fd is the number the open takes.
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) [[maybe_unused]]
            const int opened = ::open("/dev/null", O_RDWR);
    }
}

}  // namespace

bool StopGuard::StartGuardian(int, char**) {
    // First of all, before any descriptor is made.
    OpenStandardFiles();
    void* memory = ::mmap(nullptr, sizeof(MovementRecord), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        problem = "no shared memory";
        return false;
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        ::munmap(memory, sizeof(MovementRecord));
        problem = "no socket";
        return false;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pair[0]);
        RunGuardian(pair[1], *static_cast<MovementRecord*>(memory));
    }
    ::close(pair[1]);
    if (pid < 0) {
        ::close(pair[0]);
        ::munmap(memory, sizeof(MovementRecord));
        problem = "no process";
        return false;
    }
    shared = memory;
    record = static_cast<MovementRecord*>(memory);
    guardian = pair[0];
    return true;
}

void StopGuard::PassLine(intptr_t line) {
    if (guardian < 0 || line < 0)
        return;
    const int fd = static_cast<int>(line);
    alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    GuardMessage opened = {kOpened, round};
    struct iovec data = {&opened, sizeof(opened)};
    struct msghdr message {};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    struct cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
    // The message waits in the socket until the guardian takes it, even if the program is
    // killed at once: the line is the guardian's from here on.
    while (::sendmsg(static_cast<int>(guardian), &message, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

void StopGuard::DropLine() {
    if (guardian < 0)
        return;
    const int channel = static_cast<int>(guardian);
    // The guardian's copy shares the port's exclusive lock: it must be gone before the
    // port can be opened again.
    const GuardMessage closed = {kClosed, ++round};
    if (::send(channel, &closed, sizeof(closed), MSG_NOSIGNAL) != sizeof(closed))
        return;
    const int64_t deadline = LineClockNs() + kLetGoMs * LineTiming::kNsPerMs;
    for (;;) {
        const int64_t left = deadline - LineClockNs();
        struct pollfd answer = {channel, POLLIN, 0};
        if (left <= 0 || ::poll(&answer, 1, static_cast<int>(left / LineTiming::kNsPerMs) + 1) == 0)
            return;
        GuardMessage reply{};
        const ssize_t n = ::recv(channel, &reply, sizeof(reply), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            return;
        // An earlier round's answer, late, is dropped here.
        if (n == sizeof(reply) && reply.tag == kLetGo && reply.round == round)
            return;
    }
}
