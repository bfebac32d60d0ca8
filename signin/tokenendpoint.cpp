#include "tokenendpoint.h"

#include "networkaccess.h"
#include "oauthconfig.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

constexpr int MaxShownLength = 200;
constexpr qint64 MaxLifetimeSeconds = 366LL * 24 * 3600;

QString tr(const char* text)
{
    return QCoreApplication::translate("TokenEndpoint", text);
}

QString plainText(const QString& text)
{
    QString plain = text;
    for (QChar& c : plain) {
        if (!c.isPrint())
            c = QLatin1Char(' '); // a line break in the text must not become one on screen
    }
    plain = plain.simplified();
    return plain.size() > MaxShownLength ? plain.left(MaxShownLength) + QStringLiteral("…") : plain;
}

// The access token goes into the mail server's login line: printable ASCII
// only, so it can never end that line early.
bool isSendable(const QString& token)
{
    if (token.isEmpty())
        return false;
    for (const QChar c : token) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

qint64 lifetimeOf(const QJsonValue& value)
{
    bool ok = value.isDouble();
    double seconds = value.toDouble();
    if (value.isString()) // some servers send it as text
        seconds = value.toString().toDouble(&ok);
    if (!ok)
        return TokenEndpoint::AssumedLifetimeSeconds;
    return qBound<qint64>(0, qint64(seconds), MaxLifetimeSeconds);
}

} // namespace

QString TokenEndpoint::describeError(const QString& error, const QString& description)
{
    const QString code = plainText(error);
    const QString detail = plainText(description);
    return detail.isEmpty() ? code : code + QStringLiteral(": ") + detail;
}

TokenEndpoint::Answer TokenEndpoint::readAnswer(int httpStatus, const QByteArray& body)
{
    Answer answer;
    const QJsonObject json = QJsonDocument::fromJson(body).object();
    const QString error = json.value(QLatin1String("error")).toString();
    if (!error.isEmpty()) {
        const QString what = describeError(error, json.value(QLatin1String("error_description")).toString());
        if (error == QLatin1String("invalid_grant")) {
            answer.outcome = Outcome::SignInAgain;
            answer.message = tr("Sign in again: the provider no longer accepts this sign-in (%1).").arg(what);
        } else {
            answer.message = tr("The provider refused the sign-in (%1).").arg(what);
        }
        return answer;
    }
    const QString token = json.value(QLatin1String("access_token")).toString();
    if (httpStatus != 200 || !isSendable(token)) {
        answer.message = tr("The provider's token answer could not be used (HTTP %1).").arg(httpStatus);
        return answer;
    }
    answer.outcome = Outcome::Granted;
    answer.tokens.accessToken = token;
    answer.tokens.expiresInSeconds = lifetimeOf(json.value(QLatin1String("expires_in")));
    answer.tokens.refreshToken = json.value(QLatin1String("refresh_token")).toString();
    return answer;
}

void TokenEndpoint::post(NetworkAccess& network, const OAuthConfig& config, FormFields grant,
                         QObject* context, Done done)
{
    grant.append({QStringLiteral("client_id"), config.clientId});
    if (!config.clientSecret.isEmpty())
        grant.append({QStringLiteral("client_secret"), config.clientSecret});
    QNetworkRequest request(config.tokenUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader(QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json"));
    QNetworkReply* reply = network.post(request, formBody(grant));
    QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > MaxAnswerBytes || total > MaxAnswerBytes) {
            reply->setProperty("postowlTooLarge", true);
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, context, [reply, done = std::move(done)] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        Answer answer;
        if (reply->property("postowlTooLarge").toBool())
            answer.message = tr("The provider's token answer is too large.");
        else if (status == 0)
            answer.message = tr("The provider's token address could not be reached (%1).")
                                 .arg(plainText(reply->errorString()));
        else
            answer = readAnswer(status, reply->read(MaxAnswerBytes));
        done(answer);
    });
}
