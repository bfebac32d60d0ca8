#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class NetworkAccess;
struct GeneralStuff;

// Sends the new-mail SMS through the web SMS gateway by filling in its forms:
// a GET of the SMS page, a login post when that page turns out to be the login
// form, and the post of the SMS form. Which request comes next is decided by
// two marker texts in each answer. Whatever happens, nobody is told: an SMS
// that does not go out must never get in the way of the mail check.
class SmsClient : public QObject
{
    Q_OBJECT

public:
    // Only this much of an answer is ever looked at; the rest is dropped as it
    // arrives, so a huge page costs no memory.
    static constexpr qsizetype ResponseReadLimit = 32768;

    static constexpr char SmsPagePath[] = "/sms/xsms.asp";
    static constexpr char LoginPath[] = "/session.asp";
    // Searched in a lower-cased copy of the answer, so the page's letter case
    // does not matter, but its quotes, blanks and attribute order do.
    static constexpr char LoginFormMarker[] = "name=\"returl\" value=\"/sms/xsms.asp\"";
    static constexpr char SmsFormMarker[] = "<form action=\"xsms.asp\"";

    enum class NextRequest { None, Login, Sms };

    // Where the conversation stands. It stays where the last conversation stopped.
    enum class State {
        NoConversation = 0, // before the first conversation of the run
        PageRequested = 1,  // the SMS page is asked for
        LoginPosted = 2,
        SmsPosted = 3,
    };
    // What an answer asks for next, given the state the conversation is in:
    // the login while the SMS page was asked for and the login form came
    // back, the SMS while it is not posted yet and the SMS form came back.
    // Only the first ResponseReadLimit bytes of the answer count.
    static NextRequest nextRequest(State smsState, const QByteArray& responseText);

    // The conversation runs on the run's one HTTP client, whose cookie jar
    // keeps the gateway session from one conversation to the next.
    SmsClient(const GeneralStuff& run, NetworkAccess& network, QObject* parent = nullptr);
    ~SmsClient() override;

    // Starts a conversation with the GET of the SMS page and returns at once.
    void SendSMSNotify();

    State SmsState() const { return m_smsState; }

    // True while a request of the conversation is under way.
    bool isBusy() const { return !m_current.isNull(); }

    // A time-out for this client's requests other than the HTTP client's own.
    void setTransferTimeout(int milliseconds) { m_transferTimeoutMs = milliseconds; }

    // Talk to this gateway instead of the program's own, for trials; an
    // empty host goes back to the program's own.
    void setGateway(const QString& host, quint16 port);
    // The gateway's host as the user should see it, e.g. in the Account dialog.
    QString gatewayHost() const { return m_gatewayHost; }

signals:
    // A request of the conversation has ended, answered or failed, and the
    // next one, if the answer asked for one, has been started. A request that
    // a new SendSMSNotify cancelled does not count.
    void requestEnded();

private:
    void startRequest(const QString& path, const QByteArray& formBody);
    void collectResponse(QNetworkReply* reply);
    void Inet1_StateChanged(QNetworkReply* reply);
    QUrl pageUrl(const QString& path) const;
    QByteArray loginBody() const;
    QByteArray smsBody() const;

    const GeneralStuff& m_run;
    NetworkAccess& Inet1;
    QPointer<QNetworkReply> m_current;
    QByteArray m_responseText; // the first ResponseReadLimit bytes of m_current's answer
    QString m_gatewayHost;
    quint16 m_gatewayPort = 0;
    State m_smsState = State::NoConversation;
    int m_transferTimeoutMs = 0; // 0: the HTTP client's own
};
