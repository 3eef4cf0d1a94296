#pragma once

#include <QByteArray>
#include <cstdint>

#include "remote/access/listen_address.h"

// At most kBurst requests at once and kPerSecond a second after that, for one client or
// connection; what is over gets an error and moves nothing. A key's release is never held
// back by it: a release refused would leave a camera moving until its lease ends.
class RequestGate {
public:
    static constexpr double kPerSecond = 50;
    static constexpr double kBurst = 50;

    bool Allow(int64_t nowMs);

private:
    double tokens = kBurst;
    int64_t lastMs = -1;
};

// A browser names the page a request comes from in Origin; a program sends none. Only a page
// served from the service's own address may drive it (a later page of its own), so that a
// web page open in the operator's browser cannot. Loopback also answers as localhost.
bool OriginAllowed(const QByteArray& origin, const ListenAddress& address);
