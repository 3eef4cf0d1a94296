#include "port_catalog.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "port_name.h"
#include "problem_words.h"
#include "serial/net/net_address.h"

QString ResolvedPath(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

namespace {

// Orders names with their digit runs taken as numbers: ttyS2 before ttyS10.
bool NaturalLess(const QString& a, const QString& b) {
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            int endA = i, endB = j;
            while (endA < a.size() && a[endA].isDigit()) ++endA;
            while (endB < b.size() && b[endB].isDigit()) ++endB;
            const qulonglong numberA = a.mid(i, endA - i).toULongLong();
            const qulonglong numberB = b.mid(j, endB - j).toULongLong();
            if (numberA != numberB)
                return numberA < numberB;
            i = endA;
            j = endB;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

QHash<QString, QString> ByIdNames(const QString& devRoot) {
    QHash<QString, QString> names;
    const QDir byId(devRoot + QStringLiteral("/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files, QDir::Name)) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty() && !names.contains(target))
            names.insert(target, link.absoluteFilePath());
    }
    return names;
}

const SerialPortFacts* FindPort(const QList<SerialPortFacts>& ports, const QString& device) {
    const QString wanted = ResolvedPath(device);
    for (const SerialPortFacts& facts : ports) {
        if (facts.device == device || facts.byId == device || ResolvedPath(facts.device) == wanted)
            return &facts;
    }
    return nullptr;
}

QStringList FirstStartMapping(const QList<SerialPortFacts>& ports) {
    QStringList usb, builtIn;
    for (const SerialPortFacts& facts : ports) (facts.usb ? usb : builtIn) << facts.PreferredName();
    // Natural order: ttyS2 before ttyS10, and a given set of adapters always maps alike.
    std::sort(usb.begin(), usb.end(), NaturalLess);
    std::sort(builtIn.begin(), builtIn.end(), NaturalLess);
    return (usb + builtIn).mid(0, 4);
}

namespace {

// The description, maker and serial number the system knows, each once.
QStringList AboutPort(const SerialPortFacts& facts) {
    QStringList about;
    for (const QString& fact : {facts.description, facts.manufacturer})
        if (!fact.isEmpty() && !about.contains(fact))
            about << fact;
    if (!facts.serialNumber.isEmpty())
        about << QStringLiteral("serial number %1").arg(facts.serialNumber);
    if (facts.bluetooth)
        about << QStringLiteral("a Bluetooth port, which connects when opened");
    return about;
}

}  // namespace

QString PortNote(const PortTarget& target, const QList<SerialPortFacts>& ports,
                 const QString& holder) {
    const QString device = SystemPortWords().device;
    if (!target.problem.isNone()) {
        if (target.problem.fault == PortFault::Multiplexer)
            return QStringLiteral("refused: the pseudo-terminal multiplexer");
        return QStringLiteral("can't be used: %1")
            .arg(target.problem.detail.isEmpty() ? QStringLiteral("not a serial %1").arg(device)
                                                 : target.problem.detail);
    }
    const SerialPortFacts* facts = FindPort(ports, target.device);
    if (!facts && !DevicePresent(target.device))
        return QStringLiteral("missing: no such %1 on this machine").arg(device);
    QStringList about = facts ? AboutPort(*facts) : QStringList();
    if (about.isEmpty())
        about << QStringLiteral("present");
    if (!holder.isEmpty())
        about << QStringLiteral("held by %1").arg(holder);
    return about.join(QStringLiteral(", "));
}

QString PortToolTip(int port, const PortTarget& target, const QList<SerialPortFacts>& ports) {
    if (!target.problem.isNone() && target.device.isEmpty())
        return DescribeProblem(port, target.problem);
    if (IsNetEntry(target.device))
        return QStringLiteral("COM%1 = %2\n%3")
            .arg(port)
            .arg(target.device, NetEntryKind(target.device));
    const bool linked = !target.entry.isEmpty() && target.entry != target.device;
    QStringList lines{
        QStringLiteral("COM%1 = %2").arg(port).arg(linked ? target.entry : target.device)};
    if (linked)
        lines << QStringLiteral("which is %1").arg(target.device);
    const SerialPortFacts* facts = FindPort(ports, target.device);
    if (!facts) {
        if (!DevicePresent(target.device))
            lines << QStringLiteral("No such %1 on this machine.").arg(SystemPortWords().device);
        return lines.join(QLatin1Char('\n'));
    }
    const QStringList about = AboutPort(*facts);
    if (!about.isEmpty())
        lines << about.join(QStringLiteral(", "));
    if (!facts->byId.isEmpty() && facts->byId != target.entry)
        lines << facts->byId;
    return lines.join(QLatin1Char('\n'));
}
