#pragma once

#include <QNetworkAccessManager>

// The run's one HTTP client, shared by the SMS gateway client and the push to
// a phone, with the rules both live by set here and nowhere else: redirections
// are followed only within the origin that was asked (Qt would otherwise follow
// a 307 to any host and re-send the body, a password or the mail news, there),
// a transfer that stalls ends after a minute, a request that drips in byte by
// byte (which keeps restarting the stall time-out) ends after a minute as a
// whole, and HTTPS certificates are verified (Qt's default, never switched
// off). Its cookie jar lives as long as the run, so a gateway session from one
// conversation serves the next.
class NetworkAccess : public QNetworkAccessManager
{
    Q_OBJECT

public:
    static constexpr int DefaultTransferTimeoutMs = 60000;
    static constexpr int DefaultRequestDeadlineMs = 60000;

    explicit NetworkAccess(QObject* parent = nullptr);

    // The longest a request may take from start to end; it is then aborted,
    // which ends it like a time-out.
    void setRequestDeadline(int milliseconds) { m_requestDeadlineMs = milliseconds; }

protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request,
                                 QIODevice* outgoingData) override;

private:
    int m_requestDeadlineMs = DefaultRequestDeadlineMs;
};
