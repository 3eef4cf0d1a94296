#include "lock_table.h"

#include <QFile>

#include <sys/stat.h>
#include <sys/sysmacros.h>

// The table is /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF", the device's
// inode as major:minor:inode. A waiter's line ("1: -> FLOCK ...") has its fields one further
// on, so it never matches: a waiter holds nothing.
qint64 LockTableHolder(const QString& procRoot, const QString& device, qint64 selfPid) {
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0)
        return 0;
    const QString id = QStringLiteral("%1:%2:%3")
                           .arg(major(info.st_dev), 2, 16, QLatin1Char('0'))
                           .arg(minor(info.st_dev), 2, 16, QLatin1Char('0'))
                           .arg(quint64(info.st_ino));
    QFile locks(procRoot + QStringLiteral("/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : locks.read(1 << 20).split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6)
            continue;
        if (QString::fromLatin1(fields[5]).compare(id, Qt::CaseInsensitive) != 0)
            continue;
        const qint64 pid = fields[4].toLongLong();
        if (pid > 0 && pid != selfPid)
            return pid;
    }
    return 0;
}
