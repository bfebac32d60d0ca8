#include "smsclient.h"

#include "generalstuff.h"
#include "networkaccess.h"
#include "smsgateway.h"

#include <QNetworkRequest>

#include <utility>

namespace {

// One value of an application/x-www-form-urlencoded body. Everything but
// letters, digits and "-._~" is percent-encoded (UTF-8), so a "&", "+", "=" or
// blank in a password or profile name cannot split or change a field. A blank
// becomes "%20", which the gateway decodes to a blank just like "+".
QByteArray formValue(const QString& value)
{
    return QUrl::toPercentEncoding(value);
}

// Whether the transfer brought back a page. Error pages (404, 500, a 401 that
// shows the login form) are read like any other and simply carry no marker;
// failed transfers, time-outs and redirections we refused to follow have no
// page to read.
bool pageArrived(const QNetworkReply& reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return false;
    const int code = status.toInt();
    if (code >= 300 && code < 400)
        return false;
    const QNetworkReply::NetworkError error = reply.error();
    // Errors from ContentAccessDenied on are Qt's names for HTTP error statuses;
    // the ones below it are transport failures, and ProtocolFailure a broken answer.
    return error == QNetworkReply::NoError ||
           (error >= QNetworkReply::ContentAccessDenied && error != QNetworkReply::ContentReSendError &&
            error != QNetworkReply::ProtocolFailure);
}

} // namespace

// The HTTP client keeps the gateway's redirections within the gateway, so the
// login body with its password never goes to another host.
SmsClient::SmsClient(const GeneralStuff& run, NetworkAccess& network, QObject* parent)
    : QObject(parent), m_run(run), Inet1(network)
{
    setGateway(QString(), 0);
}

SmsClient::~SmsClient()
{
    if (QNetworkReply* reply = std::exchange(m_current, nullptr))
        reply->abort();
}

void SmsClient::setGateway(const QString& host, quint16 port)
{
    m_gatewayHost = host.isEmpty() ? QString::fromLatin1(SmsGatewayHost) : host;
    m_gatewayPort = host.isEmpty() ? SmsGatewayPort : port;
}

// Only one request is ever under way. A call while an earlier conversation
// still waits for an answer (a slow gateway, the Test button pressed during a
// conversation) cancels that conversation and starts afresh: the new call
// wants an SMS with today's count, and letting the old one run on as well
// could post two SMS. The cancelled request's end is ignored.
void SmsClient::SendSMSNotify()
{
    if (QNetworkReply* earlier = std::exchange(m_current, nullptr))
        earlier->abort();
    startRequest(QString::fromLatin1(SmsPagePath), {});
    m_smsState = State::PageRequested;
}

QUrl SmsClient::pageUrl(const QString& path) const
{
    return smsGatewayUrl(m_gatewayHost, m_gatewayPort, path);
}

// A request with a body is a form post; without one, a GET.
void SmsClient::startRequest(const QString& path, const QByteArray& formBody)
{
    QNetworkRequest request(pageUrl(path));
    if (m_transferTimeoutMs > 0)
        request.setTransferTimeout(m_transferTimeoutMs);
    QNetworkReply* reply = nullptr;
    if (formBody.isEmpty()) {
        reply = Inet1.get(request);
    } else {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/x-www-form-urlencoded"));
        reply = Inet1.post(request, formBody);
    }
    m_current = reply;
    m_responseText.clear();
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { collectResponse(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { Inet1_StateChanged(reply); });
}

void SmsClient::collectResponse(QNetworkReply* reply)
{
    if (reply != m_current || !reply->isOpen())
        return; // cancelled, or aborted by the time-out
    const qsizetype room = ResponseReadLimit - m_responseText.size();
    if (room > 0)
        m_responseText += reply->read(room);
    reply->skip(reply->bytesAvailable());
}

// Both markers may be in one page in state 1 (a gateway that puts its login
// box beside the SMS form); then only the login is posted, and the SMS follows
// from the login's answer, which is the SMS page once the login succeeded.
// That keeps one request at a time and posts the SMS only within a logged-in
// session.
SmsClient::NextRequest SmsClient::nextRequest(State smsState, const QByteArray& responseText)
{
    const QByteArray page = responseText.left(ResponseReadLimit).toLower();
    if (smsState == State::PageRequested && page.contains(LoginFormMarker))
        return NextRequest::Login;
    if (smsState != State::SmsPosted && page.contains(SmsFormMarker))
        return NextRequest::Sms;
    return NextRequest::None;
}

// A request has ended: its answer decides the next one.
void SmsClient::Inet1_StateChanged(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply != m_current)
        return; // cancelled by a newer SendSMSNotify
    collectResponse(reply);
    m_current = nullptr;
    const QByteArray page = std::exchange(m_responseText, {});

    switch (pageArrived(*reply) ? nextRequest(m_smsState, page) : NextRequest::None) {
    case NextRequest::Login:
        m_smsState = State::LoginPosted;
        startRequest(QString::fromLatin1(LoginPath), loginBody());
        break;
    case NextRequest::Sms:
        m_smsState = State::SmsPosted;
        startRequest(QString::fromLatin1(SmsPagePath), smsBody());
        break;
    case NextRequest::None:
        break;
    }
    emit requestEnded();
}

// The fixed parts are written as the gateway's form expects them; only the
// values that come from the user are encoded. Composed when sent, so a changed
// account is used at once.
QByteArray SmsClient::loginBody() const
{
    const ProfileSettings& settings = m_run.ProfileSettings;
    return QByteArrayLiteral("returl=/sms/xsms.asp&username=") + formValue(settings.SMSUserID) +
           QByteArrayLiteral("&password=") + formValue(settings.SMSPassword);
}

// The count is read now, not when the conversation started.
QByteArray SmsClient::smsBody() const
{
    const ProfileSettings& settings = m_run.ProfileSettings;
    return QByteArrayLiteral("smsToNumbers=") + formValue(settings.SMSMobile) +
           QByteArrayLiteral("&smsMessage=You+have+") + QByteArray::number(m_run.LastMessageCount) +
           QByteArrayLiteral("+item(s)+in+your+mailbox+for+profile+") + formValue(settings.ProfileName) +
           QByteArrayLiteral(".+Bye+PostOwl&smsSig=1&smsSigDyna=PostOwl&lenLSig=8&lenSysSig=11");
}
