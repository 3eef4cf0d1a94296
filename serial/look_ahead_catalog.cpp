#include "look_ahead_catalog.h"

#include <QTimer>

LookAheadPortCatalog::LookAheadPortCatalog(const PortCatalog& source) : source(source) {
    // Where no thread can be had, the look is made by the first call instead.
    pending = std::async(std::launch::async | std::launch::deferred,
                         [&source] { return source.Ports(); });
    QTimer::singleShot(0, &expiry, [this] { eventsHandled = true; });
}

QList<SerialPortFacts> LookAheadPortCatalog::Ports() const {
    if (eventsHandled)
        return source.Ports();
    if (pending.valid())
        found = pending.get();
    return found;
}
