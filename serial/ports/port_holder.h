#pragma once

#include <QString>
#include <QStringList>

// Who holds a device, as far as a system with /proc and lock files can tell. Built off
// Windows only: there a Velmor that holds a port says so by the port's claim, and other
// holders show only as a refused open.

// Where the system keeps what tells who holds a device; tests point these at fake trees.
struct HolderSources {
    QString procRoot = QStringLiteral("/proc");
    QStringList lockDirs = {QStringLiteral("/run/lock"), QStringLiteral("/var/lock"),
                            QStringLiteral("/tmp")};
};

// The program holding the device other than this one, as "name (pid N)", or empty when the
// system cannot tell: first an advisory lock on it, then a UUCP lock file, then any
// process with the device open.
QString FindPortHolder(const QString& device, qint64 selfPid,
                       const HolderSources& sources = HolderSources());
