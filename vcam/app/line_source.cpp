#include "line_source.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

QString SystemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

// Raw bytes in both directions: no echo, no line editing, no newline translation.
void MakeRaw(int fd, speed_t speed) {
    struct termios settings {};
    if (::tcgetattr(fd, &settings) != 0)
        return;
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    if (speed != 0) {
        ::cfsetispeed(&settings, speed);
        ::cfsetospeed(&settings, speed);
    }
    ::tcsetattr(fd, TCSANOW, &settings);
}

}  // namespace

int BaudConstant(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return 0;
    }
}

LineSource::LineSource(QObject* parent) : QObject(parent) {}

LineSource::~LineSource() {
    RemoveLink();
    if (readFd >= 0)
        ::close(readFd);
    if (heldSlaveFd >= 0)
        ::close(heldSlaveFd);
}

bool LineSource::OpenPseudoTerminal() {
    readFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (readFd < 0 || ::grantpt(readFd) != 0 || ::unlockpt(readFd) != 0) {
        error = SystemError("cannot create a pseudo-terminal");
        return false;
    }
    device = QString::fromLocal8Bit(::ptsname(readFd));
    // Holding the far end open keeps the master readable (no hang-up) between keypad runs,
    // and puts the line in raw mode before anyone else opens it.
    heldSlaveFd = ::open(::ptsname(readFd), O_RDWR | O_NOCTTY);
    if (heldSlaveFd >= 0)
        MakeRaw(heldSlaveFd, B9600);
    MakeRaw(readFd, 0);
    Watch();
    return true;
}

bool LineSource::OpenDevice(const QString& path, int baud) {
    const int speed = BaudConstant(baud);
    if (speed == 0) {
        error = QStringLiteral("unsupported baud rate %1").arg(baud);
        return false;
    }
    readFd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (readFd < 0) {
        error = SystemError(QFile::encodeName(path).constData());
        return false;
    }
    if (!::isatty(readFd)) {
        error = QStringLiteral("%1 is not a serial device").arg(path);
        ::close(readFd);
        readFd = -1;
        return false;
    }
    MakeRaw(readFd, static_cast<speed_t>(speed));
    device = path;
    Watch();
    return true;
}

bool LineSource::MakeLink(const QString& path) {
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        if (!info.isSymLink()) {
            error = QStringLiteral("%1 exists and is not a symbolic link").arg(path);
            return false;
        }
        QFile::remove(path);
    }
    if (!QFile::link(device, path)) {
        error = QStringLiteral("cannot make the link %1").arg(path);
        return false;
    }
    link = path;
    return true;
}

void LineSource::RemoveLink() {
    if (!link.isEmpty() && QFileInfo(link).isSymLink())
        QFile::remove(link);
    link.clear();
}

void LineSource::Watch() {
    notifier = new QSocketNotifier(readFd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &LineSource::OnReadable);
}

void LineSource::OnReadable() {
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(readFd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        // End of file or an error such as EIO: the device went away.
        notifier->setEnabled(false);
        if (!bytes.isEmpty())
            emit BytesRead(bytes);
        emit LineClosed();
        return;
    }
    if (!bytes.isEmpty())
        emit BytesRead(bytes);
}
