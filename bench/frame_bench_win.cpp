// The frame benchmark's line on Windows: a port the system has, whose far end is read by
// another program (under Wine, the virtual camera on the pseudo-terminal the port maps to).
#include "frame_bench.h"

namespace {

class PortLine : public BenchLine {
public:
    explicit PortLine(const QString& port) : port(port) {}
    QString Device() const override { return port; }
    long long Received() const override { return -1; }

private:
    QString port;
};

}  // namespace

std::unique_ptr<BenchLine> BenchLine::Make(int argc, char** argv) {
    return std::make_unique<PortLine>(argc > 2 ? QString::fromLocal8Bit(argv[2])
                                               : QStringLiteral("COM1"));
}

void ReportPlatformPauses(Pause&, int) {}
