#include "profile_guard.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStringDecoder>

#include "profile_guard_read.h"

namespace ProfileGuard {

namespace {

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
