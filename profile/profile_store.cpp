#include "profile_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include "profile_guard.h"

using ProfileGuard::Verdict;

SettingsProfileStore::SettingsProfileStore(const QString& filePath)
    : open([filePath] { return std::make_unique<QSettings>(filePath, QSettings::IniFormat); }),
      filePath(filePath) {
    const ProfileGuard::Finding finding = ProfileGuard::CheckFile(filePath);
    if (finding.verdict == Verdict::Usable)
        return;
    const QString badPath = filePath + QLatin1String(".bad");
    // Set aside by a rename only: the bytes stay as they were, and an older .bad file
    // is never overwritten.
    if (finding.verdict == Verdict::Corrupt && !QFileInfo::exists(badPath) &&
        !QFileInfo(badPath).isSymLink() && QFile::rename(filePath, badPath)) {
        Report(QStringLiteral("%1; set it aside as %2 and started with the default settings")
                   .arg(finding.reason, QDir::toNativeSeparators(badPath)));
        return;
    }
    disabled = true;
    Report(QStringLiteral("%1; left it alone and started with the default settings, which "
                          "will not be saved")
               .arg(finding.reason));
}

SettingsProfileStore::~SettingsProfileStore() = default;

QString SettingsProfileStore::ProfilePath(const QString& organization, const QString& application) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + organization + QLatin1Char('/') + application +
           QLatin1String(".conf");
}

void SettingsProfileStore::Report(const QString& what) const {
    if (what == lastReport)
        return;
    lastReport = what;
    const QString where = filePath.isEmpty() ? QStringLiteral("HKEY_CURRENT_USER\\") + registryKey
                                             : QDir::toNativeSeparators(filePath);
    qWarning("velmor: the profile %s %s", qUtf8Printable(where), qUtf8Printable(what));
}

bool SettingsProfileStore::FileUsable() const {
    if (disabled)
        return false;
    if (filePath.isEmpty())
        return true;
    // Checked again at every access: the file may have been replaced since the start.
    const ProfileGuard::Finding finding = ProfileGuard::CheckFile(filePath);
    if (finding.verdict == Verdict::Usable)
        return true;
    Report(finding.reason + QLatin1String("; it is not used"));
    return false;
}

QVariant SettingsProfileStore::ReadValue(const QString& section, const QString& key) const {
    if (!FileUsable())
        return {};
    return ReadStored(section, key);
}

QVariant SettingsProfileStore::ReadSettings(const QString& section, const QString& key) const {
    return open()->value(section + QLatin1Char('/') + key);
}

bool SettingsProfileStore::WriteValue(const QString& section, const QString& key,
                                      const QVariant& value) {
    return Change(
        [&](QSettings& settings) { settings.setValue(section + QLatin1Char('/') + key, value); });
}

bool SettingsProfileStore::RemoveValue(const QString& section, const QString& key) {
    return Change([&](QSettings& settings) { settings.remove(section + QLatin1Char('/') + key); });
}

bool SettingsProfileStore::Change(const std::function<void(QSettings&)>& change) {
    if (!FileUsable())
        return false;
    if (!filePath.isEmpty()) {
        // QSettings waits on the lock for ever; a lock that cannot be had soon costs
        // this one write instead.
        const QString problem = ProfileGuard::LockProblem(filePath);
        if (!problem.isEmpty()) {
            Report(QStringLiteral("was not written: %1").arg(problem));
            return false;
        }
    }
    const auto settings = open();
    change(*settings);
    // A write counts only once it has reached the backing store.
    settings->sync();
    return settings->status() == QSettings::NoError;
}

bool ProfileStore::RemoveValue(const QString& section, const QString& key) {
    return WriteValue(section, key, QString());
}

QVariant ProfileStore::ReadText(const QString& section, const QString& key) const {
    const QVariant value = ReadValue(section, key);
    // An unquoted comma makes QSettings read a list, and it writes the list back as
    // "a, b" at its next write of any key; joined at the bare commas it is the same text
    // before and after that.
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value;
}

QStringList ProfileStore::SectionKeys(const QString&) const {
    return {};
}

QStringList SettingsProfileStore::SectionKeys(const QString& section) const {
    if (!FileUsable())
        return {};
    return StoredKeys(section);
}

QStringList SettingsProfileStore::SettingsKeys(const QString& section) const {
    const auto settings = open();
    settings->beginGroup(section);
    return settings->childKeys();
}
