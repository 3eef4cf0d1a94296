#include "ws_session.h"

#include <QJsonObject>

#include "remote/access/client_book.h"
#include "remote/access/token_proof.h"
#include "remote/wire/key_names.h"
#include "remote/wire/reply_words.h"

using Outcome = RemoteKeys::Outcome;

namespace {

// The status codes of responses are HTTP's, so that both ways in read alike.
constexpr int kOk = 200;
constexpr int kBadRequest = 400;
constexpr int kNotFound = 404;
constexpr int kTooMany = 429;

QString Latin(const QByteArray& bytes) {
    return QString::fromLatin1(TokenProof::Base64Url(bytes));
}

WsSession::Out Message(const QByteArray& text) {
    WsSession::Out out;
    out.text = text;
    return out;
}

}  // namespace

WsSession::WsSession(RemoteKeys& keys, const ClientBook& book, const QString& client)
    : keys(keys), book(book), client(client) {
    clock.start();
}

QByteArray WsSession::Hello() {
    challenge = TokenProof::Challenge();
    salt = TokenProof::SaltOf(book.Stored(client));
    // A name with no client gets a salt all the same, so that a hello does not tell which
    // names exist; its sign-in fails.
    if (salt.isEmpty())
        salt = TokenProof::Challenge().left(TokenProof::kSaltBytes);
    QJsonObject authentication;
    authentication.insert(QLatin1String("challenge"), Latin(challenge));
    authentication.insert(QLatin1String("salt"), Latin(salt));
    QJsonObject data;
    data.insert(QLatin1String("rpcVersion"), Wire::kRpcVersion);
    data.insert(QLatin1String("authentication"), authentication);
    return Wire::BuildMessage(Wire::Hello, data);
}

WsSession::Out WsSession::Close(int code, const QString& why) {
    phase = Phase::Closed;
    Out out;
    out.closeCode = code;
    out.closeWhy = why;
    return out;
}

QList<WsSession::Out> WsSession::OnText(const QByteArray& text) {
    if (phase == Phase::Closed)
        return {};
    const Wire::Parsed parsed = Wire::ParseMessage(text);
    if (!parsed.ok)
        return {Close(kNoMessage, parsed.error)};
    switch (parsed.message.op) {
        case Wire::Identify:
            if (phase == Phase::Identified)
                return {Close(kIdentifiedTwice, QStringLiteral("already identified"))};
            return OnIdentify(parsed.message.data);
        case Wire::Request:
            if (phase != Phase::Identified)
                return {Close(kNotIdentified, QStringLiteral("identify first"))};
            return OnRequest(parsed.message.data);
        default:
            return {Close(kUnknownOp,
                          QStringLiteral("op %1 is not a client's").arg(parsed.message.op))};
    }
}

QList<WsSession::Out> WsSession::OnIdentify(const QJsonObject& data) {
    if (data.value(QLatin1String("rpcVersion")).toInt(-1) != Wire::kRpcVersion)
        return {Close(kRpcVersion,
                      QStringLiteral("this server speaks rpcVersion %1").arg(Wire::kRpcVersion))};
    const QByteArray proof =
        TokenProof::FromBase64Url(data.value(QLatin1String("authentication")).toString());
    const QString stored = book.Stored(client);
    // The challenge is good for one attempt.
    const QByteArray asked = challenge;
    challenge.clear();
    if (stored.isEmpty() || !TokenProof::CheckProof(stored, asked, proof))
        return {Close(kSignInFailed, QStringLiteral("sign-in failed"))};
    phase = Phase::Identified;
    QJsonObject identified;
    identified.insert(QLatin1String("negotiatedRpcVersion"), Wire::kRpcVersion);
    return {Message(Wire::BuildMessage(Wire::Identified, identified))};
}

WsSession::Out WsSession::Respond(const Wire::ClientRequest& request, bool ok, int code,
                                  const QString& comment, const QJsonObject& response) const {
    QJsonObject status;
    status.insert(QLatin1String("result"), ok);
    status.insert(QLatin1String("code"), code);
    if (!comment.isEmpty())
        status.insert(QLatin1String("comment"), comment);
    QJsonObject data;
    data.insert(QLatin1String("requestType"), request.type);
    data.insert(QLatin1String("requestId"), request.id);
    data.insert(QLatin1String("requestStatus"), status);
    if (!response.isEmpty())
        data.insert(QLatin1String("responseData"), response);
    return Message(Wire::BuildMessage(Wire::RequestResponse, data));
}

