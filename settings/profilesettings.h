#pragma once

#include <QString>
#include <QtGlobal>

// The running profile's settings, one field per key of the store plus the
// profile's own name. Passwords are plain here; only the store holds them
// scrambled.
struct ProfileSettings
{
    QString ProfileName;
    QString ServerName;
    QString UserName;
    QString Password;
    qint16 Interval = 5;
    quint8 StartReader = 0;
    quint8 PlaySound = 1;
    quint8 NotifyOnce = 1;
    quint8 AlwaysOnTop = 0;
    QString NameInBar;
    QString MailReader;
    quint8 AskBefore = 0;
    QString SMSUserID;
    QString SMSPassword;
    QString SMSMobile;
    quint8 SysTray = 0;
};
