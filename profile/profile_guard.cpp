#include "profile_guard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStringDecoder>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ProfileGuard {

namespace {

Finding Unreadable(const QString& reason) {
    return {Verdict::Unreadable, reason};
}

#ifdef Q_OS_UNIX
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
#else
Finding ReadRegular(const QString& path, QByteArray& content) {
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    if (!info.isFile())
        return Unreadable(QStringLiteral("is not a regular file"));
    if (info.size() > kSizeLimit)
        return {Verdict::Corrupt, QStringLiteral("is far larger than any profile")};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Unreadable(QStringLiteral("cannot be read"));
    content = file.read(kSizeLimit + 1);
    if (content.size() > kSizeLimit)
        return {Verdict::Corrupt, QStringLiteral("is far larger than any profile")};
    return {};
}
#endif

// Something other than a regular file where a lock goes would block QLockFile's read.
bool IsOtherThanRegular(const QString& path) {
    const QFileInfo info(path);
    return (info.exists() || info.isSymLink()) && !(info.isFile() && !info.isSymLink());
}

// A backslash escape that names a character by its number can spell '@'; QSettings
// itself writes a backslash in a value as "\\", which names none.
bool SpellsACharacter(const QByteArray& content) {
    for (qsizetype i = 0; i + 1 < content.size(); ++i) {
        if (content[i] != '\\')
            continue;
        const char next = content[i + 1];
        if (next == 'x' || next == 'X' || (next >= '0' && next <= '9'))
            return true;
        ++i;
    }
    return false;
}

}  // namespace

Finding CheckFile(const QString& path) {
    QByteArray content;
    const Finding finding = ReadRegular(path, content);
    if (finding.verdict != Verdict::Usable)
        return finding;
    const QString problem = ContentProblem(content);
    if (!problem.isEmpty())
        return {Verdict::Corrupt, problem};
    return {};
}

QString ContentProblem(const QByteArray& content) {
    if (content.contains('\0'))
        return QStringLiteral("holds NUL bytes");
    if (content.contains('@'))
        return QStringLiteral("holds encoded values ('@')");
    if (SpellsACharacter(content))
        return QStringLiteral("holds character escapes ('\\x', '\\0')");
    auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(content);
    if (decoder.hasError())
        return QStringLiteral("is not UTF-8 text");
    return {};
}

QString LockProblem(const QString& path) {
    const QString lockPath = path + QLatin1String(".lock");
    // QLockFile reads an existing lock to judge it stale, and removes a stale one
    // under a second lock, ".rmlock".
    for (const QString& name : {lockPath, lockPath + QLatin1String(".rmlock")}) {
        if (IsOtherThanRegular(name))
            return QStringLiteral("%1 is not a regular file").arg(name);
    }
    // QSettings makes the profile's folder before it locks; the lock needs it first.
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("%1 cannot be made").arg(folder);
    QLockFile lock(lockPath);
    if (!lock.tryLock(kLockWaitMs))
        return QStringLiteral("%1 is held or cannot be taken").arg(lockPath);
    lock.unlock();
    return {};
}

}  // namespace ProfileGuard
