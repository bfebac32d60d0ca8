#pragma once

#include <QString>
#include <QtGlobal>

// What the environment says to point this run at servers of one's own, for
// trials: read once at start and handed to whoever needs it. A malformed
// value is not used; it is said once on standard error.
struct TrialOverrides
{
    // POSTOWL_POP3_PORT: replaces the profile's port; 0 when unset.
    quint16 pop3Port = 0;
    // POSTOWL_IMAP_PORT: the same for an IMAP profile.
    quint16 imapPort = 0;
    // POSTOWL_SMS_GATEWAY ("host" or "host:port"): replaces the SMS gateway; an empty host when unset.
    QString smsHost;
    quint16 smsPort = 0;

    static TrialOverrides fromEnvironment();
    // A decimal port from 1 to 65535, or 0 (with a warning naming the variable).
    static quint16 portFrom(const char* variable, const QString& text);
};
