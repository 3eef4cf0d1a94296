#pragma once

#include <QString>

// The pid other than selfPid that holds an advisory lock on device, from the system's lock
// table under procRoot, or 0 when there is none or the system keeps no such table.
qint64 LockTableHolder(const QString& procRoot, const QString& device, qint64 selfPid);
