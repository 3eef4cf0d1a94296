// How long a frame keeps the window busy, against the floor that its pauses set: frames of
// both protocols go through the real link to a pseudo-terminal whose far end a second
// thread reads all the time, so the line never stalls. Also measures the pause and the
// single-byte write that make up a frame, to show where any time above the floor goes.
//
// Usage: velmor_bench [frames per protocol]   (default 300)
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <thread>
#include <vector>

#include "fakes.h"
#include "profile/port_map.h"
#include "protocol/camera_id_entry.h"
#include "protocol/command_set.h"
#include "protocol/status_list.h"
#include "pty_pair.h"
#include "serial/pause.h"
#include "serial/qt_serial_device.h"
#include "serial/serial_link.h"

namespace {

constexpr double kNsPerMs = 1e6;
constexpr int kWarmUpFrames = 5;  // not timed: caches and the reader thread settle first

struct Summary {
    double medianMs;
    double p95Ms;
};

Summary Summarise(std::vector<qint64> ns) {
    std::sort(ns.begin(), ns.end());
    const size_t n = ns.size();
    const double median =
        n % 2 ? double(ns[n / 2]) : (double(ns[n / 2 - 1]) + double(ns[n / 2])) / 2.0;
    const size_t p95 = std::min(n - 1, static_cast<size_t>(std::ceil(0.95 * double(n))) - 1);
    return {median / kNsPerMs, double(ns[p95]) / kNsPerMs};
}

// Reads the far end of the line until told to stop, counting what arrives.
class LineReader {
public:
    explicit LineReader(int fd) : fd(fd), thread([this] { Run(); }) {}
    ~LineReader() {
        stop = true;
        thread.join();
    }
    qint64 received() const { return count.load(); }

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
    std::atomic<qint64> count{0};
    std::thread thread;
};

struct ProtocolRun {
    const char* name;
    int protocol;
    int frameBytes;
    uint8_t command[6];  // bytes 3..8 (OSKA-DEFAULT) or 2..5 (PELCO D): zoom in
};

const ProtocolRun kRuns[] = {
    {"OSKA-DEFAULT", ProtocolOskaDefault, 11, {'7', '5', '0', '1', '0', '0'}},
    {"PELCO D", ProtocolPelcoD, 7, {0x00, 0x20, 0x00, 0x00}},
};

std::vector<qint64> TimeFrames(CommandSet& commands, ControllerState& state, const ProtocolRun& run,
                               int frames, qint64& failed) {
    state.protocol = run.protocol;
    state.cameraId = 12;
    const int first = run.protocol == ProtocolOskaDefault ? 3 : 2;
    std::copy(run.command, run.command + (run.protocol == ProtocolOskaDefault ? 6 : 4),
              state.txFrame.begin() + first);
    for (int i = 0; i < kWarmUpFrames; ++i) failed += commands.TransmitFrame().Whole() ? 0 : 1;
    std::vector<qint64> times;
    times.reserve(frames);
    QElapsedTimer timer;
    for (int i = 0; i < frames; ++i) {
        timer.start();
        const bool whole = commands.TransmitFrame().Whole();
        times.push_back(timer.nsecsElapsed());
        failed += whole ? 0 : 1;
    }
    return times;
}

std::vector<qint64> TimeSleeps(Pause& pause, int ms, int samples) {
    std::vector<qint64> overshoot;
    overshoot.reserve(samples);
    QElapsedTimer timer;
    for (int i = 0; i < samples; ++i) {
        timer.start();
        pause.Sleep(ms);
        overshoot.push_back(timer.nsecsElapsed() - qint64(ms) * 1000000);
    }
    return overshoot;
}

std::vector<qint64> TimeByteWrites(CSerialLink& link, Pause& pause, int samples) {
    std::vector<qint64> times;
    times.reserve(samples);
    QElapsedTimer timer;
    const uint8_t byte = 0x55;
    for (int i = 0; i < samples; ++i) {
        timer.start();
        link.WriteBytes(&byte, 1);
        times.push_back(timer.nsecsElapsed());
        pause.Sleep(CSerialLink::kBytePauseMs);
    }
    return times;
}

// The link on the slave of a pseudo-terminal, as COM1 at 9600 baud.
struct Rig {
    PtyPair pty;
    MemoryProfile profile;
    QtSerialDevice device;
    PrecisePause pause;
    ControllerState state;
    CSerialLink link{device, pause, [this](int port) { return PortDeviceName(port, profile); }};
    StatusList lines;
    CameraIdEntry entry{state, lines};
    CommandSet commands{state, link, entry};
    qint64 transferErrors = 0;

