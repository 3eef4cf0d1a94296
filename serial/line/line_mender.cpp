#include "line_mender.h"

#include <QTimer>

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
