#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "keypad_rig.h"
#include "protocol/control_ids.h"
#include "remote/access/client_book.h"
#include "remote/access/listen_address.h"
#include "remote/access/token_proof.h"
#include "remote/session/http_routes.h"
#include "remote/session/request_gate.h"
#include "remote/session/ws_session.h"
#include "remote/wire/key_names.h"
#include "remote/wire/wire_message.h"

// The remote keypad below its sockets: the message codec, the keys' names, the sign-in, the
// HTTP routes and the WebSocket session's machine, driven against the real controller with
// its line recorded.

namespace {

// PELCO D frames: FF, address, command 1 and 2, data 1 and 2, the sum of the five.
QByteArray Pelco(int camera, int command2) {
    QByteArray frame;
    frame += char(0xFF);
    frame += char(camera);
    frame += char(0);
    frame += char(command2);
    frame += char(0);
    frame += char(0);
    frame += char((camera + command2) & 0xFF);
    return frame;
}
const QByteArray kZoomIn12 = Pelco(12, 0x20);
const QByteArray kStop12 = Pelco(12, 0);
const QByteArray kZoomOut5 = Pelco(5, 0x40);

QJsonObject Object(const QByteArray& text) {
    return QJsonDocument::fromJson(text).object();
}

// Two clients in the rig's profile; their tokens by name.
QHash<QString, QString> AddClients(KeypadRig& rig) {
    ClientBook book(rig.profile);
    return {{"a", book.Add("desk-2").token}, {"b", book.Add("desk-3").token}};
}

}  // namespace

class TestRemote : public QObject {
    Q_OBJECT
private slots:
    void message_data();
    void message();
    void request_data();
    void request();
    void keyBody_data();
    void keyBody();
    void keyNames_data();
    void keyNames();
    void issuedToken();
    void proof_data();
    void proof();
    void clientBook();
    void listenAddress_data();
    void listenAddress();
    void origin_data();
    void origin();
    void requestGate();
    void httpReplies_data();
    void httpReplies();
    void session_data();
    void session();
};

void TestRemote::message_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("op");  // -1: no message
    QTest::addColumn<QString>("error");
    QTest::newRow("identify") << QByteArray(R"({"op":1,"d":{"rpcVersion":1}})") << 1 << "";
    QTest::newRow("request") << QByteArray(R"({"d":{},"op":6})") << 6 << "";
    QTest::newRow("a float op") << QByteArray(R"({"op":1.5,"d":{}})") << -1 << "\"op\"";
    QTest::newRow("an op as text") << QByteArray(R"({"op":"6","d":{}})") << -1 << "\"op\"";
    QTest::newRow("no d") << QByteArray(R"({"op":6})") << -1 << "\"d\"";
    QTest::newRow("d an array") << QByteArray(R"({"op":6,"d":[]})") << -1 << "\"d\"";
    QTest::newRow("an array") << QByteArray("[1,2]") << -1 << "not a JSON object";
    QTest::newRow("cut short") << QByteArray(R"({"op":6,"d":{)") << -1 << "not JSON";
    QTest::newRow("empty") << QByteArray() << -1 << "not JSON";
    QTest::newRow("binary") << QByteArray("\x00\xff\x01", 3) << -1 << "not JSON";
    QTest::newRow("too large") << QByteArray(R"({"op":6,"d":{"x":")") +
                                      QByteArray(Wire::kMaxMessageBytes, 'a') + "\"}}"
                               << -1 << "larger than";
}

void TestRemote::message() {
    QFETCH(QByteArray, text);
    QFETCH(int, op);
    QFETCH(QString, error);
    const Wire::Parsed parsed = Wire::ParseMessage(text);
    QCOMPARE(parsed.ok, op >= 0);
    if (op >= 0) {
        QCOMPARE(parsed.message.op, op);
        // What is built parses back the same.
        const Wire::Parsed again =
            Wire::ParseMessage(Wire::BuildMessage(parsed.message.op, parsed.message.data));
        QVERIFY(again.ok);
        QCOMPARE(again.message.data, parsed.message.data);
    } else {
        QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
    }
}

