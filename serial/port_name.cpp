#include "port_name.h"

#include <QDir>
#include <QFileInfo>

#include "panel/profile_store.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace {

// The character devices of the pseudo-terminal master multiplexer (5:2) and of the
// controlling terminal (5:0): frames written there reach no camera.
constexpr unsigned kTtyAuxMajor = 5;
constexpr unsigned kControllingTtyMinor = 0;
constexpr unsigned kMultiplexerMinor = 2;

PortTarget Refused(PortFault fault, const QString& device, const QString& detail = QString()) {
    PortTarget target;
    target.problem = {fault, device, detail};
    return target;
}

}  // namespace

QString BuiltInPortName(int port) {
    // Widened first: a stored port of INT_MIN must not overflow on the way.
    return QStringLiteral("/dev/ttyS%1").arg(qint64(port) - 1);
}

QString AbsolutePortEntry(const QString& entry, const QString& devRoot) {
    const QString text = entry.trimmed();
    return QDir::cleanPath(QDir::isAbsolutePath(text) ? text : devRoot + QLatin1Char('/') + text);
}

PortTarget CheckPortEntry(const QString& entry, const QString& devRoot) {
    const QString text = entry.trimmed();
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return Refused(PortFault::UnusableEntry, QString(),
                           QStringLiteral("it holds control characters"));
        // The profile would keep such a character as an escape (or, for '@', as the mark
        // of an encoded value), which a later start cannot tell from a tampered file.
        if (c.unicode() > 0x7E || c == QLatin1Char('@'))
            return Refused(PortFault::UnusableEntry, QString(),
                           QStringLiteral("it holds '@' or characters other than plain ASCII"));
    }
    if (text.isEmpty())
        return Refused(PortFault::UnusableEntry, QString(), QStringLiteral("it is empty"));
    // A relative entry names a device under /dev ("ttyUSB0", "pts/1"), wherever the
    // program was started from.
    const QString absolute = AbsolutePortEntry(text, devRoot);
    const QString resolved = QFileInfo(absolute).canonicalFilePath();
    const QString device = resolved.isEmpty() ? absolute : resolved;
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) == 0 && S_ISCHR(info.st_mode) &&
        major(info.st_rdev) == kTtyAuxMajor) {
        if (minor(info.st_rdev) == kMultiplexerMinor)
            return Refused(PortFault::Multiplexer, device);
        if (minor(info.st_rdev) == kControllingTtyMinor)
            return Refused(PortFault::NotSerial, device);
    }
#endif
    PortTarget target(device);
    target.entry = absolute;
    return target;
}

PortTarget ResolvePort(int port, const ProfileStore& profile, const QString& devRoot) {
    const QString comName = QStringLiteral("COM%1").arg(port);
#ifdef Q_OS_WIN
    Q_UNUSED(profile);
    Q_UNUSED(devRoot);
    return PortTarget(comName);
#else
    const QVariant mapped = profile.ReadText(QStringLiteral("Ports"), comName);
    if (!mapped.isValid())
        return PortTarget(BuiltInPortName(port));
    if (mapped.userType() != QMetaType::QString)
        return Refused(PortFault::UnusableEntry, QString(),
                       QStringLiteral("it is not text (a %1 value)")
                           .arg(QString::fromLatin1(mapped.typeName())));
    const QString text = mapped.toString();
    if (text.trimmed().isEmpty())
        return PortTarget(BuiltInPortName(port));
    PortTarget target = CheckPortEntry(text, devRoot);
    if (target.problem.fault == PortFault::UnusableEntry)
        target.problem.detail = QStringLiteral("\"%1\" %2").arg(text, target.problem.detail);
    return target;
#endif
}

QString PortDeviceName(int port, const ProfileStore& profile) {
    return ResolvePort(port, profile).device;
}
