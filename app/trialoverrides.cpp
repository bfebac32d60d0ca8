#include "trialoverrides.h"

#include "smsgateway.h"

#include <QUrl>

quint16 TrialOverrides::portFrom(const char* variable, const QString& value)
{
    const QString text = value.trimmed();
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const int port = text.toInt(&ok, 10);
    if (ok && port > 0 && port <= 65535)
        return quint16(port);
    // Someone meant to point this run elsewhere: say that it did not work.
    qWarning("PostOwl: %s=\"%s\" is no port from 1 to 65535; the profile's port is used", variable,
             qPrintable(text));
    return 0;
}

TrialOverrides TrialOverrides::fromEnvironment()
{
    TrialOverrides overrides;
    overrides.pop3Port = portFrom("POSTOWL_POP3_PORT", qEnvironmentVariable("POSTOWL_POP3_PORT"));
    overrides.imapPort = portFrom("POSTOWL_IMAP_PORT", qEnvironmentVariable("POSTOWL_IMAP_PORT"));

    // Ignored rather than half used: sending the password to a host made of
    // the wrong half of a typo helps nobody.
    const QString gateway = qEnvironmentVariable("POSTOWL_SMS_GATEWAY").trimmed();
    if (!gateway.isEmpty()) {
        const QUrl url(QStringLiteral("http://") + gateway, QUrl::StrictMode);
        const int port = url.port(SmsGatewayPort);
        if (url.isValid() && !url.host().isEmpty() && url.userInfo().isEmpty() && url.path().isEmpty() &&
            !url.hasQuery() && !url.hasFragment() && port > 0) {
            overrides.smsHost = url.host();
            overrides.smsPort = quint16(port);
        } else {
            qWarning("PostOwl: POSTOWL_SMS_GATEWAY=\"%s\" is not host or host:port; using %s",
                     qPrintable(gateway), SmsGatewayHost);
        }
    }
    return overrides;
}