void TestRemote::request_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("error");
    QTest::newRow("a down") << QByteArray(R"({"requestType":"KeyDown","requestId":"7",
        "requestData":{"key":"ZI"}})")
                            << true << "KeyDown"
                            << "";
    QTest::newRow("no data") << QByteArray(R"({"requestType":"GetState","requestId":""})") << true
                             << "GetState"
                             << "";
    QTest::newRow("no type") << QByteArray(R"({"requestId":"1"})") << false << ""
                             << "requestType";
    QTest::newRow("an id as a number")
        << QByteArray(R"({"requestType":"GetState","requestId":1})") << false << ""
        << "requestId";
    QTest::newRow("data as text")
        << QByteArray(R"({"requestType":"KeyUp","requestId":"1","requestData":"ZI"})") << false
        << ""
        << "requestData";
    QTest::newRow("an id too long")
        << QByteArray(R"({"requestType":"GetState","requestId":")") + QByteArray(65, 'x') + "\"}"
        << false << ""
        << "requestId";
}

void TestRemote::request() {
    QFETCH(QByteArray, data);
    QFETCH(bool, ok);
    QFETCH(QString, type);
    QFETCH(QString, error);
    const Wire::ParsedRequest parsed = Wire::ParseRequest(Object(data));
    QCOMPARE(parsed.ok, ok);
    QCOMPARE(parsed.request.type, type);
    QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
}

void TestRemote::keyBody_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("camera");
    QTest::addColumn<int>("leaseMs");
    QTest::newRow("empty") << QByteArray() << true << Wire::kNoCamera << 1000;
    QTest::newRow("camera and lease")
        << QByteArray(R"({"camera":12,"lease_ms":250})") << true << 12 << 250;
    QTest::newRow("a camera out of range stays out")
        << QByteArray(R"({"camera":256})") << true << 256 << 1000;
    QTest::newRow("a huge camera stays out")
        << QByteArray(R"({"camera":1e30})") << true << INT_MAX << 1000;
    QTest::newRow("a negative camera") << QByteArray(R"({"camera":-1})") << true << -1 << 1000;
    QTest::newRow("a camera as text")
        << QByteArray(R"({"camera":"12"})") << false << Wire::kNoCamera << 1000;
    QTest::newRow("a fraction") << QByteArray(R"({"camera":1.5})") << false << Wire::kNoCamera
                                << 1000;
    QTest::newRow("null is absent")
        << QByteArray(R"({"camera":null})") << true << Wire::kNoCamera << 1000;
    QTest::newRow("not JSON") << QByteArray("camera=12") << false << Wire::kNoCamera << 1000;
    QTest::newRow("an array") << QByteArray("[12]") << false << Wire::kNoCamera << 1000;
}

void TestRemote::keyBody() {
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(int, camera);
    QFETCH(int, leaseMs);
    const Wire::KeyBody parsed = Wire::ParseKeyBodyText(body);
    QCOMPARE(parsed.ok, ok);
    QCOMPARE(parsed.error.isEmpty(), ok);
    if (ok) {
        QCOMPARE(parsed.camera, camera);
        QCOMPARE(parsed.leaseMs, leaseMs);
    }
}

void TestRemote::keyNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("controlId");
    QTest::newRow("ZI") << "ZI" << ControlId::ZoomIn;
    QTest::newRow("zo") << "zo" << ControlId::ZoomOut;
    QTest::newRow("Ff") << "Ff" << ControlId::FocusFar;
    QTest::newRow("FN") << "FN" << ControlId::FocusNear;
    QTest::newRow("mu") << "mu" << ControlId::MenuUp;
    QTest::newRow("SET") << "SET" << ControlId::Set;
    QTest::newRow("up") << "up" << ControlId::Up;
    QTest::newRow("Down") << "Down" << ControlId::Down;
    QTest::newRow("LEFT") << "LEFT" << ControlId::Left;
    QTest::newRow("right") << "right" << ControlId::Right;
    QTest::newRow("init") << "init" << ControlId::Init;
    QTest::newRow("POWER") << "POWER" << ControlId::Power;
    QTest::newRow("reset") << "reset" << ControlId::Reset;
    QTest::newRow("cam") << "cam" << ControlId::Cam;
    QTest::newRow("the caption with its slash") << "Z/I" << 0;
    QTest::newRow("a digit key") << "1" << 0;
    QTest::newRow("ENT") << "ENT" << 0;
    QTest::newRow("COMMUNICATION SET") << "COMSET" << 0;
    QTest::newRow("empty") << "" << 0;
}

