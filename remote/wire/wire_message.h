#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The remote keypad's WebSocket messages: one JSON object a message, {"op": N, "d": {...}}.
// The server says hello with a challenge, the client identifies with its proof, and from then
// on it sends requests that each get a response with the same id; events come unasked.
namespace Wire {

enum Op : int {
    Hello = 0,            // server: the protocol's version and the sign-in challenge
    Identify = 1,         // client: the version it speaks and its proof
    Identified = 2,       // server: signed in
    Event = 5,            // server: something happened that the client did not ask for
    Request = 6,          // client: a request with an id
    RequestResponse = 7,  // server: the answer to a request, with its id
};

// The protocol's version; a client that asks for another is refused.
constexpr int kRpcVersion = 1;
// A message or an HTTP body larger than this is refused unread.
constexpr qsizetype kMaxMessageBytes = 16 * 1024;
// A request id or type longer than this is refused, so that an answer stays small.
constexpr qsizetype kMaxIdLength = 64;
// A body that names no camera: the session's selected camera is used (WebSocket), or it is
// an error (HTTP).
constexpr int kNoCamera = -2;
constexpr int kDefaultLeaseMs = 1000;

struct Message {
    int op = -1;
    QJsonObject data;
};

struct Parsed {
    bool ok = false;
    Message message;
    QString error;  // why the text is no message
};

// Text to a message: JSON, an object, an op that is a whole number, and a "d" object.
Parsed ParseMessage(const QByteArray& text);
QByteArray BuildMessage(int op, const QJsonObject& data);

struct ClientRequest {
    QString type;
    QString id;
    QJsonObject data;
};

struct ParsedRequest {
    bool ok = false;
    ClientRequest request;
    QString error;
};

// A request's "d": requestType and requestId (strings), requestData (an object, optional).
ParsedRequest ParseRequest(const QJsonObject& data);

// The fields a key's request may carry: camera, lease_ms, select (the ID CAM selects).
struct KeyBody {
    bool ok = true;
    int camera = kNoCamera;  // outside 0..255 is kept outside, for the keypad to refuse
    int leaseMs = kDefaultLeaseMs;
    int select = -1;
    QString error;  // a field of the wrong kind
};

KeyBody ParseKeyBody(const QJsonObject& body);
// An HTTP body: empty, or a JSON object of the same fields.
KeyBody ParseKeyBodyText(const QByteArray& text);

}  // namespace Wire
