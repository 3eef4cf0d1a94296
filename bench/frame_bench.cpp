// How long a frame keeps the window busy, against the floor that its pauses set: frames of
// both protocols go through the real link to a line whose far end is read all the time,
// so the line never stalls. Also measures the pause and the single-byte write that make up
// a frame, to show where any time above the floor goes.
//
// Usage: velmor_bench [frames per protocol [port]]   (default 300; the port on Windows,
//        default COM1; elsewhere the line is a pseudo-terminal of its own)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <vector>

#include "fakes.h"
#include "frame_bench.h"
#include "profile/port_map.h"
#include "protocol/camera_id_entry.h"
#include "protocol/command_set.h"
#include "protocol/status_list.h"
#include "serial/device/system_serial_device.h"
#include "serial/line/pause.h"
#include "serial/line/serial_link.h"
#include "serial/ports/problem_words.h"

namespace {

constexpr double kNsPerMs = 1e6;
constexpr int kWarmUpFrames = 5;  // not timed: caches and the reader thread settle first

}  // namespace

Summary Summarise(std::vector<long long> ns) {
    std::sort(ns.begin(), ns.end());
    const size_t n = ns.size();
    const double median =
        n % 2 ? double(ns[n / 2]) : (double(ns[n / 2 - 1]) + double(ns[n / 2])) / 2.0;
    const size_t p95 = std::min(n - 1, static_cast<size_t>(std::ceil(0.95 * double(n))) - 1);
    return {median / kNsPerMs, double(ns[p95]) / kNsPerMs};
}

std::vector<long long> TimeSleeps(Pause& pause, int ms, int samples) {
    std::vector<long long> overshoot;
    overshoot.reserve(samples);
    QElapsedTimer timer;
    for (int i = 0; i < samples; ++i) {
        timer.start();
        pause.Sleep(ms);
        overshoot.push_back(timer.nsecsElapsed() - qint64(ms) * 1000000);
    }
    return overshoot;
}

void PrintRow(const char* what, const Summary& s) {
    std::printf("%-36s %10.1f %10.1f\n", what, s.medianMs * 1000, s.p95Ms * 1000);
}

namespace {

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

std::vector<long long> TimeFrames(CommandSet& commands, ControllerState& state,
                                  const ProtocolRun& run, int frames, qint64& failed) {
    state.protocol = run.protocol;
    state.cameraId = 12;
    const int first = run.protocol == ProtocolOskaDefault ? 3 : 2;
    std::copy(run.command, run.command + (run.protocol == ProtocolOskaDefault ? 6 : 4),
              state.txFrame.begin() + first);
    for (int i = 0; i < kWarmUpFrames; ++i) failed += commands.TransmitFrame().Whole() ? 0 : 1;
    std::vector<long long> times;
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

std::vector<long long> TimeByteWrites(CSerialLink& link, Pause& pause, int samples) {
    std::vector<long long> times;
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

// The link on the benchmark's line, as COM1 at 9600 baud.
struct Rig {
    explicit Rig(const QString& line) : line(line) {}
    QString line;
    MemoryProfile profile;
    SystemSerialDevice device;
    PrecisePause pause;
    ControllerState state;
    CSerialLink link{device, pause, [this](int port) { return PortDeviceName(port, profile); }};
    StatusList lines;
    CameraIdEntry entry{state, lines};
    CommandSet commands{state, link, entry};
    qint64 transferErrors = 0;

    bool Open() {
        profile.values.insert(QStringLiteral("Ports/COM1"), line);
        return !line.isEmpty() && link.OpenPort(1, 9600) == 1;
    }
};

// Prints median and p95 frame time per protocol; returns the median time above the floor.
std::vector<double> ReportFrames(Rig& rig, int frames, qint64& sent) {
    std::printf("Frame time: TransmitFrame call, %d frames per protocol, 9600 baud on %s\n", frames,
                qPrintable(rig.line));
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
    ReportPlatformPauses(rig.pause, samples);
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

    const std::unique_ptr<BenchLine> line = BenchLine::Make(argc, argv);
    Rig rig(line->Device());
    if (!rig.Open()) {
        std::fprintf(stderr, "cannot open %s as COM1: %s\n", qPrintable(rig.line),
                     qPrintable(DescribeProblem(rig.link.LastPort(), rig.link.LastProblem())));
        return 1;
    }
    qint64 sent = 0;
    ReportParts(rig, ReportFrames(rig, frames, sent), sent);
    // Let the reader take the last bytes before counting.
    QElapsedTimer settle;
    settle.start();
    while (line->Received() >= 0 && line->Received() < sent && settle.elapsed() < 2000) {
        QThread::msleep(10);
    }
    std::printf(
        "\nbytes sent %lld, bytes read off the line %s, transfer errors %lld\n",
        static_cast<long long>(sent),
        line->Received() < 0 ? "at its far end" : qPrintable(QString::number(line->Received())),
        static_cast<long long>(rig.transferErrors));
    rig.link.ClosePort();
    return rig.transferErrors == 0 ? 0 : 1;
}