void TestRemote::keyNames() {
    QFETCH(QString, name);
    QFETCH(int, controlId);
    QCOMPARE(KeyNames::FromName(name), controlId);
    if (controlId)
        QCOMPARE(KeyNames::Name(controlId), name.toUpper());
    else
        QVERIFY(
            KeyNames::UnknownWords(name).contains("the keys are ZI, ZO, FF, FN, MU, SET, UP, "
                                                  "DOWN, LEFT, RIGHT, INIT, POWER, RESET, CAM"));
}

void TestRemote::issuedToken() {
    const TokenProof::Issued first = TokenProof::Issue("desk-2");
    const TokenProof::Issued second = TokenProof::Issue("desk-2");
    QVERIFY(first.token.startsWith("desk-2."));
    // 32 bytes in base64url without padding: 43 characters, 256 bits.
    const QString secret = first.token.mid(7);
    QCOMPARE(secret.size(), 43);
    QCOMPARE(TokenProof::FromBase64Url(secret).size(), TokenProof::kSecretBytes);
    QVERIFY(first.token != second.token);
    QVERIFY(first.stored != second.stored);  // salted
    QVERIFY(!first.stored.contains(secret));
    QVERIFY(TokenProof::CheckToken(first.stored, first.token));
    QVERIFY(!TokenProof::CheckToken(first.stored, second.token));
    QVERIFY(!TokenProof::CheckToken(first.stored, first.token.chopped(1)));
    QCOMPARE(TokenProof::NameOf(first.token), QString("desk-2"));
    QVERIFY(!first.stored.contains('@'));  // the profile's guard refuses '@'
}

void TestRemote::proof_data() {
    QTest::addColumn<QString>("variant");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("the token's proof") << "good" << true;
    QTest::newRow("another token's") << "other token" << false;
    QTest::newRow("for another challenge") << "other challenge" << false;
    QTest::newRow("under another salt") << "other salt" << false;
    QTest::newRow("one bit flipped") << "flipped" << false;
    QTest::newRow("cut short") << "short" << false;
    QTest::newRow("empty") << "empty" << false;
    QTest::newRow("the stored key sent back") << "stored key" << false;
}

void TestRemote::proof() {
    QFETCH(QString, variant);
    QFETCH(bool, accepted);
    const TokenProof::Issued issued = TokenProof::Issue("desk-2");
    const QByteArray salt = TokenProof::SaltOf(issued.stored);
    QCOMPARE(salt.size(), TokenProof::kSaltBytes);
    const QByteArray challenge = TokenProof::Challenge();
    QString token = issued.token;
    QByteArray askedChallenge = challenge, askedSalt = salt;
    if (variant == "other token")
        token = TokenProof::Issue("desk-2").token;
    if (variant == "other challenge")
        askedChallenge = TokenProof::Challenge();
    if (variant == "other salt")
        askedSalt = TokenProof::Challenge().left(16);
    QByteArray proof = TokenProof::Proof(token, askedSalt, askedChallenge);
    QCOMPARE(proof.size(), 32);
    if (variant == "flipped")
        proof[5] = char(proof[5] ^ 0x10);
    if (variant == "short")
        proof.chop(1);
    if (variant == "empty")
        proof.clear();
    if (variant == "stored key")
        proof = TokenProof::FromBase64Url(issued.stored.section(':', 1));
    QCOMPARE(TokenProof::CheckProof(issued.stored, challenge, proof), accepted);
}

