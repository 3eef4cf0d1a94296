#include <QCoreApplication>
#include <QSerialPortInfo>

#include "port_catalog.h"
#include "port_holder.h"

QList<SerialPortFacts> SystemPortCatalog::Ports() const {
    const QHash<QString, QString> byId = ByIdNames(devRoot);
    QList<SerialPortFacts> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortFacts facts;
        facts.device = info.systemLocation();
        facts.byId = byId.value(ResolvedPath(facts.device));
        facts.description = info.description();
        facts.manufacturer = info.manufacturer();
        facts.serialNumber = info.serialNumber();
        facts.usb = info.hasVendorIdentifier() || !facts.byId.isEmpty();
        ports << facts;
    }
    return ports;
}

QString SystemPortCatalog::Holder(const QString& device) const {
    const QString holder = FindPortHolder(ResolvedPath(device), -1);
    return holder.contains(QStringLiteral("(pid %1)").arg(QCoreApplication::applicationPid()))
               ? QStringLiteral("this program")
               : holder;
}
