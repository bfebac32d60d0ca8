#pragma once

#include "profilesettings.h"

#include <QDateTime>
#include <QString>

// The values one run of the program shares between its windows. main() makes
// exactly one and hands it around by reference; tests make as many as they like.
struct GeneralStuff
{
    ::ProfileSettings ProfileSettings;

    // When the last completed check ended; a null QDateTime means "none since
    // start or since the last Refresh".
    QDateTime LastCheckTime;

    // Count of the previous completed check. Counts are not limited to 16 bits.
    int LastMessageCount = 0;

    // The latest POP3 greeting from its fifth character on, line end included.
    QString ServerGreeting;
    // How the connection that brought that greeting was carried: the TLS
    // protocol ("TLS 1.3") once a handshake completed, empty for a plain one.
    QString ServerTransport;

    // A watched IMAP folder: true while the connection idles, waiting for the
    // server's notice of new mail; and why it is being reconnected, if it is.
    bool AwaitingNotice = false;
    QString ConnectionNote;

    // True exactly while "Do you want to start your mail reader ?" is open.
    bool ReaderQuestionOpen = false;

    // True while the start-up read of the passwords from the desktop keyring
    // is under way: whether a check must ask for the password is decided only
    // once they are here.
    bool PasswordsPending = false;

    // What this run knows of the profile's two entries in the desktop keyring.
    // An entry whose content the run never learnt (the keyring could not be
    // reached) is never deleted on the strength of an empty field.
    enum class KeyringEntry { Unknown, Empty, Held };

    // A profile that signs in with the provider: its refresh token and its
    // optional client secret, as the desktop keyring holds them (never the file).
    QString OAuthRefreshToken;
    QString OAuthSecret;
    KeyringEntry Pop3Entry = KeyringEntry::Unknown;
    KeyringEntry SmsEntry = KeyringEntry::Unknown;
};
