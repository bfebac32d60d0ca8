#include "oauthtoken.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>

namespace {

QByteArray base64Url(const QByteArray& bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray encoded(const QJsonObject& object)
{
    return base64Url(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace

QString OAuthToken::signedWith(const QByteArray& key) const
{
    const QByteArray header = encoded({{"alg", "HS256"}, {"typ", "JWT"}, {"kid", keyId}});
    const QByteArray claims =
        encoded({{"sub", subject}, {"azp", authorizedParty}, {"iat", issuedAt}, {"exp", expiresAt}});
    const QByteArray signedPart = header + '.' + claims;
    const QByteArray signature =
        QMessageAuthenticationCode::hash(signedPart, key, QCryptographicHash::Sha256);
    return QString::fromLatin1(signedPart + '.' + base64Url(signature));
}
