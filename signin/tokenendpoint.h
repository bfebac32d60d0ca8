#pragma once

#include "formbody.h"
#include "oauthtokens.h"

#include <functional>

class NetworkAccess;
class QObject;
struct OAuthConfig;

// One form POST to the provider's token endpoint and its JSON answer read as
// hostile: bounded in size, the token checked before it goes anywhere. An
// `error` answer becomes a message for the user, never only a log line.
class TokenEndpoint
{
public:
    enum class Outcome { Granted, SignInAgain, Failed };
    struct Answer
    {
        Outcome outcome = Outcome::Failed;
        OAuthTokens tokens;
        QString message; // for the user, when not granted
    };
    using Done = std::function<void(const Answer&)>;

    static constexpr qint64 MaxAnswerBytes = 64 * 1024;
    // RFC 6749 lets a server leave out expires_in; an hour is what they grant.
    static constexpr qint64 AssumedLifetimeSeconds = 3600;

    // Posts `grant` plus client_id (and client_secret when there is one) to
    // the config's token URL; `done` runs once, unless `context` is gone.
    static void post(NetworkAccess& network, const OAuthConfig& config, FormFields grant, QObject* context,
                     Done done);

    // An `error` code and its description as one line of plain text; whatever
    // the server or the browser sent is stripped of control characters and cut short.
    static QString describeError(const QString& error, const QString& description);

    // Reads a token endpoint's answer.
    static Answer readAnswer(int httpStatus, const QByteArray& body);
};
