#include "profile_store.h"

#include <QSettings>

SettingsProfileStore::SettingsProfileStore(const QString& organization, const QString& application)
    : open([organization, application] {
          return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             organization, application);
      }) {}

SettingsProfileStore::SettingsProfileStore(const QString& filePath)
    : open([filePath] { return std::make_unique<QSettings>(filePath, QSettings::IniFormat); }) {}

SettingsProfileStore::~SettingsProfileStore() = default;

QVariant SettingsProfileStore::ReadValue(const QString& section, const QString& key) const {
    return open()->value(section + QLatin1Char('/') + key);
}

bool SettingsProfileStore::WriteValue(const QString& section, const QString& key,
                                      const QVariant& value) {
    const auto settings = open();
    settings->setValue(section + QLatin1Char('/') + key, value);
    // A write counts only once it has reached the backing store.
    settings->sync();
    return settings->status() == QSettings::NoError;
}
