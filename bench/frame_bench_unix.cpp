// The frame benchmark's line off Windows: a pseudo-terminal whose far end a second thread
// reads, and the pause measured again at the kernel's default timer slack.
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <atomic>
#include <cstdio>
#include <thread>

#include "frame_bench.h"
#include "pty_pair.h"
#include "serial/line/serial_link.h"

namespace {

// Reads the far end of the line until told to stop, counting what arrives.
class LineReader {
public:
    explicit LineReader(int fd) : fd(fd), thread([this] { Run(); }) {}
    ~LineReader() {
        stop = true;
        thread.join();
    }
    long long received() const { return count.load(); }

private:
    void Run() {
        char buffer[4096];
        while (!stop) {
            struct pollfd p = {fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                count += n;
        }
    }

    int fd;
    std::atomic<bool> stop{false};
    std::atomic<long long> count{0};
    std::thread thread;
};

class PtyLine : public BenchLine {
public:
    QString Device() const override { return pty.ok() ? pty.slavePath() : QString(); }
    long long Received() const override { return reader.received(); }

private:
    PtyPair pty;
    LineReader reader{pty.masterFd};
};

}  // namespace

std::unique_ptr<BenchLine> BenchLine::Make(int, char**) {
    return std::make_unique<PtyLine>();
}

// The same pause with the kernel's default timer slack, to tell slack apart from the plain
// cost of waking up.
void ReportPlatformPauses(Pause& pause, int samples) {
    const int slack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    ::prctl(PR_SET_TIMERSLACK, 50000UL, 0UL, 0UL, 0UL);
    PrintRow("  the same at 50 us timer slack",
             Summarise(TimeSleeps(pause, CSerialLink::kBytePauseMs, samples)));
    ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0UL, 0UL, 0UL);
    std::printf("timer slack of this thread: %d ns\n", slack);
}
