#pragma once

#include <termios.h>
#include <QByteArray>
#include <QString>

// A real serial line for tests: a pseudo-terminal pair. The link opens the slave by its
// path; the test reads what arrived on the master and looks at the line settings.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return masterFd >= 0 && slaveFd >= 0; }
    QString slavePath() const { return path; }

    // Reads until count bytes have arrived or timeoutMs passes.
    QByteArray Read(int count, int timeoutMs = 2000);
    // Reads whatever arrives until the line has been quiet for quietMs.
    QByteArray ReadAvailable(int quietMs = 100);
    // The slave's settings as the line has them.
    struct termios LineSettings() const;
    // Fills the line until it takes no more; returns the bytes written.
    qint64 FillUntilStalled();
    // Hangs up the line, as when the device is unplugged.
    void CloseMaster();

    int masterFd = -1;
    int slaveFd = -1;

private:
    QString path;
};
