#include "port_name.h"

#include <QDir>
#include <QFileInfo>

#include "net_address.h"

namespace {

PortTarget Refused(PortFault fault, const QString& device, const QString& detail = QString()) {
    PortTarget target;
    target.problem = {fault, device, detail};
    return target;
}

// A serial server's address stands where a device would, in its one stored form.
PortTarget CheckNetEntry(const QString& text) {
    NetAddress address;
    QString why;
    if (!ParseNetEntry(text, address, why))
        return Refused(PortFault::UnusableEntry, QString(), why);
    PortTarget target(address.Entry());
    target.entry = target.device;
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