    bool Open() {
        profile.values.insert(QStringLiteral("Ports/COM1"), pty.slavePath());
        return pty.ok() && link.OpenPort(1, 9600) == 1;
    }
};

// Prints median and p95 frame time per protocol; returns the median time above the floor.
std::vector<double> ReportFrames(Rig& rig, int frames, qint64& sent) {
    std::printf("Frame time: TransmitFrame call, %d frames per protocol, 9600 baud on a pty\n",
                frames);
    std::printf("%-14s %10s %10s %8s %10s %8s\n", "protocol", "floor ms", "median ms", "ratio",
                "p95 ms", "ratio");
    std::vector<double> excessMs;
    for (const ProtocolRun& run : kRuns) {
        const Summary s =
            Summarise(TimeFrames(rig.commands, rig.state, run, frames, rig.transferErrors));
        const double floor =
            run.frameBytes * CSerialLink::kBytePauseMs + CSerialLink::kFramePauseMs;
        std::printf("%-14s %10.3f %10.3f %8.4f %10.3f %8.4f\n", run.name, floor, s.medianMs,
                    s.medianMs / floor, s.p95Ms, s.p95Ms / floor);
        sent += qint64(frames + kWarmUpFrames) * run.frameBytes;
        excessMs.push_back(s.medianMs - floor);
    }
    return excessMs;
}

void PrintRow(const char* what, const Summary& s) {
    std::printf("%-36s %10.1f %10.1f\n", what, s.medianMs * 1000, s.p95Ms * 1000);
}

// Prints what a frame is made of: the pauses' overshoot and the cost of a one-byte write,
// and how far they explain the time above the floor.
void ReportParts(Rig& rig, const std::vector<double>& excessMs, qint64& sent) {
    const int samples = 1000;
    const Summary write = Summarise(TimeByteWrites(rig.link, rig.pause, samples));
    sent += samples;
    const Summary sleep2 = Summarise(TimeSleeps(rig.pause, CSerialLink::kBytePauseMs, samples));
    const Summary sleep25 = Summarise(TimeSleeps(rig.pause, CSerialLink::kFramePauseMs, 200));
    std::printf("\nParts of a frame (%d samples; 200 for the 25 ms pause)\n", samples);
    std::printf("%-36s %10s %10s\n", "", "median us", "p95 us");
    PrintRow("PrecisePause::Sleep(2) overshoot", sleep2);
    // The same pause with the kernel's default timer slack, to tell slack apart from the
    // plain cost of waking up.
    const int slack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    ::prctl(PR_SET_TIMERSLACK, 50000UL, 0UL, 0UL, 0UL);
    PrintRow("  the same at 50 us timer slack",
             Summarise(TimeSleeps(rig.pause, CSerialLink::kBytePauseMs, samples)));
    ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0UL, 0UL, 0UL);
    PrintRow("PrecisePause::Sleep(25) overshoot", sleep25);
    PrintRow("WriteBytes of one byte", write);

    std::printf("\nTime above the floor, median (us)    measured   from parts\n");
    for (size_t i = 0; i < std::size(kRuns); ++i) {
        const int n = kRuns[i].frameBytes;
        const double parts = n * (write.medianMs + sleep2.medianMs) + sleep25.medianMs;
        std::printf("%-36s %10.1f %10.1f   (%d writes, %d + 1 pauses)\n", kRuns[i].name,
                    excessMs[i] * 1000, parts * 1000, n, n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 300;

    Rig rig;
    if (!rig.Open()) {
        std::fprintf(stderr, "cannot open a pseudo-terminal as COM1\n");
        return 1;
    }
    qint64 sent = 0;
    {
        LineReader reader(rig.pty.masterFd);
        ReportParts(rig, ReportFrames(rig, frames, sent), sent);
        // Let the reader take the last bytes before counting.
        QElapsedTimer settle;
        settle.start();
        while (reader.received() < sent && settle.elapsed() < 2000) {
            QThread::msleep(10);
        }
        std::printf("\nbytes sent %lld, bytes on the line %lld, transfer errors %lld\n",
                    static_cast<long long>(sent), static_cast<long long>(reader.received()),
                    static_cast<long long>(rig.transferErrors));
    }
    std::printf("timer slack of this thread: %d ns\n", ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
    rig.link.ClosePort();
    return 0;
}
