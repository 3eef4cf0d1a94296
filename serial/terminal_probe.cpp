#include "terminal_probe.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

TerminalProbe::TerminalProbe(const QString& name) {
    const QByteArray path = name.toLocal8Bit();
    const auto failWith = [this](int error) {
        fault = FaultFromErrno(error);
        systemError = QString::fromLocal8Bit(::strerror(error));
    };
    struct stat info {};
    if (::stat(path.constData(), &info) != 0) {
        failWith(errno);
        return;
    }
    if (!S_ISCHR(info.st_mode)) {
        fault = PortFault::NotSerial;
        return;
    }
    // Opening the multiplexer would make a new pseudo-terminal that nobody reads.
    if (major(info.st_rdev) == 5 && minor(info.st_rdev) == 2) {
        fault = PortFault::Multiplexer;
        return;
    }
    // Without blocking, without becoming our controlling terminal, and only for writing,
    // like the link itself.
    fd = ::open(path.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failWith(errno);
        return;
    }
    struct termios settings {};
    if (::isatty(fd) && ::tcgetattr(fd, &settings) == 0) {
        isTerminal = true;
        hardwareHandshake = (settings.c_cflag & CRTSCTS) != 0;
    } else {
        fault = PortFault::NotSerial;
    }
}

TerminalProbe::~TerminalProbe() {
    if (fd >= 0)
        ::close(fd);
}
