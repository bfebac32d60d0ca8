#pragma once

#include "profilekeys.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

class QSettings;

// The per-user settings store: texts addressed by section (the profile) and
// key. Every key of a profile, with its default and the rule for hand-edited
// values, is read and written here and nowhere else.
class SettingsStore
{
public:
    explicit SettingsStore(QSettings& settings);

    // The user's own store: application "POSTOWL", one group per profile.
    static std::unique_ptr<QSettings> openUserSettings();

    // An absent key gives defaultValue; a key holding the empty text gives the empty text.
    QString get(const QString& section, const QString& key, const QString& defaultValue = QString()) const;
    // Writes through to the file at once. False when the file could not be
    // written, or when it was left alone on purpose (see lastRefusal()).
    bool save(const QString& section, const QString& key, const QString& value);

    QString readServerName(const QString& section) const;
    // Whether the section holds a POP3 password (not merely the empty text).
    bool holdsPassword(const QString& section) const;

    // Every key of the record, once a server is known. Values a hand-edited
    // store made unusable keep the record's defaults (or fail closed, see
    // ProfileKey::unreadableText); each of them is named in the list returned.
    QStringList loadProfile(ProfileSettings& record) const;

    // The keys of the Account dialog's save, in their order, passwords
    // scrambled. False when the file could not be written or was left alone.
    bool saveProfile(const ProfileSettings& record);
    // One key of the record at once, e.g. a choice the user made outside the dialog.
    template <typename T> bool saveKey(const ProfileSettings& record, T ProfileSettings::*member)
    {
        const ProfileKey& key = profileKey(member);
        return save(record.ProfileName, key.name, key.storedText(record));
    }

    // Window edges in twips; -1 when not set, not a number or outside 16 bits.
    struct WindowPosition
    {
        int x = -1;
        int y = -1;
    };
    WindowPosition readWindowPosition(const QString& section) const;
    bool saveWindowPosition(const QString& section, int xTwips, int yTwips);

    // Why the last save left the file as it was although it could have
    // written it (it holds profiles that a hand edit hid from the reader), as
    // a message for the user naming the file; empty after every other save.
    QString lastRefusal() const { return m_refusal; }

private:
    QString keyPath(const QString& section, const QString& key) const;
    void write(const QString& section, const QString& key, const QString& value);
    bool flush();
    // Groups that the file's text holds but the reader did not see.
    QStringList groupsNotRead() const;

    QSettings& m_settings;
    // What this store was given since the last flush; it reaches QSettings
    // only once the flush found the file safe to rewrite.
    QHash<QString, QString> m_written;
    QString m_refusal;
};
