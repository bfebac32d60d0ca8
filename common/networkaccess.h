#pragma once

#include <QObject>

#include <memory>

class QByteArray;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// The run's one HTTP client, shared by the SMS gateway client, the push to a
// phone and the sign-in, with the rules they all live by set here and nowhere
// else: redirections are followed only within the origin that was asked (Qt
// would otherwise follow a 307 to any host and re-send the body, a password or
// the mail news, there), a transfer that stalls ends after a minute, a request
// that drips in byte by byte (which keeps restarting the stall time-out) ends
// after a minute as a whole, and HTTPS certificates are verified (Qt's
// default, never switched off). Qt's client is made at the first request, so
// a profile that sends nothing over HTTP never pays for it; its cookie jar
// then lives as long as the run, so a gateway session from one conversation
// serves the next.
class NetworkAccess : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTransferTimeoutMs = 60000;
    static constexpr int DefaultRequestDeadlineMs = 60000;

    explicit NetworkAccess(QObject* parent = nullptr);
    ~NetworkAccess() override;

    QNetworkReply* get(const QNetworkRequest& request);
    QNetworkReply* post(const QNetworkRequest& request, const QByteArray& body);

    // The longest a request may take from start to end; it is then aborted,
    // which ends it like a time-out.
    void setRequestDeadline(int milliseconds) { m_requestDeadlineMs = milliseconds; }

private:
    QNetworkAccessManager& manager();
    QNetworkReply* withDeadline(QNetworkReply* reply) const;

    std::unique_ptr<QNetworkAccessManager> m_manager;
    int m_requestDeadlineMs = DefaultRequestDeadlineMs;
};
