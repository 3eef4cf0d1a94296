#include "line_mender.h"

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
    worker.reset(QThread::create([this, mine, attempt, done] {
        const bool opened = attempt();
        QMetaObject::invokeMethod(
            &context,
            [this, mine, opened, done] {
                if (mine != ticket)
                    return;
                worker->wait();
                worker.reset();
                done(opened);
            },
            Qt::QueuedConnection);
    }));
    worker->start();
}

void ThreadedLineMender::Cancel() {
    ++ticket;
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
