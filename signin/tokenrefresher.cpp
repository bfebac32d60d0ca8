#include "tokenrefresher.h"

#include "tokenendpoint.h"

#include <QCoreApplication>
#include <QTimer>

TokenRefresher::TokenRefresher(NetworkAccess& network, QObject* parent)
    : QObject(parent), m_network(network), m_clock([] { return QDateTime::currentDateTimeUtc(); })
{
}

void TokenRefresher::setRefreshToken(const QString& refreshToken)
{
    m_refreshToken = refreshToken;
    m_access = {};
}

void TokenRefresher::takeTokens(const OAuthTokens& tokens)
{
    m_freshFromRefresh = false;
    take(tokens);
}

void TokenRefresher::take(const OAuthTokens& tokens)
{
    m_access = AccessToken(tokens.accessToken, m_clock(), tokens.expiresInSeconds);
    if (!tokens.refreshToken.isEmpty()) {
        m_refreshToken = tokens.refreshToken;
        if (m_store)
            m_store(m_refreshToken);
    }
}

void TokenRefresher::requestAccessToken()
{
    if (m_access.isFresh(m_clock())) {
        QTimer::singleShot(0, this, [this] {
            if (!m_access.isNull())
                emit accessTokenReady(m_access.value());
            else
                requestAccessToken();
        });
        return;
    }
    refresh();
}

void TokenRefresher::tokenRefused()
{
    if (m_refreshing)
        return;
    if (m_freshFromRefresh) {
        QTimer::singleShot(0, this, [this] {
            emit failed(QCoreApplication::translate(
                "TokenRefresher", "The mail server does not accept the sign-in, not even with a new token."));
        });
        return;
    }
    m_access = {};
    refresh();
}

void TokenRefresher::refresh()
{
    if (m_refreshing)
        return; // its answer serves this request too
    m_access = {};
    if (m_refreshToken.isEmpty()) {
        QTimer::singleShot(0, this, [this] {
            emit signInRequired(QCoreApplication::translate(
                "TokenRefresher", "Sign in with the provider to check this mailbox."));
        });
        return;
    }
    if (const QString problem = m_config.problem(); !problem.isEmpty()) {
        QTimer::singleShot(0, this, [this, problem] { emit failed(problem); });
        return;
    }
    m_refreshing = true;
    const FormFields grant = {{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                              {QStringLiteral("refresh_token"), m_refreshToken}};
    TokenEndpoint::post(m_network, m_config, grant, this, [this](const TokenEndpoint::Answer& answer) {
        m_refreshing = false;
        switch (answer.outcome) {
        case TokenEndpoint::Outcome::Granted:
            m_freshFromRefresh = true;
            take(answer.tokens);
            emit accessTokenReady(m_access.value());
            break;
        case TokenEndpoint::Outcome::SignInAgain:
            m_refreshToken.clear();
            emit signInRequired(answer.message);
            break;
        case TokenEndpoint::Outcome::Failed:
            emit failed(answer.message);
            break;
        }
    });
}
