#pragma once

#include <QByteArray>
#include <QString>

// The initial client responses of the SASL mechanisms we sign in with, for
// any protocol that carries SASL (IMAP's AUTHENTICATE, POP3's AUTH). They come
// out raw: the protocol base64-encodes them for the wire. All text is UTF-8.
class SaslMessage
{
public:
    // PLAIN (RFC 4616): no authorization identity, "\0user\0password".
    static QByteArray plain(const QString& userName, const QString& password);
    // XOAUTH2: "user=<name>\1auth=Bearer <token>\1\1".
    static QByteArray xoauth2(const QString& userName, const QString& token);
    // OAUTHBEARER (RFC 7628) with the GS2 header naming the user, whose "," and
    // "=" are written "=2C" and "=3D".
    static QByteArray oauthBearer(const QString& userName, const QString& host, quint16 port,
                                  const QString& token);
    // What the client answers OAUTHBEARER's error challenge with: a lone ^A,
    // after which the server sends its final failure.
    static QByteArray oauthBearerErrorAnswer() { return QByteArray(1, '\x01'); }
};
