#pragma once

#include <QObject>
#include <QString>
#include <QtPlugin>

#include <functional>

// What a keyring job answers.
struct KeyringAnswer
{
    bool ok = false;    // the keyring answered (an entry that is not there counts)
    bool found = false; // a read found the entry
    QString password;   // what a read found
    QString error;      // the keyring's own words when ok is false
};

// The desktop keyring as the library that talks to it (QtKeychain) offers it.
// That library, with the D-Bus client it brings, lives in a module of its own
// (postowl-keyring) that PasswordKeyring loads at the first job, so that a
// profile keeping its passwords in the settings file never maps it.
class KeyringBackend
{
public:
    enum class Job { Read, Write, Remove };
    using Done = std::function<void(const KeyringAnswer&)>;

    virtual ~KeyringBackend() = default;
    // Starts one job on the entry key of service; done is called once with
    // the answer, on context's thread, unless context is gone by then.
    virtual void start(Job job, const QString& service, const QString& key, const QString& password,
                       QObject* context, Done done) = 0;
};

#define KeyringBackend_iid "example.postowl.KeyringBackend/1"
Q_DECLARE_INTERFACE(KeyringBackend, KeyringBackend_iid)
