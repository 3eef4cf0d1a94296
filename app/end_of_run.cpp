#include "end_of_run.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace {

EndOfRun* activeGuard = nullptr;
bool atExitRegistered = false;

#ifdef Q_OS_UNIX
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
#endif

}  // namespace

EndOfRun::EndOfRun(Handler onEnd, Handler onSessionSave)
    : onEnd(std::move(onEnd)), onSessionSave(std::move(onSessionSave)) {
    activeGuard = this;
    if (!atExitRegistered) {
        std::atexit(&EndOfRun::AtExit);
        atExitRegistered = true;
    }
#ifdef Q_OS_UNIX
    // A reader of standard error that went away must not end the program mid-movement.
    ::signal(SIGPIPE, SIG_IGN);
    if (OpenSignalPipe()) {
        notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &EndOfRun::OnSignalPipe);
        InstallHandlers(OnEndSignal);
    }
#endif
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(gui, &QGuiApplication::commitDataRequest, this, &EndOfRun::OnSessionEnding,
                Qt::DirectConnection);
        connect(gui, &QCoreApplication::aboutToQuit, this,
                [this] { End(QStringLiteral("the application was told to quit")); });
    }
}

EndOfRun::~EndOfRun() {
    if (activeGuard == this)
        activeGuard = nullptr;
    // The handlers stay: the pipe outlives this object, and a late signal is one more
    // byte that nobody reads while the program finishes.
}

QString EndOfRun::SignalName(int signalNumber) {
#ifdef Q_OS_UNIX
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
#endif
    return QStringLiteral("signal %1").arg(signalNumber);
}

bool EndOfRun::Pending() {
#ifdef Q_OS_UNIX
    return signalPending != 0;
#else
    return false;
#endif
}

void EndOfRun::OnSignalPipe() {
#ifdef Q_OS_UNIX
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
#endif
}

void EndOfRun::OnSessionEnding() {
    if (!ended)
        onSessionSave(QStringLiteral("the desktop session is ending"));
}

void EndOfRun::End(const QString& why) {
    if (ended)
        return;
    ended = true;
    onEnd(why);
}

void EndOfRun::AtExit() {
    // exit() called while the window still runs: the toolkit gives up (the display
    // connection broke, say). The window and the line are still there.
    if (activeGuard)
        activeGuard->End(
            QStringLiteral("ended by exit() during the run (the display "
                           "connection may have broken)"));
}