void TestRemote::clientBook() {
    MemoryProfile profile;
    ClientBook book(profile);
    QVERIFY(!book.Enabled());
    QCOMPARE(book.AddressText(), QString("127.0.0.1:8765"));
    const ClientBook::Added added = book.Add("desk-2");
    QVERIFY(added.ok);
    QVERIFY(!book.Add("desk 2").ok);
    QVERIFY(!book.Add("").ok);
    QVERIFY(!book.Add(QString(33, 'a')).ok);
    QCOMPARE(book.Names(), QStringList{"desk-2"});
    // The profile holds the stored form only.
    const QString kept = profile.values.value("Remote/Client.desk-2").toString();
    QCOMPARE(kept, book.Stored("desk-2"));
    QVERIFY(!kept.contains(added.token.section('.', 1)));
    QCOMPARE(book.Bearer("Bearer " + added.token), QString("desk-2"));
    QCOMPARE(book.Bearer("bearer " + added.token), QString("desk-2"));
    QCOMPARE(book.Bearer(added.token), QString());
    QCOMPARE(book.Bearer("Bearer " + added.token + "x"), QString());
    QCOMPARE(book.Bearer("Bearer desk-3." + added.token.section('.', 1)), QString());
    QString error;
    QVERIFY(book.Revoke("desk-2", error));
    QCOMPARE(book.Names(), QStringList());
    QCOMPARE(book.Bearer("Bearer " + added.token), QString());
    QVERIFY(!book.Revoke("desk-2", error));
    QVERIFY(error.contains("no client"));
    QVERIFY(!book.SetAddress("0.0.0.0:99999", error));
    QVERIFY(book.SetAddress("192.168.1.20:9000", error));
    QVERIFY(book.SetEnabled(true));
    QVERIFY(book.Enabled());
    QCOMPARE(book.Address().Text(), QString("192.168.1.20:9000"));
}

void TestRemote::listenAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("parsed");  // empty: refused
    QTest::addColumn<bool>("loopback");
    QTest::newRow("default") << "127.0.0.1:8765"
                             << "127.0.0.1:8765" << true;
    QTest::newRow("localhost") << "localhost:80"
                               << "127.0.0.1:80" << true;
    QTest::newRow("a LAN address") << "192.168.1.20:9000"
                                   << "192.168.1.20:9000" << false;
    QTest::newRow("every address") << "0.0.0.0:8765"
                                   << "0.0.0.0:8765" << false;
    QTest::newRow("no port") << "127.0.0.1"
                             << "" << false;
    QTest::newRow("port 0") << "127.0.0.1:0"
                            << "" << false;
    QTest::newRow("port too big") << "127.0.0.1:65536"
                                  << "" << false;
    QTest::newRow("a host name") << "example:8765"
                                 << "" << false;
    QTest::newRow("an octet too big") << "127.0.0.256:8765"
                                      << "" << false;
    QTest::newRow("three octets") << "127.0.1:8765"
                                  << "" << false;
}

void TestRemote::listenAddress() {
    QFETCH(QString, text);
    QFETCH(QString, parsed);
    QFETCH(bool, loopback);
    const ListenAddress address = ParseListenAddress(text);
    QCOMPARE(address.ok, !parsed.isEmpty());
    QCOMPARE(address.error.isEmpty(), address.ok);
    if (address.ok) {
        QCOMPARE(address.Text(), parsed);
        QCOMPARE(address.Loopback(), loopback);
    }
}

void TestRemote::origin_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("origin");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("a program sends none") << "127.0.0.1:8765" << QByteArray() << true;
    QTest::newRow("its own page") << "127.0.0.1:8765" << QByteArray("http://127.0.0.1:8765")
                                  << true;
    QTest::newRow("localhost on loopback")
        << "127.0.0.1:8765" << QByteArray("http://localhost:8765") << true;
    QTest::newRow("another port") << "127.0.0.1:8765" << QByteArray("http://127.0.0.1:8080")
                                  << false;
    QTest::newRow("a web site") << "127.0.0.1:8765" << QByteArray("https://example.com") << false;
    QTest::newRow("a file") << "127.0.0.1:8765" << QByteArray("null") << false;
    QTest::newRow("localhost off loopback")
        << "192.168.1.20:8765" << QByteArray("http://localhost:8765") << false;
    QTest::newRow("the LAN address's own page")
        << "192.168.1.20:8765" << QByteArray("http://192.168.1.20:8765") << true;
}

