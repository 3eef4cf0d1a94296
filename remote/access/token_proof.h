#pragma once

#include <QByteArray>
#include <QString>

// A client's token is "NAME.SECRET", SECRET 32 random bytes in base64url; it is shown once.
// The profile keeps only "SALT:STOREDKEY" (base64url), where
//   ClientKey = HMAC-SHA256(token, salt) and StoredKey = SHA256(ClientKey).
// A WebSocket client signs in without sending its token: the server gives the salt and a
// fresh challenge, and the client answers
//   Proof = ClientKey XOR HMAC-SHA256(StoredKey, challenge);
// the server takes the proof's XOR with its own HMAC back to a ClientKey and checks that its
// hash is the StoredKey. Neither the token nor the ClientKey crosses the wire, and a proof is
// good for one challenge only. Every comparison takes the same time whatever matched.
namespace TokenProof {

constexpr int kSecretBytes = 32;  // 256 bits
constexpr int kSaltBytes = 16;
constexpr int kChallengeBytes = 32;
constexpr int kMaxNameLength = 32;

// A client's name: 1 to 32 of A-Z a-z 0-9 - _ (it is a profile key and goes into replies).
bool ValidName(const QString& name);

struct Issued {
    QString token;   // shown once
    QString stored;  // for the profile
};
Issued Issue(const QString& name);
// The stored form of a token under a salt.
QString StoredFor(const QString& token, const QByteArray& salt);
// The name a token is of: the part before its first dot; empty when it has none.
QString NameOf(const QString& token);
// The salt of a stored form; empty when the form is malformed.
QByteArray SaltOf(const QString& stored);

// True when token is the one stored stands for.
bool CheckToken(const QString& stored, const QString& token);

QByteArray Challenge();
// The client's side of the sign-in.
QByteArray Proof(const QString& token, const QByteArray& salt, const QByteArray& challenge);
bool CheckProof(const QString& stored, const QByteArray& challenge, const QByteArray& proof);

// Equal bytes, in a time that depends on the sizes alone.
bool SameBytes(const QByteArray& a, const QByteArray& b);

QByteArray Base64Url(const QByteArray& bytes);
// Empty when text is no base64url.
QByteArray FromBase64Url(const QString& text);

}  // namespace TokenProof
