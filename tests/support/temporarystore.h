#pragma once

#include "settingsstore.h"

#include <QSettings>
#include <QTemporaryDir>

// A settings store in a throw-away INI file: what a test reads and writes
// never reaches the user's own settings.
struct TemporaryStore
{
    TemporaryStore() : settings(fileName(), QSettings::IniFormat), store(settings) {}

    QString fileName() const { return dir.filePath(QStringLiteral("POSTOWL.conf")); }

    QTemporaryDir dir;
    QSettings settings;
    SettingsStore store;
};
