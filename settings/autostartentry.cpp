#include "autostartentry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

namespace {

// A desktop file's string value: backslash and the line-breaking characters
// escaped; any other control character cannot be carried at all.
QString escapedValue(const QString& text)
{
    QString value;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            value += QStringLiteral("\\\\");
            break;
        case '\n':
            value += QStringLiteral("\\n");
            break;
        case '\t':
            value += QStringLiteral("\\t");
            break;
        case '\r':
            value += QStringLiteral("\\r");
            break;
        default:
            value += c;
        }
    }
    return value;
}

bool holdsUnwritableControl(const QString& text)
{
    for (const QChar c : text)
        if ((c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t') &&
             c != QLatin1Char('\r')) ||
            c.unicode() == 0x7f)
            return true;
    return false;
}

// One argument of an Exec line: quoted in whole where it holds a reserved
// character, with ", `, $ and \ escaped inside the quotes; "%" doubled always,
// as it would start a field code.
QString execArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = argument.isEmpty();
    for (const QChar c : argument)
        quote = quote || reserved.contains(c);
    QString quoted;
    if (quote) {
        quoted += QLatin1Char('"');
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        quoted += QLatin1Char('"');
    } else {
        quoted = argument;
    }
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return quoted;
}

} // namespace

AutostartEntry::AutostartEntry(const QString& profileName, const QString& folder)
    : m_profileName(profileName), m_folder(folder)
{
}

QString AutostartEntry::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

QString AutostartEntry::fileName(const QString& profileName)
{
    // "%" itself is encoded too, so the encoding reads back one way only.
    const QByteArray encoded = QUrl::toPercentEncoding(profileName, QByteArray(), QByteArrayLiteral(".~"));
    return QStringLiteral("postowl-") + QString::fromLatin1(encoded) + QStringLiteral(".desktop");
}

QString AutostartEntry::program()
{
    const QString running = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString inPath = QStandardPaths::findExecutable(QStringLiteral("postowl"));
    if (!inPath.isEmpty() && QFileInfo(inPath).canonicalFilePath() == running)
        return QStringLiteral("postowl");
    return QCoreApplication::applicationFilePath();
}

QString AutostartEntry::execValue(const QString& program, const QString& profileName)
{
    // The program reads "--help", "-v" or a leading "--verbose" as options; a
    // blank in front keeps such a name a name, since blanks around it are dropped.
    const QString argument =
        profileName.startsWith(QLatin1Char('-')) ? QLatin1Char(' ') + profileName : profileName;
    return escapedValue(execArgument(program) + QLatin1Char(' ') + execArgument(argument));
}

QString AutostartEntry::filePath() const
{
    return m_folder + QLatin1Char('/') + fileName(m_profileName);
}

bool AutostartEntry::exists() const
{
    return QFileInfo::exists(filePath());
}

bool AutostartEntry::create(const QString& program) const
{
    if (holdsUnwritableControl(m_profileName) || !QDir().mkpath(m_folder))
        return false;
    const QString contents = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=PostOwl (%1)\n"
                                            "Comment=Watches the mailbox of the PostOwl profile %1\n"
                                            "Exec=%2\n"
                                            "Icon=postowl\n"
                                            "Terminal=false\n")
                                 .arg(escapedValue(m_profileName), execValue(program, m_profileName));
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(contents.toUtf8());
    return file.commit();
}

bool AutostartEntry::remove() const
{
    return !exists() || QFile::remove(filePath());
}
