#include <QFile>

#include "port_name.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// The character devices of the pseudo-terminal master multiplexer (5:2) and of the
// controlling terminal (5:0): frames written there reach no camera.
constexpr unsigned kTtyAuxMajor = 5;
constexpr unsigned kControllingTtyMinor = 0;
constexpr unsigned kMultiplexerMinor = 2;

}  // namespace

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
