// What the camera sees of the line's timing, on a local pseudo-terminal and through
// ser2net (raw TCP and RFC 2217) to a pseudo-terminal behind it, in one run: PELCO D
// frames go through the real link and the platform's device, a thread stamps every byte
// as it arrives on the far end, and the medians of the gap between a frame's bytes and
// of the period from one frame's first byte to the next are printed side by side.
//
// Usage: velmor_net_bench [frames per line]   (default 200)
#include <poll.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "fakes.h"
#include "profile/port_map.h"
#include "pty_pair.h"
#include "ser2net_server.h"
#include "serial/device/system_serial_device.h"
#include "serial/line/pause.h"
#include "serial/line/serial_link.h"
#include "serial/ports/problem_words.h"

namespace {

constexpr int kFrameBytes = 7;
const uint8_t kFrame[kFrameBytes] = {0xFF, 0x01, 0x00, 0x20, 0x00, 0x00, 0x21};

// Stamps every byte that arrives on the far end of the line, on one clock.
class StampingReader {
public:
    explicit StampingReader(int fd) : fd(fd), thread([this] { Run(); }) { clock.start(); }
    ~StampingReader() { Finish(); }
    // Stops the thread; the stamps are whole after it.
    void Finish() {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
    const std::vector<qint64>& Stamps() const { return stamps; }

private:
    void Run() {
        char buffer[256];
        while (!stop) {
            struct pollfd p = {fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            const qint64 now = clock.nsecsElapsed();
            for (ssize_t i = 0; i < n; ++i) stamps.push_back(now);
        }
    }

    int fd;
    QElapsedTimer clock;
    std::vector<qint64> stamps;
    std::atomic<bool> stop{false};
    std::thread thread;
};

double MedianMs(std::vector<qint64> ns) {
    if (ns.empty())
        return 0;
    std::sort(ns.begin(), ns.end());
    return double(ns[ns.size() / 2]) / 1e6;
}

// Sends the frames to the entry and reports the far end's byte gap and frame period.
bool Measure(const char* name, const QString& entry, PtyPair& pty, int frames) {
    MemoryProfile profile;
    profile.values.insert(QStringLiteral("Ports/COM1"), entry);
    SystemSerialDevice device;
    PrecisePause pause;
    CSerialLink link(device, pause, [&profile](int port) { return ResolvePort(port, profile); });
    if (link.OpenPort(1, 9600) != 1) {
        std::fprintf(stderr, "%s: %s\n", name,
                     qPrintable(DescribeProblem(link.LastPort(), link.LastProblem())));
        return false;
    }
    pty.ReadAvailable(200);  // whatever the open brought
    std::vector<qint64> stamps;
    {
        StampingReader reader(pty.masterFd);
        for (int i = 0; i < frames; ++i) link.SendFrame(kFrame, kFrameBytes);
        pause.Sleep(200);
        reader.Finish();
        stamps = reader.Stamps();
    }
    link.ClosePort();
    std::vector<qint64> gaps;
    std::vector<qint64> periods;
    for (size_t i = 1; i < stamps.size(); ++i) {
        if (i % kFrameBytes != 0)
            gaps.push_back(stamps[i] - stamps[i - 1]);
        else
            periods.push_back(stamps[i] - stamps[i - kFrameBytes]);
    }
    std::printf("%-22s %6zu bytes  byte gap %.3f ms  frame period %.3f ms\n", name, stamps.size(),
                MedianMs(gaps), MedianMs(periods));
    return stamps.size() == size_t(frames) * kFrameBytes;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    PtyPair local;
    PtyPair served;
    Ser2NetServer server(served.slavePath());
    if (!local.ok() || !served.ok() || !server.ok()) {
        std::fprintf(stderr, "no line: %s\n", qPrintable(server.error));
        return 1;
    }
    std::printf("%d PELCO D frames per line at 9600 baud; medians\n", frames);
    bool whole = Measure("local pseudo-terminal", local.slavePath(), local, frames);
    whole = Measure("ser2net, raw TCP", server.Entry(false), served, frames) && whole;
    whole = Measure("ser2net, RFC 2217", server.Entry(true), served, frames) && whole;
    return whole ? 0 : 1;
}
