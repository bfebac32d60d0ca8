#include "oauthflow.h"

#include "desktop.h"
#include "formbody.h"
#include "pkce.h"
#include "tokenendpoint.h"

#include <QCoreApplication>

OAuthFlow::OAuthFlow(NetworkAccess& network, Desktop& desktop, QObject* parent)
    : QObject(parent), m_network(network), m_desktop(desktop)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(DefaultTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        fail(QCoreApplication::translate("OAuthFlow", "The sign-in page did not come back in time."));
    });
    connect(&m_listener, &RedirectListener::codeReceived, this, &OAuthFlow::exchange);
    connect(&m_listener, &RedirectListener::errorReceived, this,
            [this](const QString& error, const QString& description) {
                fail(QCoreApplication::translate("OAuthFlow", "The provider did not sign PostOwl in (%1).")
                         .arg(TokenEndpoint::describeError(error, description)));
            });
}

void OAuthFlow::start(const OAuthConfig& config)
{
    cancel();
    m_running = true;
    m_config = config;
    if (const QString problem = config.problem(); !problem.isEmpty()) {
        fail(problem);
        return;
    }
    m_verifier = Pkce::newVerifier();
    m_state = Pkce::newState();
    if (!m_listener.listen(m_state)) {
        fail(QCoreApplication::translate("OAuthFlow", "PostOwl cannot wait for the sign-in page: %1")
                 .arg(QCoreApplication::translate("OAuthFlow", "no free port on 127.0.0.1.")));
        return;
    }
    m_redirectUri = m_listener.redirectUri();
    m_timeout.start();
    m_desktop.openUrl(authorizeUrl());
}

void OAuthFlow::cancel()
{
    m_running = false;
    ++m_attempt;
    m_timeout.stop();
    m_listener.close();
}

QUrl OAuthFlow::authorizeUrl() const
{
    QByteArray address = m_config.authorizeUrl.adjusted(QUrl::RemoveFragment).toEncoded();
    address += m_config.authorizeUrl.hasQuery() ? '&' : '?';
    address += formBody({{QStringLiteral("response_type"), QStringLiteral("code")},
                         {QStringLiteral("client_id"), m_config.clientId},
                         {QStringLiteral("redirect_uri"), m_redirectUri.toString()},
                         {QStringLiteral("scope"), m_config.scope},
                         {QStringLiteral("state"), m_state},
                         {QStringLiteral("code_challenge"), Pkce::challenge(m_verifier)},
                         {QStringLiteral("code_challenge_method"), QStringLiteral("S256")}});
    return QUrl::fromEncoded(address, QUrl::StrictMode);
}

void OAuthFlow::exchange(const QString& code)
{
    m_timeout.stop();
    const quint64 attempt = m_attempt;
    const FormFields grant = {{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                              {QStringLiteral("code"), code},
                              {QStringLiteral("redirect_uri"), m_redirectUri.toString()},
                              {QStringLiteral("code_verifier"), m_verifier}};
    TokenEndpoint::post(m_network, m_config, grant, this,
                        [this, attempt](const TokenEndpoint::Answer& answer) {
                            if (attempt != m_attempt)
                                return;
                            if (answer.outcome != TokenEndpoint::Outcome::Granted) {
                                fail(answer.message);
                                return;
                            }
                            m_running = false;
                            m_verifier.clear();
                            emit signedIn(answer.tokens);
                        });
}

void OAuthFlow::fail(const QString& message)
{
    cancel();
    m_verifier.clear();
    emit failed(message);
}
