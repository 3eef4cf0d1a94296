#include "http_routes.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include "remote/access/client_book.h"
#include "remote/wire/key_names.h"
#include "remote/wire/reply_words.h"
#include "remote/wire/wire_message.h"

namespace {

HttpOut Json(int status, const QJsonObject& object) {
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

HttpOut Error(int status, const char* outcome, const QString& words) {
    return Json(status, ReplyWords::Error(QString::fromLatin1(outcome), words));
}

}  // namespace

HttpRoutes::HttpRoutes(RemoteKeys& keys, const ClientBook& book) : keys(keys), book(book) {}

HttpOut HttpRoutes::Answer(const HttpIn& in, int64_t nowMs) {
    const QString path = QString::fromLatin1(in.target).section(QLatin1Char('?'), 0, 0);
    const QString api = QStringLiteral("/api/v1/");
    if (!path.startsWith(api))
        return Error(404, "not_found",
                     QStringLiteral("nothing is served at %1; the keypad's API is under /api/v1/")
                         .arg(path.left(64)));
    const QString client = book.Bearer(QString::fromLatin1(in.authorization));
    if (client.isEmpty())
        return Error(401, "unauthorized",
                     QStringLiteral("sign in with \"Authorization: Bearer NAME.SECRET\", the "
                                    "token the client was given"));
    const QStringList parts = path.mid(api.size()).split(QLatin1Char('/'));
    const bool release = parts.size() == 3 && parts[2] == QLatin1String("up");
    if (!release && !gates[client].Allow(nowMs))
        return Error(429, "too_many_requests",
                     QStringLiteral("more than %1 requests a second").arg(RequestGate::kPerSecond));
    if (parts.size() == 1 && parts[0] == QLatin1String("state")) {
        if (in.method != "GET")
            return Error(405, "method_not_allowed", QStringLiteral("the state takes GET"));
        return Json(200, ReplyWords::State(keys.Snapshot()));
    }
    if (parts.size() == 3 && parts[0] == QLatin1String("keys"))
        return KeyRoute(client, parts[1], parts[2], in);
    return Error(404, "not_found",
                 QStringLiteral("no such route: %1; the routes are POST /api/v1/keys/{key}/down, "
                                "/up and /press, and GET /api/v1/state")
                     .arg(path.left(64)));
}

HttpOut HttpRoutes::KeyRoute(const QString& client, const QString& key, const QString& action,
                             const HttpIn& in) {
    if (action != QLatin1String("down") && action != QLatin1String("up") &&
        action != QLatin1String("press"))
        return Error(
            404, "not_found",
            QStringLiteral("a key takes down, up or press, not \"%1\"").arg(action.left(16)));
    if (in.method != "POST")
        return Error(405, "method_not_allowed", QStringLiteral("a key takes POST"));
    const int controlId = KeyNames::FromName(key);
    RemoteKeys::Reply reply;
    if (!controlId) {
        reply.outcome = RemoteKeys::Outcome::UnknownKey;
        reply.words = KeyNames::UnknownWords(key);
        return Json(404, ReplyWords::Reply(reply));
    }
    if (action == QLatin1String("up")) {
        reply = keys.Up(client, controlId);
        return Json(ReplyWords::HttpStatus(reply.outcome), ReplyWords::Reply(reply));
    }
    const Wire::KeyBody body = Wire::ParseKeyBodyText(in.body);
    if (!body.ok)
        return Error(400, "bad_body", body.error);
    if (body.camera == Wire::kNoCamera)
        return Error(400, "bad_body", QStringLiteral("the body names no camera: {\"camera\": 12}"));
    reply = action == QLatin1String("down")
                ? keys.Down(client, controlId, body.camera, body.leaseMs)
                : keys.Press(client, controlId, body.camera, body.select);
    return Json(ReplyWords::HttpStatus(reply.outcome), ReplyWords::Reply(reply));
}
