#include "port_name.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "serial/net/net_address.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

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
    if (IsNetEntry(text)) {
        const PortTarget target = CheckNetEntry(text);
        return target.problem.isNone() ? target.device : text;
    }
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
    if (IsNetEntry(text))
        return CheckNetEntry(text);
    // A relative entry names a device under /dev ("ttyUSB0", "pts/1"), wherever the
    // program was started from.
    const QString absolute = AbsolutePortEntry(text, devRoot);
    const QString resolved = QFileInfo(absolute).canonicalFilePath();
    const QString device = resolved.isEmpty() ? absolute : resolved;
    const PortProblem refusal = DeviceRefusal(device);
    if (!refusal.isNone())
        return Refused(refusal.fault, device);
    PortTarget target(device);
    target.entry = absolute;
    return target;
}

const PortWords& SystemPortWords() {
    static const PortWords words{
        QStringLiteral("device"),
        QStringLiteral("the entry in the profile's [Ports] section"),
        QStringLiteral("Check that the adapter is plugged in, or choose another device for "
                       "COM%1 with F2 (Serial ports)."),
        QStringLiteral("Join the dialout group (sudo adduser $USER dialout) and log in again."),
    };
    return words;
}

bool DevicePresent(const QString& device) {
    return QFileInfo::exists(device);
}

PortProblem DeviceRefusal(const QString& device) {
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0 || !S_ISCHR(info.st_mode) ||
        major(info.st_rdev) != kTtyAuxMajor)
        return {};
    if (minor(info.st_rdev) == kMultiplexerMinor)
        return {PortFault::Multiplexer, device, QString()};
    if (minor(info.st_rdev) == kControllingTtyMinor)
        return {PortFault::NotSerial, device, QString()};
    return {};
}

PortTarget ResolvePortEntry(int port, const QVariant& entry, const QString& devRoot) {
    if (!entry.isValid())
        return PortTarget(BuiltInPortName(port));
    if (entry.userType() != QMetaType::QString) {
        PortTarget target;
        target.problem = {PortFault::UnusableEntry, QString(),
                          QStringLiteral("it is not text (a %1 value)")
                              .arg(QString::fromLatin1(entry.typeName()))};
        return target;
    }
    const QString text = entry.toString();
    if (text.trimmed().isEmpty())
        return PortTarget(BuiltInPortName(port));
    PortTarget target = CheckPortEntry(text, devRoot);
    if (target.problem.fault == PortFault::UnusableEntry)
        target.problem.detail = QStringLiteral("\"%1\" %2").arg(text, target.problem.detail);
    return target;
}
