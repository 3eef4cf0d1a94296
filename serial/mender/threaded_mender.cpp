#include "threaded_mender.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>

void ThreadedLineMender::Schedule(int delayMs, std::function<Attempt()> ready,
                                  std::function<void(bool)> done) {
    Cancel();
    const quint64 mine = ticket;
    QTimer::singleShot(delayMs, &context, [this, mine, ready, done] {
        if (mine == ticket)
            Start(mine, ready(), done);
    });
}

void ThreadedLineMender::Start(quint64 mine, const Attempt& attempt,
                               std::function<void(bool)> done) {
    workerDone = std::move(done);
    worker.reset(QThread::create([this, mine, attempt] {
        workerResult = attempt();
        QMetaObject::invokeMethod(
            &context, [this, mine] { Deliver(mine); }, Qt::QueuedConnection);
    }));
    worker->start();
}

void ThreadedLineMender::Deliver(quint64 mine) {
    if (mine != ticket || !worker)
        return;
    worker->wait();
    worker.reset();
    // Taken before it runs: it may schedule the next attempt.
    const std::function<void(bool)> finish = std::exchange(workerDone, nullptr);
    if (finish)
        finish(workerResult);
}

void ThreadedLineMender::WaitForWorker() {
    if (!worker)
        return;
    if (!QCoreApplication::instance() || QThread::currentThread() != context.thread()) {
        worker->wait();
        return;
    }
    QEventLoop loop;
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit,
                     Qt::QueuedConnection);
    // The worker may have ended before the connection was made.
    while (worker && !worker->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void ThreadedLineMender::CallOff() {
    const quint64 mine = ticket;
    WaitForWorker();
    // Its queued result may not have run yet: it runs here, and the queued one finds the
    // ticket moved on.
    Deliver(mine);
    ++ticket;
}

void ThreadedLineMender::Cancel() {
    ++ticket;
    workerDone = nullptr;
    if (!worker)
        return;
    worker->wait();
    worker.reset();
}

bool ThreadedLineMender::RunAside(const Attempt& attempt) {
    // Without an event loop to keep (no application, or already off the window's thread)
    // the caller may just as well wait itself.
    if (!QCoreApplication::instance() || QThread::currentThread() != context.thread())
        return attempt();
    std::atomic<bool> finished{false};
    bool result = false;
    QEventLoop loop;
    const std::unique_ptr<QThread> opener(QThread::create([&] {
        result = attempt();
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    }));
    opener->start();
    // A quit meant for every loop (the program ending) leaves this one waiting still: the
    // attempt holds the device until it returns.
    while (!finished) loop.exec(QEventLoop::ExcludeUserInputEvents);
    opener->wait();
    return result;
}

void ThreadedLineMender::Watch(int intervalMs, std::function<void()> look) {
    watch.stop();
    watch.disconnect();
    if (!look)
        return;
    QObject::connect(&watch, &QTimer::timeout, &context, std::move(look));
    watch.start(intervalMs);
}
