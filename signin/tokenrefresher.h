#pragma once

#include "accesstoken.h"
#include "oauthconfig.h"
#include "oauthtokens.h"

#include <QObject>

#include <functional>

class NetworkAccess;

// Keeps the access token of one profile fresh with the refresh grant. The
// access token lives here, in memory only; the refresh token comes from the
// caller's store and goes back there through a callback each time the
// provider hands out a new one. A token the server refused is refreshed once;
// when the fresh one is refused too, that is reported rather than refreshed
// again, so a server that refuses every token cannot start a loop.
class TokenRefresher : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    using StoreRefreshToken = std::function<void(const QString& refreshToken)>;

    explicit TokenRefresher(NetworkAccess& network, QObject* parent = nullptr);

    void setConfig(const OAuthConfig& config) { m_config = config; }
    // The refresh token as the caller's store holds it; not stored back.
    void setRefreshToken(const QString& refreshToken);
    // Called with every refresh token the provider hands out.
    void setStoreRefreshToken(StoreRefreshToken store) { m_store = std::move(store); }
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // The tokens of an interactive sign-in (OAuthFlow::signedIn): the access
    // token is kept, the refresh token stored.
    void takeTokens(const OAuthTokens& tokens);

    // Asks for an access token. The answer always comes after return: the
    // token held when it is fresh, else one from the refresh grant.
    void requestAccessToken();
    // The mail server refused the token last handed out, or took it.
    void tokenRefused();
    void tokenAccepted() { m_freshFromRefresh = false; }

    const AccessToken& accessToken() const { return m_access; }
    bool isRefreshing() const { return m_refreshing; }

signals:
    void accessTokenReady(const QString& accessToken);
    // The refresh token is gone or no longer accepted: only signing in again helps.
    void signInRequired(const QString& message);
    void failed(const QString& message);

private:
    void refresh();
    void take(const OAuthTokens& tokens);

    NetworkAccess& m_network;
    OAuthConfig m_config;
    QString m_refreshToken;
    StoreRefreshToken m_store;
    Clock m_clock;
    AccessToken m_access;
    bool m_refreshing = false;
    // The token held came from a refresh and no server has taken it yet.
    bool m_freshFromRefresh = false;
};
