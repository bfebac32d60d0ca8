#pragma once

#include <QByteArray>
#include <QString>

// An OAuth 2.0 access token in the form of a JWT (RFC 7519) signed with
// HMAC-SHA256 (HS256): what a provider would hand out, minted here so a
// server that checks tokens against a shared key can take it.
struct OAuthToken
{
    QString subject;         // "sub": the user the token is for
    QString authorizedParty; // "azp": the client it was issued to
    QString keyId;           // "kid" in the header: which of the issuer's keys signed it
    qint64 issuedAt = 0;     // "iat", seconds since the epoch
    qint64 expiresAt = 0;    // "exp", seconds since the epoch

    // header.claims.signature, each part base64url without padding.
    QString signedWith(const QByteArray& key) const;
};
