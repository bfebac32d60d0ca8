#include "settingsstore.h"

#include "blanks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QStringList>

#include <utility>

namespace {

const QString Application = QStringLiteral("POSTOWL");

// The store holds the scrambled passwords: nobody but its owner may read it.
constexpr QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions OwnerBits = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                         QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;

// The two window edges, left then top, as the key table lists them.
std::vector<const ProfileKey*> windowEdgeKeys()
{
    std::vector<const ProfileKey*> edges;
    for (const ProfileKey& key : profileKeys()) {
        if (key.kind == ProfileKey::Kind::WindowEdge)
            edges.push_back(&key);
    }
    return edges;
}

// Whether a store in this format is a text file of "[Group]" and "key=value" lines.
bool holdsIniText(QSettings::Format format)
{
#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
    return format == QSettings::IniFormat;
#else
    return format == QSettings::IniFormat || format == QSettings::NativeFormat;
#endif
}

// The top-level group a "[...]" line names, undoing QSettings' escapes ("%20",
// "%U0100", "\\" for "/"); a null string for "[General]", which holds keys
// outside any group.
QString groupOfSectionLine(const QByteArray& line)
{
    const qsizetype close = line.indexOf(']');
    const QByteArray section = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
    if (section.compare("general", Qt::CaseInsensitive) == 0)
        return {};
    if (section.compare("%general", Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(section.mid(1));
    const QString text = QString::fromUtf8(section);
    QString name;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\')) {
            name += QLatin1Char('/');
            continue;
        }
        if (c == QLatin1Char('%')) {
            const bool wide = text.mid(i + 1, 1) == QLatin1String("U");
            const qsizetype first = i + (wide ? 2 : 1);
            const int digits = wide ? 4 : 2;
            bool ok = false;
            const ushort code = first + digits <= text.size() ? text.mid(first, digits).toUShort(&ok, 16) : 0;
            if (ok) {
                name += QChar(code);
                i = first + digits - 1;
                continue;
            }
        }
        name += c;
    }
    return name.section(QLatin1Char('/'), 0, 0);
}

// The top-level groups named by the "[...]" lines of an INI text that are
// followed by at least one "key=value" line: what a reader that takes every
// line for what it looks like would find.
QSet<QString> groupsInIniText(const QByteArray& text)
{
    QSet<QString> groups;
    QString group;
    bool inGroup = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        for (const QByteArray& piece : rawLine.split('\r')) {
            const QByteArray line = piece.trimmed();
            if (line.startsWith('[')) {
                group = groupOfSectionLine(line);
                inGroup = !group.isNull();
            } else if (inGroup && !line.startsWith(';') && line.indexOf('=') > 0) {
                groups.insert(group);
            }
        }
    }
    return groups;
}

} // namespace

SettingsStore::SettingsStore(QSettings& settings) : m_settings(settings) {}

std::unique_ptr<QSettings> SettingsStore::openUserSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, Application,
                                       Application);
}

// QSettings reads "/" in a group name (and "\" on Windows) as the step to a
// subgroup: "x", "/x" and "x/" would share one record and "a/b" would sit
// inside "a". Names holding such a separator are percent-encoded, "%" and "\"
// included so that two such names never meet, and marked by a leading blank,
// which no name from the command line has (it is trimmed), so they never meet a
// plain name either. Every other name stays the group it always was; elsewhere
// than on Windows that includes a name with "\" alone, which Qt keeps apart.
QString SettingsStore::keyPath(const QString& section, const QString& key) const
{
#ifdef Q_OS_WIN
    const bool separates = section.contains(QLatin1Char('/')) || section.contains(QLatin1Char('\\'));
#else
    const bool separates = section.contains(QLatin1Char('/'));
#endif
    if (!separates)
        return section + QLatin1Char('/') + key;
    QString encoded = section;
    encoded.replace(QLatin1Char('%'), QLatin1String("%25"))
        .replace(QLatin1Char('/'), QLatin1String("%2F"))
        .replace(QLatin1Char('\\'), QLatin1String("%5C"));
    return QLatin1Char(' ') + encoded + QLatin1Char('/') + key;
}

