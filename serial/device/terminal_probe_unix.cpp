#include "terminal_probe.h"

#include <QStringList>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>

TerminalProbe::TerminalProbe(const QString& name) {
    const QByteArray path = name.toLocal8Bit();
    const auto failWith = [this](int error) {
        fault = FaultFromSystemError(error);
        systemError = SystemErrorWords(error);
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
        int lines = 0;
        modemLines = ::ioctl(fd, TIOCMGET, &lines) == 0;
    } else {
        fault = PortFault::NotSerial;
    }
}

TerminalProbe::~TerminalProbe() {
    if (fd >= 0)
        ::close(fd);
}

QString LineSettingsProblem(int fd, bool modemLines) {
    struct termios line {};
    if (::tcgetattr(fd, &line) != 0)
        return QStringLiteral("its settings cannot be read back");
    QStringList wrong;
    if ((line.c_cflag & CSIZE) != CS8)
        wrong << QStringLiteral("not 8 data bits");
    if (line.c_cflag & PARENB || line.c_iflag & INPCK)
        wrong << QStringLiteral("parity on");
    if (line.c_cflag & CSTOPB)
        wrong << QStringLiteral("two stop bits");
    if (line.c_iflag & (IXON | IXOFF))
        wrong << QStringLiteral("XON/XOFF on");
    if (line.c_cflag & CRTSCTS)
        wrong << QStringLiteral("RTS/CTS handshake on");
    if (line.c_oflag & OPOST)
        wrong << QStringLiteral("output processing on");
    int lines = 0;
    if (modemLines && (::ioctl(fd, TIOCMGET, &lines) != 0 ||
                       (lines & (TIOCM_DTR | TIOCM_RTS)) != (TIOCM_DTR | TIOCM_RTS)))
        wrong << QStringLiteral("DTR or RTS not raised");
    return wrong.join(QStringLiteral(", "));
}
