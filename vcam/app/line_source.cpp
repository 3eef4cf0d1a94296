#include "line_source.h"

#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
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
    if (listenFd >= 0)
        ::close(listenFd);
}

bool LineSource::ListenTcp(const QString& hostPort) {
    const int colon = hostPort.lastIndexOf(QLatin1Char(':'));
    QString host = hostPort.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool number = false;
    const uint port = hostPort.mid(colon + 1).toUInt(&number);
    if (colon <= 0 || !number || port > 65535) {
        error = QStringLiteral("--tcp wants HOST:PORT, not %1").arg(hostPort);
        return false;
    }
    struct addrinfo hints {};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    struct addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(host.toLatin1().constData(),
                                     QByteArray::number(port).constData(), &hints, &found);
    if (lookup != 0) {
        error = QStringLiteral("%1: %2").arg(host, QString::fromLocal8Bit(gai_strerror(lookup)));
        return false;
    }
    listenFd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const bool listening = listenFd >= 0 &&
                           ::bind(listenFd, found->ai_addr, found->ai_addrlen) == 0 &&
                           ::listen(listenFd, 1) == 0;
    ::freeaddrinfo(found);
    if (!listening) {
        error = SystemError(qPrintable(QStringLiteral("cannot listen on %1").arg(hostPort)));
        return false;
    }
    struct sockaddr_storage bound {};
    socklen_t length = sizeof bound;
    char boundPort[16] = {};
    ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &length);
    ::getnameinfo(reinterpret_cast<sockaddr*>(&bound), length, nullptr, 0, boundPort,
                  sizeof boundPort, NI_NUMERICSERV);
    device = QStringLiteral("%1:%2").arg(hostPort.left(colon), QLatin1String(boundPort));
    overTcp = true;
    auto* waiting = new QSocketNotifier(listenFd, QSocketNotifier::Read, this);
    connect(waiting, &QSocketNotifier::activated, this, [this, waiting] {
        waiting->setEnabled(false);
        OnConnection();
    });
    return true;
}

void LineSource::OnConnection() {
    readFd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    // One connection, as a serial server's port takes one client.
    ::close(listenFd);
    listenFd = -1;
    if (readFd < 0) {
        emit LineClosed();
        return;
    }
    Watch();
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
        if (overTcp)
            bytes = telnet.Feed(bytes);
        if (!bytes.isEmpty())
            emit BytesRead(bytes);
        emit LineClosed();
        return;
    }
    if (overTcp) {
        bytes = telnet.Feed(bytes);
        const QByteArray answers = telnet.TakeAnswers();
        if (!answers.isEmpty() &&
            ::send(readFd, answers.constData(), size_t(answers.size()), MSG_NOSIGNAL) < 0)
            qWarning("velmor-vcam: the answer to the client's Telnet negotiation was lost");
    }
    if (!bytes.isEmpty())
        emit BytesRead(bytes);
}