QString SettingsStore::get(const QString& section, const QString& key, const QString& defaultValue) const
{
    const QString path = keyPath(section, key);
    if (!m_settings.contains(path))
        return defaultValue;
    const QVariant value = m_settings.value(path);
    // A hand-written value with an unquoted comma comes back as a list.
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void SettingsStore::write(const QString& section, const QString& key, const QString& value)
{
    m_written.insert(keyPath(section, key), value);
}

QStringList SettingsStore::groupsNotRead() const
{
    const QString fileName = m_settings.fileName();
    if (!holdsIniText(m_settings.format()))
        return {};
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QSet<QString> missing = groupsInIniText(file.readAll());
    if (missing.isEmpty())
        return {};
    // Nothing of ours is pending at this point, so this only reads the file.
    const QSettings reader(fileName, m_settings.format());
    for (const QString& group : reader.childGroups())
        missing.remove(group);
    QStringList names = missing.values();
    names.sort();
    return names;
}

bool SettingsStore::flush()
{
    const QHash<QString, QString> written = std::exchange(m_written, {});
    m_refusal.clear();
    const QString fileName = m_settings.fileName();
    // Qt writes back only what it could read: profiles that a hand edit hid
    // from it (a lone quote reads on to the end of the file) would be gone.
    if (const QStringList hidden = groupsNotRead(); !hidden.isEmpty()) {
        m_refusal = QStringLiteral("The settings file %1 holds profiles that PostOwl cannot read (%2), "
                                   "probably after an edit by hand: a lone \" in a value hides everything "
                                   "after it. Saving would remove them, so the file was left as it is. "
                                   "Please repair it.")
                        .arg(QDir::toNativeSeparators(fileName), hidden.join(QStringLiteral(", ")));
        return false;
    }
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        m_settings.setValue(it.key(), it.value());
    // Create the file owner-only before Qt writes the first value into it; Qt
    // would otherwise make it readable by everyone under the usual umask.
    if (!QFileInfo::exists(fileName)) {
        QDir().mkpath(QFileInfo(fileName).absolutePath());
        QFile file(fileName);
        if (file.open(QIODevice::WriteOnly, OwnerOnly))
            file.close();
    }
    m_settings.sync();
    // Tighten a file made elsewhere too, without making a read-only one writable.
    if (QFileInfo::exists(fileName))
        QFile::setPermissions(fileName, QFile::permissions(fileName) & OwnerBits);
    if (m_settings.status() == QSettings::NoError)
        return true;
    if (m_settings.status() != QSettings::FormatError)
        return false;
    // Qt keeps the format error of a damaged file it once read as its status
    // for good, even after rewriting the file whole: ask the file itself.
    const QSettings reread(fileName, m_settings.format());
    for (auto it = written.cbegin(); it != written.cend(); ++it) {
        if (reread.value(it.key()).toString() != it.value())
            return false;
    }
    return true;
}

bool SettingsStore::save(const QString& section, const QString& key, const QString& value)
{
    write(section, key, value);
    return flush();
}

QString SettingsStore::readServerName(const QString& section) const
{
    return get(section, profileKey(&ProfileSettings::ServerName).name);
}

bool SettingsStore::holdsPassword(const QString& section) const
{
    return !get(section, profileKey(&ProfileSettings::Password).name).isEmpty();
}

QStringList SettingsStore::loadProfile(ProfileSettings& record) const
{
    QStringList notUnderstood;
    for (const ProfileKey& key : profileKeys()) {
        const QString stored = get(record.ProfileName, key.name, key.defaultText);
        if (key.readInto(record, stored))
            continue;
        // Made unreadable by a hand edit: the key's default, or what it fails closed to.
        const QString instead = key.unreadableText.isEmpty() ? key.defaultText : key.unreadableText;
        key.readInto(record, instead);
        if (key.field.index() != 0)
            notUnderstood.append(QStringLiteral("%1=\"%2\" is not understood; read as %3")
                                     .arg(key.name, stored, key.storedText(record)));
    }
    return notUnderstood;
}

bool SettingsStore::saveProfile(const ProfileSettings& record)
{
    for (const ProfileKey& key : profileKeys()) {
        if (key.savedByApply)
            write(record.ProfileName, key.name, key.storedText(record));
    }
    return flush();
}

SettingsStore::WindowPosition SettingsStore::readWindowPosition(const QString& section) const
{
    auto edge = [&](const ProfileKey* key) {
        int value = -1;
        if (!key->readWholeNumber(get(section, key->name, key->defaultText), &value))
            value = -1;
        return value < 0 ? -1 : value;
    };
    const auto edges = windowEdgeKeys();
    WindowPosition position;
    position.x = edge(edges.at(0));
    position.y = edge(edges.at(1));
    return position;
}

bool SettingsStore::saveWindowPosition(const QString& section, int xTwips, int yTwips)
{
    // Stored as single-precision numbers; a whole number has no decimal point.
    const auto edges = windowEdgeKeys();
    write(section, edges.at(0)->name, QString::number(float(xTwips)));
    write(section, edges.at(1)->name, QString::number(float(yTwips)));
    return flush();
}
