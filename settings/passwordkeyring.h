#pragma once

#include "keyringbackend.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QPluginLoader;
struct GeneralStuff;

// The profile's two passwords in the desktop keyring (Secret Service, the
// Windows Credential Manager or the macOS Keychain, through QtKeychain), under
// the service "PostOwl" as "<profile>/POP3" and "<profile>/SMS". QtKeychain
// is in the keyring module, loaded at the first job: beside the program, or
// in the installation's library folder. A module that cannot be loaded makes
// a keyring that could not be reached.
//
// Every call is asynchronous: the keyring may have to ask the user to unlock
// it. The answer comes through the callback, on the user-interface thread, as
// long as this object lives. The ...Now variants wait for it in a nested event
// loop, for callers that cannot go on without it. A keyring that has not
// answered within the deadline counts as one that could not be reached; its
// late answer is ignored.
class PasswordKeyring : public QObject
{
    Q_OBJECT

public:
    // The two passwords, and for a profile that signs in with the provider
    // its refresh token and its client secret.
    enum class Entry { Pop3, Sms, OAuth, OAuthSecret };

    // The longest password the program's fields take for the keyring (the
    // settings file's scrambled form holds 25 characters at most).
    static constexpr int MaxPasswordLength = 256;
    // How long the keyring may take to answer. Long enough for an unlock
    // prompt the user is quick with; a Secret Service that hangs would
    // otherwise hold the first check or Apply for as long as D-Bus lets it.
    static constexpr int DefaultDeadlineMs = 15000;

    using Result = KeyringAnswer;
    using Done = std::function<void(const Result&)>;

    static QString service();
    // "Home/POP3", "Home/SMS", "Home/OAuth", "Home/OAuthSecret"
    static QString entryName(const QString& profile, Entry entry);

    explicit PasswordKeyring(QObject* parent = nullptr);
    ~PasswordKeyring() override;

    void setDeadline(int milliseconds) { m_deadlineMs = milliseconds; }

    void read(const QString& profile, Entry entry, Done done);
    // Stores the password; an empty one deletes the entry instead.
    void write(const QString& profile, Entry entry, const QString& password, Done done);
    // An entry that is not there counts as deleted.
    void remove(const QString& profile, Entry entry, Done done);

    // The same, waiting in a nested event loop until the keyring has answered.
    Result writeNow(const QString& profile, Entry entry, const QString& password);
    Result removeNow(const QString& profile, Entry entry);

    // Start-up of a profile that keeps its passwords here: fills the record's
    // two passwords and what the run knows of the entries. A missing entry
    // leaves its password empty. done gets the first error, or the empty text.
    void readPasswords(GeneralStuff& run, std::function<void(const QString& error)> done);

private:
    void run(KeyringBackend::Job job, const QString& profile, Entry entry, const QString& password,
             Done done);
    KeyringBackend* backend();
    Result waitFor(const std::function<void(Done)>& start);

    int m_deadlineMs = DefaultDeadlineMs;
    std::unique_ptr<QPluginLoader> m_module;
    KeyringBackend* m_backend = nullptr;
};
