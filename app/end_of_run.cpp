#include "end_of_run.h"

#include <QGuiApplication>
#include <cstdlib>

namespace {

EndOfRun* activeGuard = nullptr;
bool atExitRegistered = false;

}  // namespace

EndOfRun::EndOfRun(Handler onEnd, Handler onSessionSave)
    : onEnd(std::move(onEnd)), onSessionSave(std::move(onSessionSave)) {
    activeGuard = this;
    if (!atExitRegistered) {
        std::atexit(&EndOfRun::AtExit);
        atExitRegistered = true;
    }
    WatchSignals();
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
