#include "stop_guard.h"

#include <cstdio>

#include "crash_stop.h"

namespace {

StopGuard* started = nullptr;

}  // namespace

StopGuard& StopGuard::Start(int argc, char** argv) {
    static StopGuard guard;
    if (started)
        return guard;
    started = &guard;
    if (!guard.StartGuardian(argc, argv))
        std::fprintf(stderr, "velmor: %s\n", guard.Warning().toLocal8Bit().constData());
    ArmCrashStop(*guard.record);
    return guard;
}

StopGuard* StopGuard::Instance() {
    return started;
}

QString StopGuard::Warning() const {
    if (!problem)
        return QString();
    return QStringLiteral(
               "the guardian could not start (%1): a forced kill will leave a "
               "moving camera moving")
        .arg(QString::fromLatin1(problem));
}

void StopGuard::LineOpened(intptr_t line) {
    SetCrashStopLine(line);
    PassLine(line);
}

void StopGuard::LineClosed() {
    SetCrashStopLine(-1);
    DropLine();
}
