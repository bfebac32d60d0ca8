#pragma once

#include <QMetaType>
#include <QString>

// What a token endpoint granted. Secrets all: never logged, never shown.
struct OAuthTokens
{
    QString accessToken;
    qint64 expiresInSeconds = 0;
    // Empty when the answer carried none (a refresh may keep the old one).
    QString refreshToken;
};

Q_DECLARE_METATYPE(OAuthTokens)
