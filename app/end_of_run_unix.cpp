#include "end_of_run.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

const int kEndSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
int signalPipe[2] = {-1, -1};
volatile sig_atomic_t signalPending = 0;

extern "C" void OnEndSignal(int signalNumber) {
    // Only async-signal-safe calls here: one byte, and errno left as it was.
    const int savedErrno = errno;
    signalPending = 1;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

bool OpenSignalPipe() {
    if (signalPipe[0] >= 0)
        return true;
    return ::pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) == 0;
}

void InstallHandlers(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Interrupted writes to the line resume by themselves; sleeps and waits that a signal
    // cuts short resume by their own deadlines.
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kEndSignals) ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void EndOfRun::WatchSignals() {
    // A reader of standard error that went away must not end the program mid-movement.
    ::signal(SIGPIPE, SIG_IGN);
    if (OpenSignalPipe()) {
        notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &EndOfRun::OnSignalPipe);
        InstallHandlers(OnEndSignal);
    }
}

QString EndOfRun::SignalName(int signalNumber) {
    switch (signalNumber) {
        case SIGTERM:
            return QStringLiteral("SIGTERM");
        case SIGHUP:
            return QStringLiteral("SIGHUP");
        case SIGINT:
            return QStringLiteral("SIGINT");
        case SIGQUIT:
            return QStringLiteral("SIGQUIT");
        default:
            break;
    }
    return QStringLiteral("signal %1").arg(signalNumber);
}

bool EndOfRun::Pending() {
    return signalPending != 0;
}

void EndOfRun::OnSignalPipe() {
    unsigned char byte = 0;
    int first = 0;
    while (::read(signalPipe[0], &byte, 1) == 1) {
        if (first == 0)
            first = byte;
    }
    if (first == 0 || ended)
        return;
    signalNumber = first;
    End(QStringLiteral("ended by %1").arg(SignalName(first)));
}
