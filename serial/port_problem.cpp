#include "port_problem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include "lock_table.h"
#include "port_name.h"

PortFault FaultFromErrno(int error) {
    switch (error) {
        case 0:
            return PortFault::None;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return PortFault::NoSuchDevice;
        case EACCES:
        case EPERM:
        case EROFS:
            return PortFault::PermissionDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return PortFault::Busy;
        case ENOTTY:
            return PortFault::NotSerial;
        default:
            return PortFault::Failed;
    }
}

QString DescribeProblem(int port, const PortProblem& problem) {
    const PortWords& words = SystemPortWords();
    const QString where = problem.device.isEmpty()
                              ? QStringLiteral("COM%1").arg(port)
                              : QStringLiteral("COM%1 (%2)").arg(port).arg(problem.device);
    switch (problem.fault) {
        case PortFault::None:
            return QString();
        case PortFault::NoSuchDevice:
            return QStringLiteral("%1: no such %2. %3")
                .arg(where, words.device, words.missingAdvice.arg(port));
        case PortFault::PermissionDenied:
            return QStringLiteral("%1: permission denied. %2").arg(where, words.permissionAdvice);
        case PortFault::Busy:
            return QStringLiteral(
                       "%1: held by another program%2. Close it, then press "
                       "COMMUNICATION SET.")
                .arg(where,
                     problem.detail.isEmpty() ? QString() : QStringLiteral(", ") + problem.detail);
        case PortFault::NotSerial:
            return QStringLiteral("%1: not a serial %2.").arg(where, words.device);
        case PortFault::Multiplexer:
            return QStringLiteral(
                       "%1: refused: this is the pseudo-terminal multiplexer, not a "
                       "serial port; frames sent there would reach nobody.")
                .arg(where);
        case PortFault::UnusableEntry:
            return QStringLiteral("COM%1: %2 can't be used: %3.")
                .arg(port)
                .arg(words.entryPlace, problem.detail);
        case PortFault::Refused:
            return problem.detail.isEmpty()
                       ? QStringLiteral("%1: the device refused the line settings.").arg(where)
                       : QStringLiteral("%1: the line settings were refused: %2.")
                             .arg(where, problem.detail);
        case PortFault::Network:
            return QStringLiteral("%1: %2.").arg(where, problem.detail);
        case PortFault::Failed:
            break;
    }
    return problem.detail.isEmpty()
               ? QStringLiteral("%1: could not be opened.").arg(where)
               : QStringLiteral("%1: could not be opened: %2.").arg(where, problem.detail);
}

namespace {

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
