#include "standinauthserver.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QUrlQuery>

namespace {

QString randomText()
{
    return QString::number(QRandomGenerator::global()->generate64(), 36);
}

QByteArray answer(const QByteArray& status, const QByteArray& headers, const QByteArray& body = {})
{
    return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray json(const QByteArray& status, const QJsonObject& object)
{
    return answer(status, "Content-Type: application/json\r\n", QJsonDocument(object).toJson());
}

} // namespace

StandInAuthServer::StandInAuthServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QUrl StandInAuthServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void StandInAuthServer::readFrom(QTcpSocket* socket)
{
    QByteArray& buffer = m_received[socket];
    buffer += socket->readAll();
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    const qsizetype lengthAt = buffer.toLower().indexOf("\r\ncontent-length:");
    const qsizetype length =
        lengthAt < 0 ? 0 : buffer.mid(lengthAt + 17, 12).split('\r').first().toLongLong();
    if (headerEnd < 0 || buffer.size() < headerEnd + 4 + length)
        return; // the rest is on its way
    const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
    const QUrl target = QUrl::fromEncoded("http://127.0.0.1" + requestLine.value(1));
    QByteArray reply = answer("404 Not Found", {});
    if (target.path() == QLatin1String("/authorize")) {
        reply = authorize(QUrlQuery(target));
    } else if (target.path() == QLatin1String("/token") && requestLine.first() == "POST") {
        Fields fields;
        const QByteArray body = buffer.mid(headerEnd + 4, length).replace('+', "%20");
        for (const auto& [name, value] : QUrlQuery(QString::fromLatin1(body)).queryItems(QUrl::FullyDecoded))
            fields.insert(name, value);
        tokenRequests.append(fields);
        reply = token(fields);
    }
    m_received.remove(socket);
    socket->write(reply);
    socket->disconnectFromHost();
}

QByteArray StandInAuthServer::authorize(const QUrlQuery& query)
{
    const auto value = [&query](const char* name) { return query.queryItemValue(name, QUrl::FullyDecoded); };
    if (value("client_id") != clientId || value("response_type") != "code" ||
        value("code_challenge_method") != "S256")
        return answer("400 Bad Request", {});
    const QString code = randomText();
    m_codes.insert(code, {value("code_challenge"), value("redirect_uri")});
    QUrlQuery back{
        {redirectError.isEmpty() ? "code" : "error", redirectError.isEmpty() ? code : redirectError},
        {"state", value("state")}};
    QUrl location(value("redirect_uri"));
    location.setQuery(back);
    return answer("302 Found", "Location: " + location.toEncoded() + "\r\n");
}

QByteArray StandInAuthServer::token(const Fields& fields)
{
    QString error = fields.value("client_id") == clientId ? tokenError : QStringLiteral("invalid_client");
    if (error.isEmpty() && fields.value("grant_type") == "authorization_code") {
        const auto [challenge, redirectUri] = m_codes.take(fields.value("code")); // a code counts once
        const QByteArray proof =
            QCryptographicHash::hash(fields.value("code_verifier").toLatin1(), QCryptographicHash::Sha256)
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        if (challenge.isEmpty() || proof != challenge || fields.value("redirect_uri") != redirectUri)
            error = QStringLiteral("invalid_grant");
    } else if (error.isEmpty() && (refreshToken.isEmpty() || fields.value("refresh_token") != refreshToken)) {
        error = QStringLiteral("invalid_grant"); // also any other grant type
    }
    if (!error.isEmpty())
        return json("400 Bad Request", {{"error", error}, {"error_description", tokenErrorDescription}});
    lastAccessToken = minter ? minter(lifetimeSeconds) : randomText() + randomText();
    refreshToken = randomText() + randomText();
    return json("200 OK", {{"access_token", lastAccessToken},
                           {"token_type", "Bearer"},
                           {"expires_in", lifetimeSeconds},
                           {"refresh_token", refreshToken}});
}
