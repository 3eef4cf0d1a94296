// How long a frame keeps the window busy, against the floor that its pauses set: Z/I
// presses of both protocols go through the keypad's core, as the dialog hands them on, to a
// real line whose far end is read all the time, so the line never stalls. Also measures
// the pause and the single-byte write that make up a frame, to show where any time above
// the floor goes.
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

#include "control/keypad_controller.h"
#include "fakes.h"
#include "frame_bench.h"
#include "protocol/control_ids.h"
#include "serial/device/system_serial_device.h"
#include "serial/line/pause.h"
#include "serial/line/serial_link.h"

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
};

const ProtocolRun kRuns[] = {
    {"OSKA-DEFAULT", ProtocolOskaDefault, 11},
    {"PELCO D", ProtocolPelcoD, 7},
};

// The keypad's core on the benchmark's line, as COM1 at 9600 baud, camera 12 selected.
struct Rig {
    explicit Rig(const QString& line) : line(line) {
        profile.values.insert(QStringLiteral("Ports/COM1"), line);
    }
    QString line;
    MemoryProfile profile;
    SystemSerialDevice device;
    PrecisePause pause;
    KeypadController controller{KeypadServices{device, pause, profile}};
    qint64 transferErrors = 0;

    bool Open() {
        if (line.isEmpty())
            return false;
        controller.OnInitDialog();
        controller.FinishInitDialog();
        for (int key : {ControlId::Key1, ControlId::Key2, ControlId::Ent}) controller.PressKey(key);
        return controller.PortOpen();
    }
    // One operator action, counted when its frame did not leave whole.
    void Count(Notice notice) {
        transferErrors += notice == Notice::TransferError ? 1 : 0;
        controller.SettleFailedFrame();
    }
};

// Times Z/I presses under the run's protocol, then releases the key; the protocol is picked
// as the operator picks its row, so the port keeps its 9600 baud.
std::vector<long long> TimeFrames(Rig& rig, const ProtocolRun& run, int frames) {
    rig.Count(rig.controller.OnSelChangeProtocol(run.protocol));
    for (int i = 0; i < kWarmUpFrames; ++i) rig.Count(rig.controller.PressKey(ControlId::ZoomIn));
    std::vector<long long> times;
    times.reserve(frames);
    QElapsedTimer timer;
    for (int i = 0; i < frames; ++i) {
        timer.start();
        const Notice notice = rig.controller.PressKey(ControlId::ZoomIn);
        times.push_back(timer.nsecsElapsed());
        rig.Count(notice);
    }
    rig.Count(rig.controller.SendStop());
    return times;
}

// The device's own write of one byte, as the line makes it for each byte of a frame.
std::vector<long long> TimeByteWrites(SerialDevice& device, Pause& pause, int samples) {
    std::vector<long long> times;
    times.reserve(samples);
    QElapsedTimer timer;
    const uint8_t byte = 0x55;
    const int timeoutMs = CSerialLink::WriteTimeoutMs(9600);
    for (int i = 0; i < samples; ++i) {
        timer.start();
        device.Write(&byte, 1, timeoutMs);
        times.push_back(timer.nsecsElapsed());
        pause.Sleep(CSerialLink::kBytePauseMs);
    }
    return times;
}

// Prints median and p95 frame time per protocol; returns the median time above the floor.
std::vector<double> ReportFrames(Rig& rig, int frames, qint64& sent) {
    std::printf("Frame time: Z/I press, %d frames per protocol, 9600 baud on %s\n", frames,
                qPrintable(rig.line));
    std::printf("%-14s %10s %10s %8s %10s %8s\n", "protocol", "floor ms", "median ms", "ratio",
                "p95 ms", "ratio");
    std::vector<double> excessMs;
    for (const ProtocolRun& run : kRuns) {
        const Summary s = Summarise(TimeFrames(rig, run, frames));
        const double floor =
            run.frameBytes * CSerialLink::kBytePauseMs + CSerialLink::kFramePauseMs;
        std::printf("%-14s %10.3f %10.3f %8.4f %10.3f %8.4f\n", run.name, floor, s.medianMs,
                    s.medianMs / floor, s.p95Ms, s.p95Ms / floor);
        sent += qint64(frames + kWarmUpFrames + 1) * run.frameBytes;  // and the stop
        excessMs.push_back(s.medianMs - floor);
    }
    return excessMs;
}

// Prints what a frame is made of: the pauses' overshoot and the cost of a one-byte write,
// and how far they explain the time above the floor.
void ReportParts(Rig& rig, const std::vector<double>& excessMs, qint64& sent) {
    const int samples = 1000;
    const Summary write = Summarise(TimeByteWrites(rig.device, rig.pause, samples));
    sent += samples;
    const Summary sleep2 = Summarise(TimeSleeps(rig.pause, CSerialLink::kBytePauseMs, samples));
    const Summary sleep25 = Summarise(TimeSleeps(rig.pause, CSerialLink::kFramePauseMs, 200));
    std::printf("\nParts of a frame (%d samples; 200 for the 25 ms pause)\n", samples);
    std::printf("%-36s %10s %10s\n", "", "median us", "p95 us");
    PrintRow("PrecisePause::Sleep(2) overshoot", sleep2);
    ReportPlatformPauses(rig.pause, samples);
    PrintRow("PrecisePause::Sleep(25) overshoot", sleep25);
    PrintRow("device write of one byte", write);

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
                     qPrintable(rig.controller.OpenFailureReason()));
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
    rig.controller.ReleasePort();
    return rig.transferErrors == 0 ? 0 : 1;
}
