#pragma once

#include <QString>
#include <QUrl>

// The provider and the app registration one sign-in uses, as the profile
// holds them (OAuthClientId, OAuthAuthorizeUrl, OAuthTokenUrl, OAuthScope and
// the optional client secret).
struct OAuthConfig
{
    QString clientId;
    // Desktop registrations of some providers come with a "secret" that is
    // not secret at all; it is sent only when there is one.
    QString clientSecret;
    QUrl authorizeUrl;
    QUrl tokenUrl;
    QString scope;

    // What keeps these values from being used, for the user; empty when they
    // can be. The code and the tokens travel only over https, or to this
    // machine itself.
    QString problem() const;
};
