#include "temporarystore.h"

#include <QFile>

namespace {

QString prepared(const QTemporaryDir& dir, const QByteArray& lines)
{
    const QString fileName = dir.filePath(QStringLiteral("POSTOWL.conf"));
    if (!lines.isEmpty()) {
        QFile file(fileName);
        if (file.open(QIODevice::WriteOnly))
            file.write(lines);
    }
    return fileName;
}

} // namespace

TemporaryStore::TemporaryStore(const QByteArray& lines)
    : settings(prepared(dir, lines), QSettings::IniFormat), store(settings)
{
}

TemporaryStore::TemporaryStore(const AtFile& file)
    : settings(file.fileName, QSettings::IniFormat), store(settings)
{
}

QString TemporaryStore::reread(const QString& profile, const QString& key) const
{
    QSettings file(fileName(), QSettings::IniFormat);
    return SettingsStore(file).get(profile, key, QStringLiteral("absent"));
}
