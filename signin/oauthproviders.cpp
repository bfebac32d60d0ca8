#include "oauthproviders.h"

#include <QCoreApplication>

QList<OAuthProvider> OAuthProviders::presets()
{
    return {
        {QStringLiteral("Microsoft"),
         QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize"),
         QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token"),
         QStringLiteral("https://outlook.office.com/IMAP.AccessAsUser.All "
                        "https://outlook.office.com/POP.AccessAsUser.All offline_access"),
         false},
        {QStringLiteral("Google"), QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"),
         QStringLiteral("https://oauth2.googleapis.com/token"), QStringLiteral("https://mail.google.com/"),
         false},
        {QCoreApplication::translate("OAuthProviders", "Other provider"), {}, {}, {}, true},
    };
}

OAuthProvider OAuthProviders::matching(const QString& authorizeUrl, const QString& tokenUrl)
{
    const QList<OAuthProvider> all = presets();
    for (const OAuthProvider& provider : all) {
        if (!provider.editable && provider.authorizeUrl == authorizeUrl.trimmed() &&
            provider.tokenUrl == tokenUrl.trimmed())
            return provider;
    }
    return all.last();
}