void TestRemote::origin() {
    QFETCH(QString, address);
    QFETCH(QByteArray, origin);
    QFETCH(bool, allowed);
    QCOMPARE(OriginAllowed(origin, ParseListenAddress(address)), allowed);
}

void TestRemote::requestGate() {
    RequestGate gate;
    int allowed = 0;
    for (int i = 0; i < 200; ++i) allowed += gate.Allow(1000);
    QCOMPARE(allowed, int(RequestGate::kBurst));
    QVERIFY(!gate.Allow(1000));
    // 100 ms later, five more.
    allowed = 0;
    for (int i = 0; i < 20; ++i) allowed += gate.Allow(1100);
    QCOMPARE(allowed, 5);
}

// Requests one after another, each "WHO METHOD TARGET [BODY]", WHO a (desk-2), b (desk-3),
// bad (desk-2's name with another secret) or - (no header). The last one's status and
// words, and everything the line carried.
void TestRemote::httpReplies_data() {
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("words");
    QTest::addColumn<QByteArray>("line");
    const QString down12 = R"(a POST /api/v1/keys/ZI/down {"camera":12,"lease_ms":1000})";
    QTest::newRow("down and up on camera 12") << QStringList{down12, "a POST /api/v1/keys/zi/up"}
                                              << 200 << "\"ok\":true" << kZoomIn12 + kStop12;
    QTest::newRow("a repeated down sends nothing more")
        << QStringList{down12, down12} << 200 << "\"lease_left_ms\":1000" << kZoomIn12;
    QTest::newRow("an unknown key lists the keys")
        << QStringList{R"(a POST /api/v1/keys/XX/down {"camera":12})"} << 404
        << "the keys are ZI, ZO, FF" << QByteArray();
    QTest::newRow("a camera out of range")
        << QStringList{R"(a POST /api/v1/keys/ZI/down {"camera":256})"} << 400
        << "Camera ID Range (0 ~ 255) Error!" << QByteArray();
    QTest::newRow("a key the protocol disables")
        << QStringList{R"(a POST /api/v1/keys/INIT/press {"camera":3})"} << 422 << "key_disabled"
        << QByteArray();
    QTest::newRow("a press for a key that moves")
        << QStringList{R"(a POST /api/v1/keys/ZI/press {"camera":3})"} << 422 << "not_movement"
        << QByteArray();
    QTest::newRow("no token") << QStringList{R"(- POST /api/v1/keys/ZI/down {"camera":12})"} << 401
                              << "Bearer" << QByteArray();
    QTest::newRow("a wrong token") << QStringList{R"(bad POST /api/v1/keys/ZI/down {"camera":12})"}
                                   << 401 << "Bearer" << QByteArray();
    QTest::newRow("another holder is named")
        << QStringList{down12, R"(b POST /api/v1/keys/ZO/down {"camera":5})"} << 409
        << "desk-2 holds Z/I on camera 12" << kZoomIn12;
    QTest::newRow("another's up ends nothing") << QStringList{down12, "b POST /api/v1/keys/ZI/up"}
                                               << 409 << "\"holder\":\"desk-2\"" << kZoomIn12;
    QTest::newRow("the next client after the up")
        << QStringList{down12, "a POST /api/v1/keys/ZI/up",
                       R"(b POST /api/v1/keys/zo/down {"camera":5})"}
        << 200 << "\"ok\":true" << kZoomIn12 + kStop12 + kZoomOut5;
    QTest::newRow("the state names the holder")
        << QStringList{down12, "b GET /api/v1/state"} << 200
        << R"("holds":[{"camera":12,"holder":"desk-2","key":"ZI")" << kZoomIn12;
    QTest::newRow("a body that is no JSON") << QStringList{"a POST /api/v1/keys/ZI/down camera=12"}
                                            << 400 << "not JSON" << QByteArray();
    QTest::newRow("a body without a camera") << QStringList{"a POST /api/v1/keys/ZI/down {}"} << 400
                                             << "names no camera" << QByteArray();
    QTest::newRow("a GET on a key")
        << QStringList{"a GET /api/v1/keys/ZI/down"} << 405 << "POST" << QByteArray();
    QTest::newRow("a key's unknown action")
        << QStringList{R"(a POST /api/v1/keys/ZI/hold {"camera":1})"} << 404 << "down, up or press"
        << QByteArray();
    QTest::newRow("nothing is served at /")
        << QStringList{"- GET /"} << 404 << "/api/v1/" << QByteArray();
    QTest::newRow("a flood is held back, nothing moves")
        << (QStringList{down12, "a POST /api/v1/keys/ZI/up"} +
            QStringList(60, "a GET /api/v1/state") +
            QStringList{R"(a POST /api/v1/keys/ZO/down {"camera":5})"})
        << 429 << "too_many_requests" << kZoomIn12 + kStop12;
}

