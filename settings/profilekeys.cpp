#include "profilekeys.h"

#include "blanks.h"
#include "scramblepassword.h"

#include <cmath>
#include <limits>

namespace {

using Kind = ProfileKey::Kind;
using PS = ProfileSettings;

constexpr int Int16Min = std::numeric_limits<qint16>::min();
constexpr int Int16Max = std::numeric_limits<qint16>::max();

ProfileKey text(const char* name, QString PS::*field)
{
    return {QLatin1String(name), Kind::Text, QString(), true, field};
}

ProfileKey password(const char* name, QString PS::*field)
{
    return {QLatin1String(name), Kind::Password, QString(), true, field};
}

ProfileKey flag(const char* name, quint8 PS::*field, int defaultValue)
{
    return {QLatin1String(name), Kind::Flag, QString::number(defaultValue), true, field, 0, 1};
}

template <typename T>
ProfileKey number(const char* name, T PS::*field, int defaultValue, int minimum, int maximum)
{
    return {QLatin1String(name), Kind::Number, QString::number(defaultValue), true, field, minimum, maximum};
}

// A damaged value of this key counts as `unreadable`, never as the default.
ProfileKey failingClosed(ProfileKey key, int unreadable)
{
    key.unreadableText = QString::number(unreadable);
    return key;
}

ProfileKey windowEdge(const char* name)
{
    // Every negative value, like the default, means "not set".
    return {QLatin1String(name), Kind::WindowEdge, QStringLiteral("-1"), false, {}, Int16Min, Int16Max};
}

} // namespace

const std::vector<ProfileKey>& profileKeys()
{
    static const std::vector<ProfileKey> keys = {
        text("ServerName", &PS::ServerName),
        text("UserName", &PS::UserName),
        password("Password", &PS::Password),
        text("NameInBar", &PS::NameInBar),
        text("MailReader", &PS::MailReader),
        flag("AskBefore", &PS::AskBefore, 0),
        text("SMSUserID", &PS::SMSUserID),
        password("SMSPassword", &PS::SMSPassword),
        text("SMSMobile", &PS::SMSMobile),
        number("Interval", &PS::Interval, 5, Int16Min, Int16Max),
        flag("NotifyOnce", &PS::NotifyOnce, 1),
        flag("StartReader", &PS::StartReader, 0),
        flag("PlaySound", &PS::PlaySound, 1),
        flag("AlwaysOnTop", &PS::AlwaysOnTop, 0),
        flag("SysTray", &PS::SysTray, 0),
        // Keys beyond the Account dialog's first fifteen follow here.
        // Absent means plain, as before TLS existed; damaged means TLS from the
        // first byte: a typo must never send the password in the clear.
        failingClosed(number("Security", &PS::Security, 0, 0, 2), 2),
        number("Port", &PS::Port, 0, 0, 65535),
        text("TrustedCertificate", &PS::TrustedCertificate),
        flag("Popup", &PS::Popup, 0),
        text("PushURL", &PS::PushURL),
        flag("PasswordStore", &PS::PasswordStore, 0),
        number("Protocol", &PS::Protocol, 0, 0, 1),
        text("Folder", &PS::Folder),
        number("Auth", &PS::Auth, 0, 0, 1),
        text("OAuthClientId", &PS::OAuthClientId),
        text("OAuthAuthorizeUrl", &PS::OAuthAuthorizeUrl),
        text("OAuthTokenUrl", &PS::OAuthTokenUrl),
        text("OAuthScope", &PS::OAuthScope),
        flag("ShowSenders", &PS::ShowSenders, 0),
        flag("PushSenders", &PS::PushSenders, 0),
        windowEdge("WIN-X"),
        windowEdge("WIN-Y"),
    };
    return keys;
}

QString ProfileKey::storedText(const ProfileSettings& record) const
{
    return std::visit(
        [&](auto member) -> QString {
            using Member = decltype(member);
            if constexpr (std::is_same_v<Member, std::monostate>) {
                return QString();
            } else if constexpr (std::is_same_v<Member, QString PS::*>) {
                if (kind != Kind::Password)
                    return record.*member;
                // A profile that keeps its passwords in the desktop keyring
                // leaves the file's password keys empty.
                return record.PasswordStore == 1 ? QString() : ScramblePassword(record.*member);
            } else {
                if (kind == Kind::Flag)
                    return QString::number(record.*member ? 1 : 0);
                return QString::number(record.*member);
            }
        },
        field);
}

bool ProfileKey::readInto(ProfileSettings& record, const QString& text) const
{
    return std::visit(
        [&](auto member) -> bool {
            using Member = decltype(member);
            if constexpr (std::is_same_v<Member, std::monostate>) {
                return false;
            } else if constexpr (std::is_same_v<Member, QString PS::*>) {
                // A stored password of blanks only is taken as it is, without unscrambling.
                const bool scrambled = kind == Kind::Password && !trimBlanks(text).isEmpty();
                record.*member = scrambled ? ScramblePassword(text) : text;
                return true;
            } else {
                int value = 0;
                if (!readWholeNumber(text, &value))
                    return false;
                using Value = std::remove_reference_t<decltype(record.*member)>;
                record.*member = Value(value);
                return true;
            }
        },
        field);
}

bool ProfileKey::readWholeNumber(const QString& text, int* result) const
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

ProfileSettings::ProfileSettings()
{
    for (const ProfileKey& key : profileKeys())
        key.readInto(*this, key.defaultText);
}
