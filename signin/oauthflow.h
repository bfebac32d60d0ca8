#pragma once

#include "oauthconfig.h"
#include "oauthtokens.h"
#include "redirectlistener.h"

#include <QObject>
#include <QTimer>

class Desktop;
class NetworkAccess;

// One interactive sign-in with the provider (OAuth 2.0 for native apps,
// RFC 8252, with PKCE, RFC 7636): the provider's page opens in the user's
// browser, the browser comes back to a listener on 127.0.0.1, and the code it
// brings is exchanged for tokens. Ends with exactly one signedIn or failed;
// the failure's message is for the user.
class OAuthFlow : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTimeoutMs = 5 * 60 * 1000;

    OAuthFlow(NetworkAccess& network, Desktop& desktop, QObject* parent = nullptr);

    // How long the browser has to come back; five minutes unless a test says otherwise.
    void setTimeout(int milliseconds) { m_timeout.setInterval(milliseconds); }

    // Starts a sign-in, abandoning one still running. Values that cannot be
    // used end it with failed before start returns.
    void start(const OAuthConfig& config);
    // Abandons the running sign-in without a signal.
    void cancel();
    bool isRunning() const { return m_running; }

signals:
    void signedIn(const OAuthTokens& tokens);
    void failed(const QString& message);

private:
    QUrl authorizeUrl() const;
    void exchange(const QString& code);
    void fail(const QString& message);

    NetworkAccess& m_network;
    Desktop& m_desktop;
    RedirectListener m_listener;
    QTimer m_timeout;
    OAuthConfig m_config;
    QString m_verifier;
    QString m_state;
    QUrl m_redirectUri;
    bool m_running = false;
    // Tells the token answer of an abandoned sign-in from the current one.
    quint64 m_attempt = 0;
};
