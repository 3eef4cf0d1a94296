#include "port_holder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

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

// "name (pid N)" for a live process, empty for one that is gone.
QString ProcessLabel(const QString& procRoot, qint64 pid) {
    const QString dir = procRoot + QLatin1Char('/') + QString::number(pid);
    if (!QFileInfo(dir).isDir())
        return QString();
    QFile comm(dir + QStringLiteral("/comm"));
    QString name;
    if (comm.open(QIODevice::ReadOnly))
        name = QString::fromLocal8Bit(comm.read(256)).trimmed();
    return name.isEmpty() ? QStringLiteral("pid %1").arg(pid)
                          : QStringLiteral("%1 (pid %2)").arg(name).arg(pid);
}

// The pid in a UUCP-style lock file "LCK..<name>", as serial programs leave them.
qint64 LockFileHolder(const QStringList& lockDirs, const QString& device, qint64 selfPid) {
    QString relative = device;
    if (relative.startsWith(QLatin1String("/dev/")))
        relative = relative.mid(5);
    const QStringList names = {QFileInfo(device).fileName(),
                               QString(relative).replace(QLatin1Char('/'), QLatin1Char('_'))};
    for (const QString& dir : lockDirs) {
        for (const QString& name : names) {
            QFile file(dir + QStringLiteral("/LCK..") + name);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const qint64 pid = file.read(64).simplified().split(' ').value(0).toLongLong();
            if (pid > 0 && pid != selfPid)
                return pid;
        }
    }
    return 0;
}

// The first other process with the device open among its file descriptors.
qint64 OpenFileHolder(const QString& procRoot, const QString& device, qint64 selfPid) {
    const QStringList pids = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : pids) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == selfPid)
            continue;
        const QDir fds(procRoot + QLatin1Char('/') + entry + QStringLiteral("/fd"));
        for (const QFileInfo& fd :
             fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            if (fd.symLinkTarget() == device)
                return pid;
        }
    }
    return 0;
}

}  // namespace

QString FindPortHolder(const QString& device, qint64 selfPid, const HolderSources& sources) {
    for (qint64 pid : {LockTableHolder(sources.procRoot, device, selfPid),
                       LockFileHolder(sources.lockDirs, device, selfPid),
                       OpenFileHolder(sources.procRoot, device, selfPid)}) {
        if (pid <= 0)
            continue;
        const QString label = ProcessLabel(sources.procRoot, pid);
        if (!label.isEmpty())
            return label;
    }
    return QString();
}
