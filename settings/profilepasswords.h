#pragma once

#include "passwordkeyring.h"

#include <QString>

#include <functional>

class SettingsStore;
struct GeneralStuff;
struct ProfileSettings;

// The one owner of a profile's two passwords: it loads them from the
// settings file or the desktop keyring, and when the settings are saved it
// moves them between the two in the order that loses nothing. The keyring
// gets its copy before the file gives up its own, and the file gets its copy
// before the keyring gives up its own.
class ProfilePasswords
{
public:
    // The keyring's jobs are children of `owner`, where a test can find them.
    ProfilePasswords(GeneralStuff& run, SettingsStore& store, QObject& owner);

    // Start-up of a profile that keeps its passwords in the keyring: fills the
    // record's two passwords, and for a profile that signs in with the
    // provider its refresh token and client secret, asynchronously; the run's
    // PasswordsPending holds the first check meanwhile. done gets the
    // keyring's error, or the empty text.
    void load(std::function<void(const QString& error)> done);

    // Whether the profile's POP3 password was saved (not merely typed at the
    // prompt during this run): the Account dialog shows only a saved one.
    bool pop3PasswordSaved() const;

    struct Saved
    {
        // The record took the new settings (false: nothing changed at all).
        bool applied = false;
        // The settings file holds them too.
        bool stored = false;
        // What went wrong, in words for the user; empty when nothing did.
        QString problem;
        // The store itself failed: worse than a refusal the user can mend.
        bool critical = false;
    };
    // Saves `record` as the run's new settings: the keyring first when it is to
    // hold the passwords, then the record, then the file, and only once the
    // file holds the passwords again the keyring's copy goes. busy(true) and
    // busy(false) frame every wait for the keyring.
    // oauthSecret: the client secret of the provider's sign-in, kept beside them.
    Saved save(const ProfileSettings& record, const QString& oauthSecret = QString(),
               const std::function<void(bool busy)>& busy = {});
    // A refresh token the provider handed out replaces the stored one; a
    // keyring that fails is said on standard error (the token stays in memory).
    void storeRefreshToken(const QString& refreshToken);

private:
    QString writeKeyring(const ProfileSettings& record, const QString& oauthSecret,
                         const std::function<void(bool)>& busy);
    QString clearKeyring(const std::function<void(bool)>& busy);

    GeneralStuff& m_run;
    SettingsStore& m_store;
    PasswordKeyring* m_keyring; // owned by the owner
};
