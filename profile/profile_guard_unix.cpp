#include "profile_guard_read.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ProfileGuard {

// Opened without blocking (a FIFO put there after a check must not hang the open), and
// only a regular file is read.
Finding ReadRegular(const QString& path, QByteArray& content) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(name.constData(), &info) != 0)
        return errno == ENOENT ? Finding{} : Unreadable(QStringLiteral("cannot be examined"));
    if (!S_ISREG(info.st_mode))
        return Unreadable(QStringLiteral("is not a regular file"));
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Finding{} : Unreadable(QStringLiteral("cannot be read"));
    Finding finding;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        finding = Unreadable(QStringLiteral("is not a regular file"));
    } else if (info.st_size > kSizeLimit) {
        finding = {Verdict::Corrupt, QStringLiteral("is far larger than any profile")};
    } else {
        content.resize(kSizeLimit + 1);
        qint64 total = 0;
        for (;;) {
            const ssize_t got = ::read(fd, content.data() + total, size_t(kSizeLimit + 1 - total));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                finding = Unreadable(QStringLiteral("cannot be read"));
                break;
            }
            total += got;
            if (got == 0 || total > kSizeLimit)
                break;
        }
        content.resize(total);
        if (finding.verdict == Verdict::Usable && total > kSizeLimit)
            finding = {Verdict::Corrupt, QStringLiteral("is far larger than any profile")};
    }
    ::close(fd);
    return finding;
}

}  // namespace ProfileGuard
