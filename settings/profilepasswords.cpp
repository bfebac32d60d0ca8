#include "profilepasswords.h"

#include "generalstuff.h"
#include "settingsstore.h"

namespace {

using KeyringEntry = GeneralStuff::KeyringEntry;

const QString StoreFailedMessage =
    QStringLiteral("The settings could not be written to the settings store. PostOwl uses them until it "
                   "ends, but they will be lost then unless they can be applied again.");
const QString KeyringWriteFailedMessage =
    QStringLiteral("The desktop keyring could not save the passwords: %1\r\n"
                   "Nothing was changed.");
const QString KeyringClearFailedMessage =
    QStringLiteral("The passwords are kept in the settings file again, but the desktop keyring could not "
                   "delete its copy: %1");

struct Target
{
    PasswordKeyring::Entry entry;
    QString ProfileSettings::*password;
    KeyringEntry GeneralStuff::*known;
};
const Target Targets[] = {
    {PasswordKeyring::Entry::Pop3, &ProfileSettings::Password, &GeneralStuff::Pop3Entry},
    {PasswordKeyring::Entry::Sms, &ProfileSettings::SMSPassword, &GeneralStuff::SmsEntry},
};

// Runs one keyring job with the caller told that it waits.
PasswordKeyring::Result waiting(const std::function<void(bool)>& busy,
                                const std::function<PasswordKeyring::Result()>& job)
{
    if (busy)
        busy(true);
    const PasswordKeyring::Result result = job();
    if (busy)
        busy(false);
    return result;
}

} // namespace

ProfilePasswords::ProfilePasswords(GeneralStuff& run, SettingsStore& store, QObject& owner)
    : m_run(run), m_store(store), m_keyring(new PasswordKeyring(&owner))
{
}

void ProfilePasswords::load(std::function<void(const QString& error)> done)
{
    m_run.PasswordsPending = true;
    m_keyring->readPasswords(m_run, [this, done = std::move(done)](const QString& error) {
        if (!error.isEmpty() || m_run.ProfileSettings.Auth != 1) {
            m_run.PasswordsPending = false;
            done(error);
            return;
        }
        const QString profile = m_run.ProfileSettings.ProfileName;
        m_keyring->read(profile, PasswordKeyring::Entry::OAuthSecret,
                        [this, profile, done](const PasswordKeyring::Result& secret) {
                            m_run.OAuthSecret = secret.password;
                            m_keyring->read(profile, PasswordKeyring::Entry::OAuth,
                                            [this, done](const PasswordKeyring::Result& token) {
                                                m_run.OAuthRefreshToken = token.password;
                                                m_run.PasswordsPending = false;
                                                done(token.ok ? QString() : token.error);
                                            });
                        });
    });
}

void ProfilePasswords::storeRefreshToken(const QString& refreshToken)
{
    m_keyring->write(m_run.ProfileSettings.ProfileName, PasswordKeyring::Entry::OAuth, refreshToken,
                     [](const PasswordKeyring::Result& result) {
                         if (!result.ok)
                             qWarning("PostOwl: the desktop keyring could not keep the sign-in: %s",
                                      qPrintable(result.error));
                     });
}

bool ProfilePasswords::pop3PasswordSaved() const
{
    const ProfileSettings& record = m_run.ProfileSettings;
    return record.PasswordStore == 1 ? m_run.Pop3Entry == KeyringEntry::Held
                                     : m_store.holdsPassword(record.ProfileName);
}

ProfilePasswords::Saved ProfilePasswords::save(const ProfileSettings& record, const QString& oauthSecret,
                                               const std::function<void(bool busy)>& busy)
{
    Saved saved;
    const bool leavingKeyring = m_run.ProfileSettings.PasswordStore == 1 && record.PasswordStore == 0;
    if (record.PasswordStore == 1) {
        saved.problem = writeKeyring(record, oauthSecret, busy);
        if (!saved.problem.isEmpty())
            return saved;
    }
    m_run.ProfileSettings = record;
    saved.applied = true;

    // The run goes on with the new record either way, but a save that did not
    // reach the store is never passed off as done.
    saved.stored = m_store.saveProfile(record);
    if (!saved.stored) {
        saved.critical = m_store.lastRefusal().isEmpty();
        saved.problem = saved.critical ? StoreFailedMessage : m_store.lastRefusal();
    } else if (leavingKeyring)
        saved.problem = clearKeyring(busy);
    return saved;
}

QString ProfilePasswords::writeKeyring(const ProfileSettings& record, const QString& oauthSecret,
                                       const std::function<void(bool)>& busy)
{
    if (record.Auth == 1 && oauthSecret != m_run.OAuthSecret) {
        const PasswordKeyring::Result result = waiting(busy, [&] {
            return m_keyring->writeNow(record.ProfileName, PasswordKeyring::Entry::OAuthSecret, oauthSecret);
        });
        if (!result.ok)
            return KeyringWriteFailedMessage.arg(result.error);
        m_run.OAuthSecret = oauthSecret;
    }
    // Coming from the settings file, the fields are the whole truth. A profile
    // already in the keyring keeps an entry this run could never read, rather
    // than losing it to a field that was empty only for that reason.
    const bool fromFile = m_run.ProfileSettings.PasswordStore != 1;
    for (const Target& target : Targets) {
        const QString password = record.*target.password;
        if (password.isEmpty() && !fromFile && m_run.*target.known == KeyringEntry::Unknown)
            continue;
        const PasswordKeyring::Result result =
            waiting(busy, [&] { return m_keyring->writeNow(record.ProfileName, target.entry, password); });
        if (!result.ok)
            return KeyringWriteFailedMessage.arg(result.error);
        m_run.*target.known = password.isEmpty() ? KeyringEntry::Empty : KeyringEntry::Held;
    }
    return QString();
}

QString ProfilePasswords::clearKeyring(const std::function<void(bool)>& busy)
{
    const QString profile = m_run.ProfileSettings.ProfileName;
    for (const Target& target : Targets) {
        // An entry this run could never read may hold a password the fields
        // did not show: it stays.
        if (m_run.*target.known == KeyringEntry::Unknown)
            continue;
        const PasswordKeyring::Result result =
            waiting(busy, [&] { return m_keyring->removeNow(profile, target.entry); });
        if (!result.ok)
            return KeyringClearFailedMessage.arg(result.error);
        m_run.*target.known = KeyringEntry::Empty;
    }
    return QString();
}
