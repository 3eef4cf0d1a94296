#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QSocketNotifier;

// Turns every way a run can end from outside into one call on the window's thread, so
// that a moving camera gets its stop before the program goes: the termination signals
// (SIGTERM, SIGHUP, SIGINT, SIGQUIT), the desktop session ending, and an exit() from deep
// inside the toolkit, which is how it leaves when the display connection breaks.
//
// A signal handler only writes one byte into a pipe; the event loop reads it once the
// frame in flight is out, since frames are written without returning to the loop. The
// handlers stay in place until the program has ended, so a second signal cannot cut the
// stop either. SIGKILL and power loss cannot be caught.
class EndOfRun : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QString& why)>;

    // onEnd runs at most once, on the thread that made this object. onSessionSave runs
    // when the desktop session asks programs to save before it ends: the session may
    // still be cancelled, so it stops what moves and the run goes on.
    EndOfRun(Handler onEnd, Handler onSessionSave);
    ~EndOfRun() override;

    // 128 plus the number of the signal that ended the run, as a shell reports it; 0 when
    // no signal did.
    int ExitStatus() const { return signalNumber ? 128 + signalNumber : 0; }

    static QString SignalName(int signalNumber);
    // A signal has come and not yet been handled: no further movement frame should go
    // out ahead of the stop. Safe to ask at any time.
    static bool Pending();

private:
    // Where the platform has termination signals, catches them into a pipe the event loop
    // watches through notifier.
    void WatchSignals();
    void OnSignalPipe();
    void OnSessionEnding();
    void End(const QString& why);
    static void AtExit();

    Handler onEnd;
    Handler onSessionSave;
    QSocketNotifier* notifier = nullptr;
    int signalNumber = 0;
    bool ended = false;
};
