#include "pushaddress.h"

QUrl acceptedPushUrl(const QString& text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    // QUrl writes the scheme in lower case, so "HTTPS://" counts too.
    const bool web = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    if (!url.isValid() || !web || url.host().isEmpty())
        return {};
    return url;
}