WsSession::Out WsSession::Answer(const Wire::ClientRequest& request,
                                 const RemoteKeys::Reply& reply) const {
    return Respond(request, reply.outcome == Outcome::Done, ReplyWords::HttpStatus(reply.outcome),
                   reply.words, ReplyWords::Reply(reply));
}

WsSession::Out WsSession::EventMessage(const QString& type, const QJsonObject& eventData) const {
    QJsonObject data;
    data.insert(QLatin1String("eventType"), type);
    data.insert(QLatin1String("eventData"), eventData);
    return Message(Wire::BuildMessage(Wire::Event, data));
}

QList<WsSession::Out> WsSession::OnRequest(const QJsonObject& data) {
    const Wire::ParsedRequest parsed = Wire::ParseRequest(data);
    if (!parsed.ok)
        return {Respond({QString(),
                         data.value(QLatin1String("requestId")).toString().left(Wire::kMaxIdLength),
                         {}},
                        false, kBadRequest, parsed.error, {})};
    const Wire::ClientRequest& request = parsed.request;
    const Wire::KeyBody body = Wire::ParseKeyBody(request.data);
    const QString type = request.type;
    if (type != QLatin1String("KeyUp") && !gate.Allow(clock.elapsed()))
        return {Respond(request, false, kTooMany, QStringLiteral("too many requests"), {})};
    if (!body.ok)
        return {Respond(request, false, kBadRequest, body.error, {})};
    if (type == QLatin1String("GetState"))
        return {Respond(request, true, kOk, QString(), ReplyWords::State(keys.Snapshot()))};
    if (type == QLatin1String("SelectCamera")) {
        if (body.camera < 0 || body.camera > 255)
            return {Respond(request, false, kBadRequest,
                            QStringLiteral("Camera ID Range (0 ~ 255) Error!"), {})};
        selectedCamera = body.camera;
        QJsonObject selected;
        selected.insert(QLatin1String("camera"), selectedCamera);
        return {Respond(request, true, kOk, QString(), selected)};
    }
    if (type == QLatin1String("Renew"))
        return {Answer(request, keys.Renew(client, body.leaseMs))};
    if (type != QLatin1String("KeyDown") && type != QLatin1String("KeyUp") &&
        type != QLatin1String("Press"))
        return {Respond(request, false, kNotFound,
                        QStringLiteral("unknown requestType \"%1\"; the requests are SelectCamera, "
                                       "KeyDown, KeyUp, Renew, Press and GetState")
                            .arg(type),
                        {})};
    const QString keyName = request.data.value(QLatin1String("key")).toString();
    const int controlId = KeyNames::FromName(keyName);
    if (!controlId) {
        RemoteKeys::Reply unknown;
        unknown.outcome = Outcome::UnknownKey;
        unknown.words = KeyNames::UnknownWords(keyName);
        return {Answer(request, unknown)};
    }
    if (type == QLatin1String("KeyUp"))
        return {Answer(request, keys.Up(client, controlId))};
    const int camera = body.camera == Wire::kNoCamera ? selectedCamera : body.camera;
    if (camera == Wire::kNoCamera)
        return {Respond(request, false, kBadRequest,
                        QStringLiteral("no camera: name one, or select one first"), {})};
    if (type == QLatin1String("Press"))
        return {Answer(request, keys.Press(client, controlId, camera, body.select))};
    const RemoteKeys::Reply reply = keys.Down(client, controlId, camera, body.leaseMs);
    QList<Out> out = {Answer(request, reply)};
    if (reply.outcome == Outcome::Done) {
        startedHold = true;
        QJsonObject held = ReplyWords::Reply(reply);
        held.insert(QLatin1String("key"), KeyNames::Name(controlId));
        out << EventMessage(QStringLiteral("Held"), held);
    } else if (reply.outcome == Outcome::HeldByOther) {
        QJsonObject refused = ReplyWords::Reply(reply);
        refused.insert(QLatin1String("why"), reply.words);
        out << EventMessage(QStringLiteral("Refused"), refused);
    }
    return out;
}

QByteArray WsSession::OnEvent(const RemoteKeys::Event& event) const {
    if (phase != Phase::Identified)
        return QByteArray();
    if (event.kind != RemoteKeys::EventKind::LineState && event.client != client)
        return QByteArray();
    return EventMessage(ReplyWords::EventType(event.kind), ReplyWords::Event(event)).text;
}

void WsSession::OnGone() {
    // A session closed for a bad message still owns the hold it started.
    phase = Phase::Closed;
    if (startedHold)
        keys.ClientGone(client);
}
