#include "profile_store.h"

SettingsProfileStore::SettingsProfileStore(const QString& organization, const QString& application)
    : SettingsProfileStore(ProfilePath(organization, application)) {}

QVariant SettingsProfileStore::ReadStored(const QString& section, const QString& key) const {
    return ReadSettings(section, key);
}

QStringList SettingsProfileStore::StoredKeys(const QString& section) const {
    return SettingsKeys(section);
}
