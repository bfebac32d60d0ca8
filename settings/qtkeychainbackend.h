#pragma once

#include "keyringbackend.h"

#include <QObject>

// The keyring module's one class: QtKeychain's jobs behind KeyringBackend.
class QtKeychainBackend : public QObject, public KeyringBackend
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KeyringBackend_iid)
    Q_INTERFACES(KeyringBackend)

public:
    void start(Job job, const QString& service, const QString& key, const QString& password, QObject* context,
               Done done) override;
};
