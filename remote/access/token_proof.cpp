#include "token_proof.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace TokenProof {

namespace {

// The system's generator: drawn from the operating system's source, fit for secrets.
QByteArray RandomBytes(int count) {
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i) bytes[i] = char(QRandomGenerator::system()->bounded(256));
    return bytes;
}

QByteArray Hmac(const QByteArray& key, const QByteArray& message) {
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256);
}

QByteArray ClientKey(const QString& token, const QByteArray& salt) {
    return Hmac(token.toUtf8(), salt);
}

QByteArray Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QByteArray StoredKeyOf(const QString& stored) {
    const qsizetype colon = stored.indexOf(QLatin1Char(':'));
    return colon < 0 ? QByteArray() : FromBase64Url(stored.mid(colon + 1));
}

QByteArray Xor(const QByteArray& a, const QByteArray& b) {
    QByteArray out(a.size(), '\0');
    for (qsizetype i = 0; i < a.size() && i < b.size(); ++i) out[i] = char(a[i] ^ b[i]);
    return out;
}

}  // namespace

bool ValidName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{1,32}$"));
    return pattern.match(name).hasMatch();
}

QByteArray Base64Url(const QByteArray& bytes) {
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray FromBase64Url(const QString& text) {
    const auto result = QByteArray::fromBase64Encoding(
        text.toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    return result ? *result : QByteArray();
}

Issued Issue(const QString& name) {
    Issued issued;
    issued.token =
        name + QLatin1Char('.') + QString::fromLatin1(Base64Url(RandomBytes(kSecretBytes)));
    issued.stored = StoredFor(issued.token, RandomBytes(kSaltBytes));
    return issued;
}

QString StoredFor(const QString& token, const QByteArray& salt) {
    return QString::fromLatin1(Base64Url(salt) + ':' + Base64Url(Sha256(ClientKey(token, salt))));
}

QString NameOf(const QString& token) {
    const qsizetype dot = token.indexOf(QLatin1Char('.'));
    return dot <= 0 ? QString() : token.left(dot);
}

QByteArray SaltOf(const QString& stored) {
    const qsizetype colon = stored.indexOf(QLatin1Char(':'));
    return colon <= 0 ? QByteArray() : FromBase64Url(stored.left(colon));
}

bool CheckToken(const QString& stored, const QString& token) {
    const QByteArray salt = SaltOf(stored);
    const QByteArray storedKey = StoredKeyOf(stored);
    if (salt.isEmpty() || storedKey.size() != 32)
        return false;
    return SameBytes(Sha256(ClientKey(token, salt)), storedKey);
}

QByteArray Challenge() {
    return RandomBytes(kChallengeBytes);
}

QByteArray Proof(const QString& token, const QByteArray& salt, const QByteArray& challenge) {
    const QByteArray clientKey = ClientKey(token, salt);
    return Xor(clientKey, Hmac(Sha256(clientKey), challenge));
}

bool CheckProof(const QString& stored, const QByteArray& challenge, const QByteArray& proof) {
    const QByteArray storedKey = StoredKeyOf(stored);
    if (storedKey.size() != 32 || proof.size() != 32 || challenge.isEmpty())
        return false;
    const QByteArray clientKey = Xor(proof, Hmac(storedKey, challenge));
    return SameBytes(Sha256(clientKey), storedKey);
}

bool SameBytes(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i) difference |= (unsigned char)(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace TokenProof
