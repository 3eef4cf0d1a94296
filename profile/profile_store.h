#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>

class QSettings;

// The per-user profile as sections of named values. The real store is QSettings in the
// platform's native format; tests use an isolated file or an in-memory store.
class ProfileStore {
public:
    virtual ~ProfileStore() = default;
    // An invalid QVariant when the value is absent.
    virtual QVariant ReadValue(const QString& section, const QString& key) const = 0;
    // False when the store refused the value.
    virtual bool WriteValue(const QString& section, const QString& key, const QVariant& value) = 0;
    // Takes the key out of the section; false when the store refused. A store that cannot
    // remove writes an empty value, which readers take for an absent one.
    virtual bool RemoveValue(const QString& section, const QString& key);

    // The value as text, never split into a list at its commas (a list comes back joined
    // by bare commas); an invalid QVariant when absent, a value of another type when it is
    // not text.
    virtual QVariant ReadText(const QString& section, const QString& key) const;
    // The keys present in a section; empty when the section is absent.
    virtual QStringList SectionKeys(const QString& section) const;
};

class SettingsProfileStore : public ProfileStore {
public:
    // The profile of organization/application: the registry on Windows, elsewhere the
    // INI file <config>/<organization>/<application>.conf, guarded as below.
    SettingsProfileStore(const QString& organization, const QString& application);
    // A profile kept in one INI file. A file that cannot be used (not a regular file,
    // unreadable, far too large, holding what the program never writes) never reaches
    // QSettings: the store starts empty, says so on standard error, and sets a corrupt
    // file aside as <file>.bad when no such file exists yet, so that later writes start
    // a fresh profile; otherwise it leaves the file alone and refuses every write.
    explicit SettingsProfileStore(const QString& filePath);
    ~SettingsProfileStore() override;

    QVariant ReadValue(const QString& section, const QString& key) const override;
    bool WriteValue(const QString& section, const QString& key, const QVariant& value) override;
    bool RemoveValue(const QString& section, const QString& key) override;
    QStringList SectionKeys(const QString& section) const override;

    // The file the INI profile of organization/application lives in (not on Windows).
    static QString ProfilePath(const QString& organization, const QString& application);

private:
    // Where the values are kept: the registry reader on Windows, QSettings elsewhere.
    QVariant ReadStored(const QString& section, const QString& key) const;
    QStringList StoredKeys(const QString& section) const;
    QVariant ReadSettings(const QString& section, const QString& key) const;
    QStringList SettingsKeys(const QString& section) const;
    // False, and said once on standard error, when the file has become unusable.
    bool FileUsable() const;
    // A change to the store under its lock, synced; false when it did not reach the store.
    bool Change(const std::function<void(QSettings&)>& change);
    void Report(const QString& what) const;

    // A fresh QSettings per access: its error status is sticky, and a write refused once
    // must not make every later write look refused too.
    std::function<std::unique_ptr<QSettings>()> open;
    QString filePath;     // empty for the registry
    QString registryKey;  // under HKEY_CURRENT_USER; empty for a file
    bool disabled = false;
    mutable QString lastReport;
};
