#pragma once

#include <QString>
#include <memory>
#include <vector>

class Pause;

// The line the frame benchmark writes to, and what reads its far end.
class BenchLine {
public:
    // Off Windows a pseudo-terminal whose far end a second thread reads all the time. On
    // Windows the port named by the second argument (COM1 by default), whose far end
    // something else reads: under Wine, a pseudo-terminal read on the Linux side.
    static std::unique_ptr<BenchLine> Make(int argc, char** argv);
    virtual ~BenchLine() = default;
    // The device COM1 is mapped to; empty when the line could not be made.
    virtual QString Device() const = 0;
    // Bytes read off the far end so far; -1 when they are read elsewhere.
    virtual long long Received() const = 0;
};

struct Summary {
    double medianMs;
    double p95Ms;
};
Summary Summarise(std::vector<long long> ns);
std::vector<long long> TimeSleeps(Pause& pause, int ms, int samples);
void PrintRow(const char* what, const Summary& s);

// Rows on the pause that only this platform can give, printed with the parts of a frame.
void ReportPlatformPauses(Pause& pause, int samples);
