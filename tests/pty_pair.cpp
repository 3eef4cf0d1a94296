#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>
#include <QElapsedTimer>

PtyPair::PtyPair() {
    char name[256] = {};
    if (::openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        masterFd = slaveFd = -1;
        return;
    }
    path = QString::fromLocal8Bit(name);
    ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    // The master side passes bytes through untouched.
    struct termios raw {};
    ::tcgetattr(masterFd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(masterFd, TCSANOW, &raw);
}

PtyPair::~PtyPair() {
    if (slaveFd >= 0)
        ::close(slaveFd);
    CloseMaster();
}

QByteArray PtyPair::Read(int count, int timeoutMs) {
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    while (data.size() < count && masterFd >= 0) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0)
            break;
        struct pollfd p = {masterFd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n > 0)
            data.append(buffer, n);
        else if (n < 0 && errno != EAGAIN)
            break;
    }
    return data;
}

QByteArray PtyPair::ReadAvailable(int quietMs) {
    QByteArray data;
    while (masterFd >= 0) {
        struct pollfd p = {masterFd, POLLIN, 0};
        if (::poll(&p, 1, quietMs) <= 0)
            break;
        char buffer[65536];
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        data.append(buffer, n);
    }
    return data;
}

struct termios PtyPair::LineSettings() const {
    struct termios settings {};
    ::tcgetattr(slaveFd, &settings);
    return settings;
}

qint64 PtyPair::FillUntilStalled() {
    const int flags = ::fcntl(slaveFd, F_GETFL);
    ::fcntl(slaveFd, F_SETFL, flags | O_NONBLOCK);
    qint64 total = 0;
    const QByteArray chunk(4096, 'x');
    for (;;) {
        const ssize_t n = ::write(slaveFd, chunk.constData(), chunk.size());
        if (n <= 0)
            break;
        total += n;
    }
    // The line may still take a few single bytes after refusing a whole chunk.
    while (::write(slaveFd, "x", 1) == 1) ++total;
    ::fcntl(slaveFd, F_SETFL, flags);
    return total;
}

void PtyPair::CloseMaster() {
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = -1;
}
