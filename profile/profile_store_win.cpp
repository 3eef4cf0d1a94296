#include <QSettings>

#include "profile_registry.h"
#include "profile_store.h"

// The registry has no file to check before it is read.
SettingsProfileStore::SettingsProfileStore(const QString& organization, const QString& application)
    : open([organization, application] {
          return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             organization, application);
      }),
      registryKey(QStringLiteral("Software\\%1\\%2").arg(organization, application)) {}

// The registry is read value by value as the program writes it, never through QSettings,
// which would decode what a value claims to be.
QVariant SettingsProfileStore::ReadStored(const QString& section, const QString& key) const {
    if (registryKey.isEmpty())
        return ReadSettings(section, key);
    const ProfileRegistry::Read read = ProfileRegistry::ReadValue(registryKey, section, key);
    if (!read.problem.isEmpty())
        Report(
            QStringLiteral("value %1\\%2 %3; the default is used").arg(section, key, read.problem));
    return read.value;
}

QStringList SettingsProfileStore::StoredKeys(const QString& section) const {
    if (registryKey.isEmpty())
        return SettingsKeys(section);
    return ProfileRegistry::ValueNames(registryKey, section);
}
