#include <QCoreApplication>
#include <QFileInfo>
#include <QSerialPortInfo>

#include "port_catalog.h"
#include "port_problem.h"

namespace {

QString Resolved(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

}  // namespace

QList<SerialPortFacts> SystemPortCatalog::Ports() const {
    const QHash<QString, QString> byId = ByIdNames(devRoot);
    QList<SerialPortFacts> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortFacts facts;
        facts.device = info.systemLocation();
        facts.byId = byId.value(Resolved(facts.device));
        facts.description = info.description();
        facts.manufacturer = info.manufacturer();
        facts.serialNumber = info.serialNumber();
        facts.usb = info.hasVendorIdentifier() || !facts.byId.isEmpty();
        ports << facts;
    }
    return ports;
}

QString SystemPortCatalog::Holder(const QString& device) const {
    const QString holder = FindPortHolder(Resolved(device), -1);
    return holder.contains(QStringLiteral("(pid %1)").arg(QCoreApplication::applicationPid()))
               ? QStringLiteral("this program")
               : holder;
}
