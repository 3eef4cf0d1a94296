#include <QCoreApplication>
#include <QHash>
#include <QJsonObject>
#include <cstdint>
#include <cstdlib>

#include "profile/profile_store.h"
#include "remote/access/client_book.h"
#include "remote/access/token_proof.h"
#include "remote/session/ws_session.h"
#include "remote/wire/wire_message.h"

// Any bytes as a remote client's message: the codec, then a signed-in session that takes it
// as a request. Whatever the bytes, nothing reaches the keypad but a well-formed call, and
// every answer is a message the codec reads back.

namespace {

class Profile : public ProfileStore {
public:
    QVariant ReadValue(const QString& section, const QString& key) const override {
        return values.value(section + QLatin1Char('/') + key);
    }
    bool WriteValue(const QString& section, const QString& key, const QVariant& value) override {
        values.insert(section + QLatin1Char('/') + key, value);
        return true;
    }
    QHash<QString, QVariant> values;
};

// A keypad that checks what it is asked and does nothing.
class Keys : public RemoteKeys {
public:
    Reply Down(const QString&, int controlId, int, int) override { return Check(controlId); }
    Reply Up(const QString&, int controlId) override { return Check(controlId); }
    Reply Renew(const QString&, int) override { return {}; }
    Reply Press(const QString&, int controlId, int, int) override { return Check(controlId); }
    void ClientGone(const QString&) override {}
    State Snapshot() const override { return {}; }
    void SetEventSink(std::function<void(const Event&)>) override {}

private:
    static Reply Check(int controlId) {
        // Only a key's control ID may come through: unknown names are refused above.
        if (controlId < 1010 || controlId > 1033)
            std::abort();
        return {};
    }
};

void Quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(Quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Profile profile;
    static ClientBook book(profile);
    static Keys keys;
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const Wire::Parsed parsed = Wire::ParseMessage(text);
    if (parsed.ok) {
        const Wire::ParsedRequest request = Wire::ParseRequest(parsed.message.data);
        (void)request;
    }
    (void)Wire::ParseKeyBodyText(text);
    // The bytes before a sign-in, then as a request's data once signed in.
    WsSession fresh(keys, book, QStringLiteral("desk-2"));
    fresh.Hello();
    for (const WsSession::Out& out : fresh.OnText(text))
        if (!out.closeCode && !Wire::ParseMessage(out.text).ok)
            std::abort();
    // A session signed in as a client does, so that the bytes reach the requests.
    static const QString token = book.Add(QStringLiteral("desk-2")).token;
    WsSession session(keys, book, QStringLiteral("desk-2"));
    const QJsonObject auth = Wire::ParseMessage(session.Hello())
                                 .message.data.value(QLatin1String("authentication"))
                                 .toObject();
    const QByteArray proof = TokenProof::Proof(
        token, TokenProof::FromBase64Url(auth.value(QLatin1String("salt")).toString()),
        TokenProof::FromBase64Url(auth.value(QLatin1String("challenge")).toString()));
    QJsonObject identify;
    identify.insert(QLatin1String("rpcVersion"), Wire::kRpcVersion);
    identify.insert(QLatin1String("authentication"),
                    QString::fromLatin1(TokenProof::Base64Url(proof)));
    session.OnText(Wire::BuildMessage(Wire::Identify, identify));
    if (!session.Identified())
        std::abort();
    QByteArray request = R"({"op":6,"d":{"requestType":"KeyDown","requestId":"1","requestData":)";
    request += text;
    request += "}}";
    for (const WsSession::Out& out : session.OnText(request))
        if (!out.closeCode && !Wire::ParseMessage(out.text).ok)
            std::abort();
    return 0;
}
