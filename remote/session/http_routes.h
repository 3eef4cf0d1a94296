#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include "holds/remote_keys.h"
#include "request_gate.h"

class ClientBook;

// An HTTP request as the routes need it, and the answer: a status and a JSON body.
struct HttpIn {
    QByteArray method;
    QByteArray target;         // path and query
    QByteArray authorization;  // the header's value
    QByteArray body;
};

struct HttpOut {
    int status = 200;
    QByteArray body;  // JSON
};

// The HTTP routes, on the window's thread:
//   POST /api/v1/keys/{key}/down   {"camera": 12, "lease_ms": 1000}
//   POST /api/v1/keys/{key}/up
//   POST /api/v1/keys/{key}/press  {"camera": 12, "select": 7}
//   GET  /api/v1/state
// each signed in by "Authorization: Bearer NAME.SECRET". An HTTP client has no connection
// the keypad watches: its hold lives only as long as its lease, renewed by a repeated down.
class HttpRoutes {
public:
    HttpRoutes(RemoteKeys& keys, const ClientBook& book);

    HttpOut Answer(const HttpIn& in, int64_t nowMs);

private:
    HttpOut KeyRoute(const QString& client, const QString& key, const QString& action,
                     const HttpIn& in);

    RemoteKeys& keys;
    const ClientBook& book;
    QHash<QString, RequestGate> gates;  // per client
};
