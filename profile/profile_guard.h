#pragma once

#include <QByteArray>
#include <QString>

// Checks that keep a hostile profile file away from QSettings, which parses the whole
// file, decodes "@Variant(...)" values recursively, blocks on a FIFO and waits on its
// lock file without a time-out. None of these checks ever blocks.
namespace ProfileGuard {

// Far above anything the program writes (a few hundred bytes with a "Ports" section).
constexpr qint64 kSizeLimit = 64 * 1024;
// How long a write waits for another writer's lock before it gives up.
constexpr int kLockWaitMs = 100;

enum class Verdict {
    Usable,      // absent, or a regular file of plain settings
    Corrupt,     // a regular file the program could not have written: too large, undecodable
    Unreadable,  // not a regular file, or it cannot be read
};

struct Finding {
    Verdict verdict = Verdict::Usable;
    QString reason;  // empty when usable
};

// What the file at path is, read without blocking (never through QSettings).
Finding CheckFile(const QString& path);
// Why content cannot be a profile of this program, or empty: it writes only section
// names, key names, whole numbers and device paths as plain UTF-8 text, so a NUL byte,
// invalid UTF-8, '@' (the start of QSettings' encoded values) or a backslash escape that
// names a character by its number (which can spell '@') marks a file it did not write.
QString ContentProblem(const QByteArray& content);
// Why a write to the file at path would wait on its lock, or empty. Tries the lock for
// at most kLockWaitMs and leaves it free again for QSettings to take.
QString LockProblem(const QString& path);

}  // namespace ProfileGuard