void TestRemote::httpReplies() {
    QFETCH(QStringList, requests);
    QFETCH(int, status);
    QFETCH(QString, words);
    QFETCH(QByteArray, line);
    KeypadRig rig({{"PROTOCOL", 1}});
    const QHash<QString, QString> tokens = AddClients(rig);
    ClientBook book(rig.profile);
    HttpRoutes routes(rig.controller, book);
    rig.TakeLine();
    HttpOut out;
    for (const QString& request : requests) {
        const QStringList parts = request.split(' ');
        HttpIn in;
        if (parts[0] == "bad")
            in.authorization =
                "Bearer desk-2." + TokenProof::Issue("x").token.section('.', 1).toLatin1();
        else if (parts[0] != "-")
            in.authorization = "Bearer " + tokens.value(parts[0]).toLatin1();
        in.method = parts[1].toLatin1();
        in.target = parts[2].toLatin1();
        in.body = parts.mid(3).join(' ').toLatin1();
        out = routes.Answer(in, 1000);
    }
    QCOMPARE(out.status, status);
    QVERIFY2(out.body.contains(words.toUtf8()), out.body.constData());
    QVERIFY(!Object(out.body).isEmpty());
    QCOMPARE(rig.TakeLine().toHex(' '), line.toHex(' '));
}

// Messages into one WebSocket session, each "IDENTIFY" (the client's own proof), "BADPROOF",
// "IDENTIFY2" (version 2), "REQ TYPE {data}", "GONE" (the connection ends), or raw text. What
// came back: "op2", "op7:CODE", "op5:TYPE", "close:CODE", in order.
void TestRemote::session_data() {
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("sign in, hold, let go")
        << QStringList{"IDENTIFY", R"(REQ KeyDown {"key":"ZI","camera":12})",
                       R"(REQ KeyUp {"key":"zi"})"}
        << "op2 op7:200 op5:Held op7:200" << kZoomIn12 + kStop12;
    QTest::newRow("a selected camera")
        << QStringList{"IDENTIFY", R"(REQ SelectCamera {"camera":12})",
                       R"(REQ KeyDown {"key":"ZI"})"}
        << "op2 op7:200 op7:200 op5:Held" << kZoomIn12;
    QTest::newRow("no camera at all")
        << QStringList{"IDENTIFY", R"(REQ KeyDown {"key":"ZI"})"} << "op2 op7:400" << QByteArray();
    QTest::newRow("a renew, then the connection ends: the stop")
        << QStringList{"IDENTIFY", R"(REQ KeyDown {"key":"ZI","camera":12})",
                       R"(REQ Renew {"lease_ms":2000})", "GONE"}
        << "op2 op7:200 op5:Held op7:200" << kZoomIn12 + kStop12;
    QTest::newRow("a wrong proof closes; nothing after it counts")
        << QStringList{"BADPROOF", R"(REQ KeyDown {"key":"ZI","camera":12})"} << "close:4004"
        << QByteArray();
    QTest::newRow("a request before the sign-in")
        << QStringList{R"(REQ KeyDown {"key":"ZI","camera":12})"} << "close:4002" << QByteArray();
    QTest::newRow("another version") << QStringList{"IDENTIFY2"} << "close:4005" << QByteArray();
    QTest::newRow("identified twice")
        << QStringList{"IDENTIFY", "IDENTIFY"} << "op2 close:4003" << QByteArray();
    QTest::newRow("text that is no message, while holding: closed, then the stop")
        << QStringList{"IDENTIFY", R"(REQ KeyDown {"key":"ZI","camera":12})", "{op:", "GONE"}
        << "op2 op7:200 op5:Held close:4000" << kZoomIn12 + kStop12;
    QTest::newRow("an op of the server's")
        << QStringList{R"({"op":7,"d":{}})"} << "close:4001" << QByteArray();
    QTest::newRow("an unknown request and a bad body keep the connection")
        << QStringList{"IDENTIFY", "REQ Jump {}", R"(REQ KeyDown {"key":"ZI","camera":"12"})",
                       R"(REQ KeyDown {"key":"XX","camera":12})", "REQ GetState {}"}
        << "op2 op7:404 op7:400 op7:404 op7:200" << QByteArray();
    QTest::newRow("a camera out of range")
        << QStringList{"IDENTIFY", R"(REQ SelectCamera {"camera":300})"} << "op2 op7:400"
        << QByteArray();
}

