#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// A small web SMS gateway on 127.0.0.1 that behaves the way the SMS client
// expects a real one to: its SMS page shows a login form until the visitor has
// a session cookie, a login with the right account sets the cookie and
// redirects to the page named by `returl`, and the SMS form's post is recorded.
// It speaks plain HTTP/1.1, one request per connection (Connection: close),
// and keeps every request it received. Knobs let a test make it misbehave.
class StandInGateway : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray target; // as written on the request line
        QByteArray path;   // the target without its query
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;

        // The first header of that name (any letter case), or a null array.
        QByteArray header(const QByteArray& name) const;
        // A field of a form-urlencoded body, decoded ("+" is a blank); a null
        // string when the body has no such field.
        QString field(const QByteArray& name) const;
    };

    static const QByteArray DefaultLoginPage;
    static const QByteArray DefaultSmsPage;
    static constexpr char SessionCookieName[] = "GatewaySession";

    explicit StandInGateway(QObject* parent = nullptr);

    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    QUrl url(const QString& path) const;

    void setCredentials(const QString& userName, const QString& password);
    // The page shown to visitors without a session (and after a failed login).
    void setLoginPage(const QByteArray& page) { m_loginPage = page; }
    // The page shown to logged-in visitors, also after an SMS was accepted.
    void setSmsPage(const QByteArray& page) { m_smsPage = page; }
    // Every answer gets this status; with a body, that body instead of the
    // page it would have shown. 0 switches it off.
    void setStatusOverride(int status, const QByteArray& body = {});
    // Requests are read and recorded but never answered.
    void setSilent(bool silent) { m_silent = silent; }
    // Answers go out with their body one byte at a time, this many
    // milliseconds apart; 0 sends them whole.
    void setDripInterval(int milliseconds) { m_dripMs = milliseconds; }
    // Answers go out without a length and with a body that never ends, until
    // the client hangs up.
    void setEndlessBody(bool endless) { m_endless = endless; }
    // Every request for `path` is redirected to `target`.
    void setRedirect(const QByteArray& path, const QUrl& target, int status = 307);
    // A POST to `path` is taken with 200 and "ok", like a push service does.
    void acceptPosts(const QByteArray& path) { m_acceptedPosts.insert(path); }
    // Logs every visitor out.
    void forgetSessions() { m_sessions.clear(); }

    const QList<Request>& requests() const { return m_requests; }
    // Requests whose sender hung up before it got an answer (see setSilent).
    int abandonedRequests() const { return m_abandoned; }
    // The decoded texts of the SMS accepted so far.
    const QStringList& receivedSms() const { return m_sms; }

signals:
    void requestReceived();
    void smsReceived(const QString& text);

private:
    struct Answer
    {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
    };

    void acceptConnections();
    void readFrom(QTcpSocket* socket);
    Answer answerTo(const Request& request);
    bool hasSession(const Request& request) const;
    void send(QTcpSocket* socket, const Answer& answer);

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_received;
    QList<Request> m_requests;
    QSet<QTcpSocket*> m_held; // read, recorded, not answered
    int m_abandoned = 0;
    QStringList m_sms;
    QSet<QByteArray> m_sessions;
    QString m_userName;
    QString m_password;
    QByteArray m_loginPage = DefaultLoginPage;
    QByteArray m_smsPage = DefaultSmsPage;
    int m_statusOverride = 0;
    QByteArray m_statusBody;
    bool m_silent = false;
    int m_dripMs = 0;
    bool m_endless = false;
    QHash<QByteArray, QPair<QUrl, int>> m_redirects;
    QSet<QByteArray> m_acceptedPosts;
};
