#include "end_of_run.h"

// Windows has none of the termination signals: a run ends from outside through the
// session end and exit() only, so no signal is ever pending and the notifier is never made.

void EndOfRun::WatchSignals() {}

QString EndOfRun::SignalName(int signalNumber) {
    return QStringLiteral("signal %1").arg(signalNumber);
}

bool EndOfRun::Pending() {
    return false;
}

void EndOfRun::OnSignalPipe() {}
