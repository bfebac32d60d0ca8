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
    // Beyond the Account dialog's first fifteen keys.
    quint8 Popup;    // a desktop notification for new mail
    QString PushURL; // where new mail is pushed to a phone; empty = nowhere
    // 1: both passwords live in the desktop keyring and the file's are empty.
    quint8 PasswordStore;
};
