#include "saslmessage.h"

QByteArray SaslMessage::plain(const QString& userName, const QString& password)
{
    return '\0' + userName.toUtf8() + '\0' + password.toUtf8();
}

QByteArray SaslMessage::xoauth2(const QString& userName, const QString& token)
{
    return "user=" + userName.toUtf8() + "\x01" + "auth=Bearer " + token.toUtf8() + "\x01\x01";
}

QByteArray SaslMessage::oauthBearer(const QString& userName, const QString& host, quint16 port,
                                    const QString& token)
{
    // "=" first, so the "=" of "=2C" is not escaped again.
    QByteArray name = userName.toUtf8();
    name.replace("=", "=3D").replace(",", "=2C");
    return "n,a=" + name + ",\x01" + "host=" + host.toUtf8() + "\x01" + "port=" + QByteArray::number(port) +
           "\x01" + "auth=Bearer " + token.toUtf8() + "\x01\x01";
}
