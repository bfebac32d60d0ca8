#include "smsgateway.h"

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
