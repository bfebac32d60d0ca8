#pragma once

#include <QHash>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <functional>

class QTcpSocket;

// An OAuth 2.0 authorization server on 127.0.0.1. Its authorize page sends
// the browser straight back to redirect_uri with a code and the given state
// (or an error); its token endpoint takes that code only with the client id,
// the redirect_uri and the PKCE verifier (S256) that match it, and every
// refresh rotates the refresh token. Token requests are recorded.
class StandInAuthServer : public QObject
{
    Q_OBJECT

public:
    using Fields = QHash<QString, QString>;

    explicit StandInAuthServer(QObject* parent = nullptr);

    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QUrl url(const QString& path) const;

    QString clientId = QStringLiteral("postowl-test-client");
    qint64 lifetimeSeconds = 3600;
    // Makes access tokens (a test may want JWTs a mail server checks); random text if unset.
    std::function<QString(qint64 lifetimeSeconds)> minter;
    QString redirectError;         // the authorize page sends this instead of a code
    QString tokenError;            // every token request gets this error (400)
    QString tokenErrorDescription; // ... with this description

    QList<Fields> tokenRequests;
    QString lastAccessToken;
    QString refreshToken;

private:
    void readFrom(QTcpSocket* socket);
    QByteArray authorize(const QUrlQuery& query);
    QByteArray token(const Fields& fields);

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_received;
    QHash<QString, QPair<QString, QString>> m_codes; // code: challenge, redirect_uri
};
