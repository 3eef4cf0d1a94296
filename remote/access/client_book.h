#pragma once

#include <QString>
#include <QStringList>

#include "listen_address.h"

class ProfileStore;

// The [Remote] section of the profile: whether the service runs, where it listens, and its
// clients, each by name with the stored form of its token.
class ClientBook {
public:
    explicit ClientBook(ProfileStore& profile);

    struct Added {
        bool ok = false;
        QString token;  // shown once, never kept
        QString error;
    };
    // A new client with a new token; a name already there gets a new token.
    Added Add(const QString& name);
    // False, with why, when there is no such client or the profile refused.
    bool Revoke(const QString& name, QString& error);
    QStringList Names() const;
    // The stored form of a client's token; empty for none.
    QString Stored(const QString& name) const;
    // The client an "Authorization: Bearer NAME.SECRET" header signs in; empty for none.
    QString Bearer(const QString& authorization) const;

    bool Enabled() const;
    bool SetEnabled(bool on);
    QString AddressText() const;
    ListenAddress Address() const;
    // False, with why, for no address or a profile that refused.
    bool SetAddress(const QString& text, QString& error);

private:
    ProfileStore& profile;
};
