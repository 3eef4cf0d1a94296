#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include "holds/remote_keys.h"
#include "remote/wire/wire_message.h"
#include "request_gate.h"

class ClientBook;

// One WebSocket connection, on the window's thread. Its machine:
//   Greeting --Identify with a good proof--> Identified
//   Greeting --anything else--> closed (the client is told why by the close)
//   Identified --Request--> Identified, with one RequestResponse for each
//   Identified --Identify, or text that is no message--> closed
// A client's movement lives only as long as its connection: when the connection ends, the
// client's hold that this connection started ends with its stop (Gone).
class WsSession {
public:
    // What goes back: a text message, or a close with its code and reason.
    struct Out {
        QByteArray text;
        int closeCode = 0;
        QString closeWhy;
    };
    // The close codes, each a reason a client can act on.
    enum Close : int {
        kNoMessage = 4000,      // text that is no message: not JSON, no op, no "d"
        kUnknownOp = 4001,      // an op a client may not send
        kNotIdentified = 4002,  // a request before the sign-in
        kIdentifiedTwice = 4003,
        kSignInFailed = 4004,  // no such client, or a proof that does not hold
        kRpcVersion = 4005,    // a version this server does not speak
    };

    // client: the name the client gave when it connected (?client=NAME).
    WsSession(RemoteKeys& keys, const ClientBook& book, const QString& client);

    // The first message: the protocol's version and a fresh challenge with the client's salt.
    QByteArray Hello();
    QList<Out> OnText(const QByteArray& text);
    // An event of the keypad's as this connection tells it; empty when it is not for it.
    QByteArray OnEvent(const RemoteKeys::Event& event) const;
    // The connection ended: a hold this connection started ends with its stop.
    void OnGone();

    bool Identified() const { return phase == Phase::Identified; }
    QString Client() const { return client; }

private:
    enum class Phase { Greeting, Identified, Closed };

    QList<Out> OnIdentify(const QJsonObject& data);
    QList<Out> OnRequest(const QJsonObject& data);
    Out Respond(const Wire::ClientRequest& request, bool ok, int code, const QString& comment,
                const QJsonObject& response) const;
    Out Answer(const Wire::ClientRequest& request, const RemoteKeys::Reply& reply) const;
    Out Close(int code, const QString& why);
    Out EventMessage(const QString& type, const QJsonObject& data) const;

    RemoteKeys& keys;
    const ClientBook& book;
    QString client;
    Phase phase = Phase::Greeting;
    QByteArray challenge;
    QByteArray salt;
    int selectedCamera = Wire::kNoCamera;
    bool startedHold = false;
    RequestGate gate;
    QElapsedTimer clock;
};
