#include "terminal_probe.h"

#ifdef Q_OS_WIN

TerminalProbe::TerminalProbe(const QString& name) {
    // COMn names only reach serial devices on Windows; QSerialPort keeps the handshake.
    isTerminal = name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive);
}

TerminalProbe::~TerminalProbe() = default;

#else

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

TerminalProbe::TerminalProbe(const QString& name) {
    const QByteArray path = name.toLocal8Bit();
    struct stat info {};
    if (::stat(path.constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return;
    // Without blocking, without becoming our controlling terminal, and only for writing,
    // like the link itself.
    fd = ::open(path.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct termios settings {};
    if (::isatty(fd) && ::tcgetattr(fd, &settings) == 0) {
        isTerminal = true;
        hardwareHandshake = (settings.c_cflag & CRTSCTS) != 0;
    }
}

TerminalProbe::~TerminalProbe() {
    if (fd >= 0)
        ::close(fd);
}

#endif
