#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include "serial/line/port_problem.h"

// What the system knows of one serial device.
struct SerialPortFacts {
    QString device;  // its node, /dev/ttyUSB0
    QString byId;    // its stable name under /dev/serial/by-id, when it has one
    QString description;
    QString manufacturer;
    QString serialNumber;
    QString driverName;  // on Windows its name in the serial device map, \Device\Serial0
    bool usb = false;    // a plug-in adapter rather than a built-in port
    // A serial port over Bluetooth (Windows), which connects when opened and may hold the
    // opener for seconds: never opened on trial, nor mapped on a first start.
    bool bluetooth = false;

    // The name to store for it: the stable one where there is one.
    QString PreferredName() const { return byId.isEmpty() ? device : byId; }
};

// The serial devices present; tests substitute a list.
class PortCatalog {
public:
    virtual ~PortCatalog() = default;
    virtual QList<SerialPortFacts> Ports() const = 0;
    // Who holds the device, in words ("another program", "velmor (pid 12)"); empty when
    // nobody does or the system cannot tell.
    virtual QString Holder(const QString&) const { return QString(); }
};

// The devices QSerialPortInfo finds, with their names under devRoot/serial/by-id; on
// Windows the ports of the serial device map, with what Device Manager knows of them.
class SystemPortCatalog : public PortCatalog {
public:
    explicit SystemPortCatalog(const QString& devRoot = QStringLiteral("/dev"))
        : devRoot(devRoot) {}
    QList<SerialPortFacts> Ports() const override;
    QString Holder(const QString& device) const override;

private:
    QString devRoot;
    // Windows: the Bluetooth ports, looked up once per catalog rather than once a port.
    [[maybe_unused]] mutable QSet<QString> bluetoothPorts;
    [[maybe_unused]] mutable bool bluetoothKnown = false;
};

// The path with every symbolic link resolved; the path itself when it names nothing.
QString ResolvedPath(const QString& path);

// Resolved device -> its by-id link, for every link in devRoot/serial/by-id.
QHash<QString, QString> ByIdNames(const QString& devRoot);

// The facts for a device given by any of its names, or null.
const SerialPortFacts* FindPort(const QList<SerialPortFacts>& ports, const QString& device);

// Up to four names for COM1 to COM4 on a first start: USB adapters first, by their stable
// names in order, then the built-in ports.
QStringList FirstStartMapping(const QList<SerialPortFacts>& ports);

// The tooltip of the COM<port> row: the device it names and what the system knows of it,
// or that no such device exists, or why the entry cannot be used.
QString PortToolTip(int port, const PortTarget& target, const QList<SerialPortFacts>& ports);

// One line on the port an entry names, for the Serial ports dialog: what the system knows
// of it and who holds it, that it is missing, or why the entry cannot be used.
QString PortNote(const PortTarget& target, const QList<SerialPortFacts>& ports,
                 const QString& holder);
