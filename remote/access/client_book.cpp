#include "client_book.h"

#include "profile/profile_keys.h"
#include "profile/profile_store.h"
#include "token_proof.h"

using namespace ProfileKeys;

ClientBook::ClientBook(ProfileStore& profile) : profile(profile) {}

ClientBook::Added ClientBook::Add(const QString& name) {
    Added added;
    if (!TokenProof::ValidName(name)) {
        added.error = QStringLiteral("a client's name is 1 to 32 letters, digits, '-' or '_'");
        return added;
    }
    const TokenProof::Issued issued = TokenProof::Issue(name);
    if (!profile.WriteValue(kRemoteSection, RemoteClientKey(name), issued.stored)) {
        added.error = QStringLiteral("the profile refused the new client");
        return added;
    }
    added.ok = true;
    added.token = issued.token;
    return added;
}

bool ClientBook::Revoke(const QString& name, QString& error) {
    if (!TokenProof::ValidName(name) || Stored(name).isEmpty()) {
        error = QStringLiteral("there is no client \"%1\"").arg(name.left(32));
        return false;
    }
    if (!profile.RemoveValue(kRemoteSection, RemoteClientKey(name))) {
        error = QStringLiteral("the profile refused to remove \"%1\"").arg(name);
        return false;
    }
    return true;
}

QStringList ClientBook::Names() const {
    QStringList names;
    for (const QString& key : profile.SectionKeys(kRemoteSection)) {
        if (!key.startsWith(kRemoteClientPrefix))
            continue;
        const QString name = key.mid(kRemoteClientPrefix.size());
        if (TokenProof::ValidName(name) && !Stored(name).isEmpty())
            names << name;
    }
    names.sort();
    return names;
}

QString ClientBook::Stored(const QString& name) const {
    if (!TokenProof::ValidName(name))
        return QString();
    const QVariant value = profile.ReadText(kRemoteSection, RemoteClientKey(name));
    return value.userType() == QMetaType::QString ? value.toString() : QString();
}

QString ClientBook::Bearer(const QString& authorization) const {
    const QLatin1String scheme("Bearer ");
    if (!authorization.startsWith(scheme, Qt::CaseInsensitive))
        return QString();
    const QString token = authorization.mid(scheme.size()).trimmed();
    const QString name = TokenProof::NameOf(token);
    const QString stored = Stored(name);
    return !stored.isEmpty() && TokenProof::CheckToken(stored, token) ? name : QString();
}

bool ClientBook::Enabled() const {
    return profile.ReadValue(kRemoteSection, Name(kRemoteEnabled)).toInt() == 1;
}

bool ClientBook::SetEnabled(bool on) {
    return profile.WriteValue(kRemoteSection, Name(kRemoteEnabled), on ? 1 : 0);
}

QString ClientBook::AddressText() const {
    const QVariant value = profile.ReadText(kRemoteSection, kRemoteAddress);
    const QString text = value.toString().trimmed();
    return text.isEmpty() ? kRemoteAddressDefault : text;
}

ListenAddress ClientBook::Address() const {
    return ParseListenAddress(AddressText());
}

bool ClientBook::SetAddress(const QString& text, QString& error) {
    const ListenAddress address = ParseListenAddress(text);
    if (!address.ok) {
        error = address.error;
        return false;
    }
    if (!profile.WriteValue(kRemoteSection, kRemoteAddress, address.Text())) {
        error = QStringLiteral("the profile refused the address");
        return false;
    }
    return true;
}
