#include <QSettings>

#include "port_catalog.h"

// The ports Windows knows: the serial device map in the registry names each COMn.
QList<SerialPortFacts> SystemPortCatalog::Ports() const {
    QSettings map(QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM"),
                  QSettings::NativeFormat);
    QList<SerialPortFacts> ports;
    for (const QString& key : map.childKeys()) {
        SerialPortFacts facts;
        facts.device = map.value(key).toString();
        facts.description = key;
        if (facts.device.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
            ports << facts;
    }
    return ports;
}
