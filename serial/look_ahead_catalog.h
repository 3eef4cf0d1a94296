#pragma once

#include <QObject>
#include <future>

#include "port_catalog.h"

// The devices of another catalog, looked up ahead. The first look starts in the background
// as this catalog is made, and the devices it finds serve every call until the program
// next handles its events; calls after that ask the other catalog again, so a device
// plugged in later shows as before. The keypad window asks more than once while it is
// built, and a look through udev takes milliseconds: its start pays for one look, made
// beside the building. The other catalog's Ports() must be callable from another thread.
class LookAheadPortCatalog : public PortCatalog {
public:
    explicit LookAheadPortCatalog(const PortCatalog& source);
    QList<SerialPortFacts> Ports() const override;
    QString Holder(const QString& device) const override { return source.Holder(device); }

private:
    const PortCatalog& source;
    // From std::async: going, it waits for a look still running, which reads the source.
    mutable std::future<QList<SerialPortFacts>> pending;
    mutable QList<SerialPortFacts> found;
    bool eventsHandled = false;
    QObject expiry;  // takes the end of the start with it when the catalog goes
};
