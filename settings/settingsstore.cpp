#include "settingsstore.h"

#include "blanks.h"
#include "scramblepassword.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <cmath>
#include <utility>
#include <limits>

namespace {

const QString Application = QStringLiteral("POSTOWL");

// The store holds the scrambled passwords: nobody but its owner may read it.
constexpr QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions OwnerBits =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;

quint8 readFlag(const SettingsStore& store, const QString& section, const QString& key, quint8 fallback)
{
    int value = fallback;
    // Only 0 and 1 mean anything; whatever else a hand edit left keeps the default.
    if (!SettingsStore::readWholeNumber(store.get(section, key, QString::number(fallback)), 0, 1, &value))
        value = fallback;
    return quint8(value);
}

QString readPassword(const SettingsStore& store, const QString& section, const QString& key)
{
    const QString stored = store.get(section, key);
    // A stored text of blanks only is taken as it is, without unscrambling.
    return trimBlanks(stored).isEmpty() ? stored : ScramblePassword(stored);
}

} // namespace

SettingsStore::SettingsStore(QSettings& settings) : m_settings(settings) {}

std::unique_ptr<QSettings> SettingsStore::openUserSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, Application,
                                       Application);
}

QString SettingsStore::keyPath(const QString& section, const QString& key) const
{
    return section + QLatin1Char('/') + key;
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
    m_settings.setValue(keyPath(section, key), value);
    m_written.insert(keyPath(section, key), value);
}

bool SettingsStore::flush()
{
    const QString fileName = m_settings.fileName();
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
    const QHash<QString, QString> written = std::exchange(m_written, {});
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

bool SettingsStore::readWholeNumber(const QString& text, int minimum, int maximum, int* result)
{
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return false;
    // nearbyint rounds a half to the even neighbour, as the program always has.
    const double whole = std::nearbyint(number);
    if (whole < minimum || whole > maximum)
        return false;
    *result = int(whole);
    return true;
}

QString SettingsStore::readServerName(const QString& section) const
{
    return get(section, QStringLiteral("ServerName"));
}

void SettingsStore::loadProfile(ProfileSettings& record) const
{
    const QString& section = record.ProfileName;
    record.ServerName = readServerName(section);
    record.UserName = get(section, QStringLiteral("UserName"));
    record.Password = readPassword(*this, section, QStringLiteral("Password"));

    int interval = record.Interval;
    if (readWholeNumber(get(section, QStringLiteral("Interval")), std::numeric_limits<qint16>::min(),
                        std::numeric_limits<qint16>::max(), &interval))
        record.Interval = qint16(interval);

    record.StartReader = readFlag(*this, section, QStringLiteral("StartReader"), record.StartReader);
    record.AskBefore = readFlag(*this, section, QStringLiteral("AskBefore"), 0);
    record.PlaySound = readFlag(*this, section, QStringLiteral("PlaySound"), record.PlaySound);
    record.AlwaysOnTop = readFlag(*this, section, QStringLiteral("AlwaysOnTop"), 0);
    record.NotifyOnce = readFlag(*this, section, QStringLiteral("NotifyOnce"), record.NotifyOnce);
    record.SysTray = readFlag(*this, section, QStringLiteral("SysTray"), 0);
    record.NameInBar = get(section, QStringLiteral("NameInBar"));
    record.MailReader = get(section, QStringLiteral("MailReader"));
    record.SMSUserID = get(section, QStringLiteral("SMSUserID"));
    record.SMSPassword = readPassword(*this, section, QStringLiteral("SMSPassword"));
    record.SMSMobile = get(section, QStringLiteral("SMSMobile"));
}

bool SettingsStore::saveProfile(const ProfileSettings& record)
{
    const QString& section = record.ProfileName;
    auto flag = [](quint8 value) { return QString::number(value ? 1 : 0); };
    write(section, QStringLiteral("ServerName"), record.ServerName);
    write(section, QStringLiteral("UserName"), record.UserName);
    write(section, QStringLiteral("Password"), ScramblePassword(record.Password));
    write(section, QStringLiteral("NameInBar"), record.NameInBar);
    write(section, QStringLiteral("MailReader"), record.MailReader);
    write(section, QStringLiteral("AskBefore"), flag(record.AskBefore));
    write(section, QStringLiteral("SMSUserID"), record.SMSUserID);
    write(section, QStringLiteral("SMSPassword"), ScramblePassword(record.SMSPassword));
    write(section, QStringLiteral("SMSMobile"), record.SMSMobile);
    write(section, QStringLiteral("Interval"), QString::number(record.Interval));
    write(section, QStringLiteral("NotifyOnce"), flag(record.NotifyOnce));
    write(section, QStringLiteral("StartReader"), flag(record.StartReader));
    write(section, QStringLiteral("PlaySound"), flag(record.PlaySound));
    write(section, QStringLiteral("AlwaysOnTop"), flag(record.AlwaysOnTop));
    write(section, QStringLiteral("SysTray"), flag(record.SysTray));
    return flush();
}

SettingsStore::WindowPosition SettingsStore::readWindowPosition(const QString& section) const
{
    auto edge = [&](const QString& key) {
        int value = -1;
        if (!readWholeNumber(get(section, key, QStringLiteral("-1")), std::numeric_limits<qint16>::min(),
                             std::numeric_limits<qint16>::max(), &value))
            value = -1;
        return value < 0 ? -1 : value;
    };
    WindowPosition position;
    position.x = edge(QStringLiteral("WIN-X"));
    position.y = edge(QStringLiteral("WIN-Y"));
    return position;
}

bool SettingsStore::saveWindowPosition(const QString& section, int xTwips, int yTwips)
{
    // Stored as single-precision numbers; a whole number has no decimal point.
    write(section, QStringLiteral("WIN-X"), QString::number(float(xTwips)));
    write(section, QStringLiteral("WIN-Y"), QString::number(float(yTwips)));
    return flush();
}

QString profileNameFromArguments(const QStringList& arguments)
{
    const QString name = trimBlanks(arguments.join(QLatin1Char(' ')));
    return name.isEmpty() ? QStringLiteral("DEFAULT") : name;
}
