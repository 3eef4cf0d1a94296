#pragma once

#include <QObject>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

#include "serial/line/line_mender.h"

// The mender of the real program: a timer on the window's thread, each attempt a thread.
class ThreadedLineMender : public LineMender {
public:
    ThreadedLineMender() = default;
    ~ThreadedLineMender() override { Cancel(); }
    ThreadedLineMender(const ThreadedLineMender&) = delete;
    ThreadedLineMender& operator=(const ThreadedLineMender&) = delete;

    void Schedule(int delayMs, std::function<Attempt()> ready,
                  std::function<void(bool)> done) override;
    void CallOff() override;
    void Cancel() override;
    bool RunAside(const Attempt& attempt) override;
    void Watch(int intervalMs, std::function<void()> look) override;

private:
    void Start(quint64 ticket, const Attempt& attempt, std::function<void(bool)> done);
    // Hands the finished attempt's result to its done, once.
    void Deliver(quint64 mine);
    // Runs the event loop without the operator's input until the attempt has ended.
    void WaitForWorker();

    QObject context;  // on the window's thread: the timers and the results run here
    QTimer watch;
    std::unique_ptr<QThread> worker;
    std::function<void(bool)> workerDone;
    std::atomic<bool> workerResult{false};
    quint64 ticket = 0;  // what a late timer or result must match to still count
};