void TestRemote::session() {
    QFETCH(QStringList, messages);
    QFETCH(QString, answers);
    QFETCH(QByteArray, line);
    KeypadRig rig({{"PROTOCOL", 1}});
    const QString token = AddClients(rig).value("a");
    ClientBook book(rig.profile);
    WsSession session(rig.controller, book, "desk-2");
    const QJsonObject hello = Object(session.Hello());
    QCOMPARE(hello.value("op").toInt(), int(Wire::Hello));
    const QJsonObject auth = hello.value("d").toObject().value("authentication").toObject();
    const QByteArray salt = TokenProof::FromBase64Url(auth.value("salt").toString());
    const QByteArray challenge = TokenProof::FromBase64Url(auth.value("challenge").toString());
    QCOMPARE(salt, TokenProof::SaltOf(book.Stored("desk-2")));
    rig.TakeLine();
    QStringList got;
    int id = 0;
    for (const QString& message : messages) {
        QByteArray text = message.toUtf8();
        if (message.startsWith("IDENTIFY") || message == "BADPROOF") {
            const QByteArray proof = TokenProof::Proof(
                message == "BADPROOF" ? TokenProof::Issue("desk-2").token : token, salt, challenge);
            QJsonObject data{{"rpcVersion", message == "IDENTIFY2" ? 2 : 1},
                             {"authentication", QString::fromLatin1(TokenProof::Base64Url(proof))}};
            text = Wire::BuildMessage(Wire::Identify, data);
        } else if (message.startsWith("REQ ")) {
            const QJsonObject data{{"requestType", message.section(' ', 1, 1)},
                                   {"requestId", QString::number(++id)},
                                   {"requestData", Object(message.section(' ', 2).toUtf8())}};
            text = Wire::BuildMessage(Wire::Request, data);
        } else if (message == "GONE") {
            session.OnGone();
            continue;
        }
        for (const WsSession::Out& out : session.OnText(text)) {
            if (out.closeCode) {
                got << QString("close:%1").arg(out.closeCode);
                continue;
            }
            const QJsonObject object = Object(out.text);
            const QJsonObject d = object.value("d").toObject();
            const int op = object.value("op").toInt();
            QString word = QString("op%1").arg(op);
            if (op == Wire::RequestResponse) {
                word +=
                    QString(":%1").arg(d.value("requestStatus").toObject().value("code").toInt());
                QCOMPARE(d.value("requestId").toString(), QString::number(id));
            }
            if (op == Wire::Event)
                word += ":" + d.value("eventType").toString();
            got << word;
        }
    }
    QCOMPARE(got.join(' '), answers);
    QCOMPARE(rig.TakeLine().toHex(' '), line.toHex(' '));
}

QTEST_GUILESS_MAIN(TestRemote)
#include "tst_remote.moc"
