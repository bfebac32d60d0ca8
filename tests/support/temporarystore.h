#pragma once

#include "settingsstore.h"

#include <QByteArray>
#include <QSettings>
#include <QTemporaryDir>

// A settings store in a throw-away INI file: what a test reads and writes
// never reaches the user's own settings.
struct TemporaryStore
{
    // A new file holding `lines` (none: no file yet).
    explicit TemporaryStore(const QByteArray& lines = QByteArray());
    // A file of the caller's that outlives this store, e.g. from one run to the next.
    struct AtFile
    {
        QString fileName;
    };
    explicit TemporaryStore(const AtFile& file);

    QString fileName() const { return settings.fileName(); }
    // What another reader of the file finds now.
    QString reread(const QString& profile, const QString& key) const;

    QTemporaryDir dir;
    QSettings settings;
    SettingsStore store;
};
