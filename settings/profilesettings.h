#pragma once

#include <QString>
#include <QtGlobal>

// The running profile's settings, one field per key of the store plus the
// profile's own name. Passwords are plain here; only the store holds them
// scrambled. A new record holds every key's default (see profilekeys.cpp).
struct ProfileSettings
{
    ProfileSettings();

    QString ProfileName;
    QString ServerName;
    QString UserName;
    QString Password;
    qint16 Interval;
    quint8 StartReader;
    quint8 PlaySound;
    quint8 NotifyOnce;
    quint8 AlwaysOnTop;
    QString NameInBar;
    QString MailReader;
    quint8 AskBefore;
    QString SMSUserID;
    QString SMSPassword;
    QString SMSMobile;
    quint8 SysTray;
    // How the POP3 connection is secured: 0 none, 1 STLS, 2 TLS from the first byte.
    quint8 Security;
    // 0 means the standard port of the security above.
    quint16 Port;
    // SHA-256 fingerprint of a certificate the user chose to trust for this profile.
    QString TrustedCertificate;
    quint8 Popup;    // a desktop notification for new mail
    QString PushURL; // where new mail is pushed to a phone; empty = nowhere
    // 1: both passwords live in the desktop keyring and the file's are empty.
    quint8 PasswordStore;
    // 0 POP3, 1 IMAP.
    quint8 Protocol;
    // The IMAP mailbox to watch; empty means INBOX.
    QString Folder;
    // 0: the password signs in; 1: the provider's sign-in (OAuth 2.0), with
    // the app registration and the provider's addresses below.
    quint8 Auth;
    QString OAuthClientId;
    QString OAuthAuthorizeUrl;
    QString OAuthTokenUrl;
    QString OAuthScope;
    // IMAP only: the desktop notification names the sender and subject of
    // the new messages; with PushSenders the push does too. Both off, a
    // subject never leaves the machine.
    quint8 ShowSenders;
    quint8 PushSenders;
};
