#include "port_name.h"
#include "serial/net/net_address.h"

namespace {

// Windows numbers its ports COM1 to COM256.
constexpr int kHighestPort = 256;

// The number n of "COMn", also written "\\.\COMn" or in lower case; 0 for anything else.
int PortNumber(const QString& entry) {
    QString text = entry.trimmed();
    if (text.startsWith(QLatin1String("\\\\.\\")))
        text = text.mid(4);
    if (!text.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) || text.size() > 6)
        return 0;
    const QString digits = text.mid(3);
    for (const QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    const int number = digits.toInt();
    return digits.startsWith(QLatin1Char('0')) || number > kHighestPort ? 0 : number;
}

PortTarget NotAPort(const QString& shown) {
    PortTarget target;
    target.problem = {
        PortFault::UnusableEntry, QString(),
        QStringLiteral("%1 is not a port name from COM1 to COM%2").arg(shown).arg(kHighestPort)};
    return target;
}

}  // namespace

QString BuiltInPortName(int port) {
    return QStringLiteral("COM%1").arg(qint64(port));
}

QString AbsolutePortEntry(const QString& entry, const QString&) {
    if (IsNetEntry(entry.trimmed())) {
        const PortTarget target = CheckNetEntry(entry);
        return target.problem.isNone() ? target.device : entry.trimmed();
    }
    const int number = PortNumber(entry);
    return number ? BuiltInPortName(number) : entry.trimmed();
}

PortTarget CheckPortEntry(const QString& entry, const QString&) {
    // A serial server on the network may stand for a row, as on any system.
    if (IsNetEntry(entry.trimmed()))
        return CheckNetEntry(entry);
    const int number = PortNumber(entry);
    // Control characters are shown escaped: the reason goes into a tooltip and a log line.
    const QString shown = entry.trimmed().isEmpty()
                              ? QStringLiteral("an empty entry")
                              : QStringLiteral("\"%1\"").arg(QString::fromLatin1(
                                    entry.trimmed().toUtf8().toPercentEncoding(" \\.:/()-_")));
    if (!number)
        return NotAPort(shown);
    PortTarget target(BuiltInPortName(number));
    target.entry = target.device;
    return target;
}

// Windows has no device node that could stand for another kind of device.
PortProblem DeviceRefusal(const QString&) {
    return {};
}

PortTarget ResolvePortEntry(int port, const QVariant& entry, const QString& devRoot) {
    if (!entry.isValid())
        return PortTarget(BuiltInPortName(port));
    if (entry.userType() != QMetaType::QString)
        return NotAPort(QStringLiteral("a %1 value").arg(QString::fromLatin1(entry.typeName())));
    const QString text = entry.toString();
    if (text.trimmed().isEmpty())
        return PortTarget(BuiltInPortName(port));
    PortTarget target = CheckPortEntry(text, devRoot);
    // A port name's reason already names the entry; a network entry's says what is wrong.
    if (IsNetEntry(text.trimmed()) && target.problem.fault == PortFault::UnusableEntry)
        target.problem.detail = QStringLiteral("\"%1\" %2").arg(text, target.problem.detail);
    return target;
}

bool DevicePresent(const QString&) {
    return false;
}

const PortWords& SystemPortWords() {
    static const PortWords words{
        QStringLiteral("port"),
        QStringLiteral("the program's Ports entry in the registry"),
        QStringLiteral("Check that the adapter is plugged in (Device Manager lists the ports "
                       "under \"Ports (COM & LPT)\"), or choose another port for COM%1 with F2 "
                       "(Serial ports)."),
        QStringLiteral("Close any program that uses it, then press COMMUNICATION SET."),
    };
    return words;
}
