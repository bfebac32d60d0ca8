#pragma once

#include <QString>

// The proof key of a sign-in (RFC 7636, method S256) and its state value,
// from the system's cryptographic random source.
class Pkce
{
public:
    // 32 random bytes, base64url without padding: 43 characters.
    static QString newVerifier();
    // base64url(SHA-256(verifier)) without padding.
    static QString challenge(const QString& verifier);
    // 16 random bytes, base64url without padding.
    static QString newState();
};
