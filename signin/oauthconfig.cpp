#include "oauthconfig.h"

#include <QCoreApplication>
#include <QHostAddress>

namespace {

bool carriesSecretsSafely(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    const QHostAddress host(url.host());
    return url.scheme() == QLatin1String("http") && !host.isNull() && host.isLoopback();
}

} // namespace

QString OAuthConfig::problem() const
{
    if (clientId.trimmed().isEmpty())
        return QCoreApplication::translate("OAuthConfig", "The client ID for signing in is missing.");
    if (!carriesSecretsSafely(authorizeUrl))
        return QCoreApplication::translate("OAuthConfig", "The sign-in page must be an https:// address.");
    if (!carriesSecretsSafely(tokenUrl))
        return QCoreApplication::translate("OAuthConfig", "The token address must be an https:// address.");
    return {};
}
