#include "smsgateway.h"

namespace {

struct Gateway
{
    QString host;
    quint16 port;
};

// A malformed override is ignored rather than half used: sending the password
// to a host made of the wrong half of a typo helps nobody. It is said once
// (per value; the gateway is looked up for every request).
Gateway gatewayInEffect()
{
    const QString override = qEnvironmentVariable("POSTOWL_SMS_GATEWAY").trimmed();
    if (!override.isEmpty()) {
        const QUrl url(QStringLiteral("http://") + override, QUrl::StrictMode);
        const int port = url.port(SmsGatewayPort);
        if (url.isValid() && !url.host().isEmpty() && url.userInfo().isEmpty() && url.path().isEmpty() &&
            !url.hasQuery() && !url.hasFragment() && port > 0)
            return {url.host(), quint16(port)};
        static QString warnedAbout;
        if (override != warnedAbout) {
            warnedAbout = override;
            qWarning("PostOwl: POSTOWL_SMS_GATEWAY=\"%s\" is not host or host:port; using %s",
                     qPrintable(override), SmsGatewayHost);
        }
    }
    return {QString::fromLatin1(SmsGatewayHost), SmsGatewayPort};
}

} // namespace

QUrl smsGatewayUrl(const QString& host, quint16 port, const QString& path)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host);
    if (port != SmsGatewayPort)
        url.setPort(port);
    url.setPath(path);
    return url;
}

QUrl smsGatewayUrl(const QString& path)
{
    const Gateway gateway = gatewayInEffect();
    return smsGatewayUrl(gateway.host, gateway.port, path);
}

QString smsGatewayDisplayName()
{
    return gatewayInEffect().host;
}
