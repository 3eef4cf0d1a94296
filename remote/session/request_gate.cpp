#include "request_gate.h"

#include <QList>
#include <algorithm>

bool RequestGate::Allow(int64_t nowMs) {
    if (lastMs >= 0)
        tokens = std::min(kBurst, tokens + double(nowMs - lastMs) * kPerSecond / 1000.0);
    lastMs = nowMs;
    if (tokens < 1)
        return false;
    tokens -= 1;
    return true;
}

bool OriginAllowed(const QByteArray& origin, const ListenAddress& address) {
    if (origin.isEmpty())
        return true;
    const QByteArray port = QByteArray::number(address.port);
    QList<QByteArray> own = {"http://" + address.host.toLatin1() + ':' + port};
    if (address.Loopback())
        own << "http://localhost:" + port;
    return own.contains(origin.toLower());
}
