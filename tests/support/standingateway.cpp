#include "standingateway.h"

#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>

namespace {

// Enough for any request the client sends; a runaway peer is cut off.
constexpr qsizetype MaxHeaderBytes = 64 * 1024;
constexpr qsizetype MaxBodyBytes = 1024 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QString decodeFormValue(QByteArray value)
{
    value.replace('+', ' ');
    return QUrl::fromPercentEncoding(value);
}

} // namespace

const QByteArray StandInGateway::DefaultLoginPage =
    "<html><head><title>Gateway login</title></head><body>\r\n"
    "<form action=\"/session.asp\" method=\"post\">\r\n"
    "<input type=\"hidden\" name=\"returl\" value=\"/sms/xsms.asp\">\r\n"
    "User <input type=\"text\" name=\"username\"> Password <input type=\"password\" name=\"password\">\r\n"
    "<input type=\"submit\" value=\"Log in\"></form></body></html>\r\n";

const QByteArray StandInGateway::DefaultSmsPage =
    "<html><head><title>Send an SMS</title></head><body>\r\n"
    "<form action=\"xsms.asp\" method=\"post\">\r\n"
    "To <input type=\"text\" name=\"smsToNumbers\"> <textarea name=\"smsMessage\"></textarea>\r\n"
    "<input type=\"submit\" value=\"Send\"></form></body></html>\r\n";

QByteArray StandInGateway::Request::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QString StandInGateway::Request::field(const QByteArray& name) const
{
    for (const QByteArray& pair : body.split('&')) {
        const qsizetype equals = pair.indexOf('=');
        const QByteArray key = equals < 0 ? pair : pair.left(equals);
        if (decodeFormValue(key) == QString::fromUtf8(name))
            return equals < 0 ? QString(QLatin1String("")) : decodeFormValue(pair.mid(equals + 1));
    }
    return {};
}

StandInGateway::StandInGateway(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &StandInGateway::acceptConnections);
}

bool StandInGateway::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

QUrl StandInGateway::url(const QString& path) const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host());
    url.setPort(port());
    url.setPath(path);
    return url;
}

void StandInGateway::setCredentials(const QString& userName, const QString& password)
{
    m_userName = userName;
    m_password = password;
}

void StandInGateway::setStatusOverride(int status, const QByteArray& body)
{
    m_statusOverride = status;
    m_statusBody = body;
}

void StandInGateway::setRedirect(const QByteArray& path, const QUrl& target, int status)
{
    m_redirects.insert(path, {target, status});
}

void StandInGateway::acceptConnections()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        m_received.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_received.remove(socket);
            if (m_held.remove(socket))
                ++m_abandoned;
            socket->deleteLater();
        });
    }
}

void StandInGateway::readFrom(QTcpSocket* socket)
{
    if (!m_received.contains(socket))
        return; // its one request is already in
    QByteArray& buffer = m_received[socket];
    buffer += socket->readAll();

    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        if (buffer.size() > MaxHeaderBytes)
            socket->abort();
        return;
    }
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3) {
        socket->abort();
        return;
    }
    Request request;
    request.method = requestLine.at(0);
    request.target = requestLine.at(1);
    request.path = request.target.left(request.target.indexOf('?') < 0 ? request.target.size()
                                                                       : request.target.indexOf('?'));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.append({lines.at(i).left(colon).trimmed(), lines.at(i).mid(colon + 1).trimmed()});
    }
    bool lengthOk = true;
    const QByteArray lengthText = request.header("Content-Length");
    const qsizetype length = lengthText.isNull() ? 0 : lengthText.toLongLong(&lengthOk);
    if (!lengthOk || length < 0 || length > MaxBodyBytes) {
        socket->abort();
        return;
    }
    if (buffer.size() < headerEnd + 4 + length)
        return; // the body is still on its way
    request.body = buffer.mid(headerEnd + 4, length);
    m_received.remove(socket);

    m_requests.append(request);
    const Answer answer = answerTo(request);
    emit requestReceived();
    if (m_silent)
        m_held.insert(socket);
    else
        send(socket, answer);
}

bool StandInGateway::hasSession(const Request& request) const
{
    for (const QByteArray& cookie : request.header("Cookie").split(';')) {
        const QByteArray pair = cookie.trimmed();
        if (pair.startsWith(QByteArray(SessionCookieName) + '=') &&
            m_sessions.contains(pair.mid(qsizetype(sizeof SessionCookieName))))
            return true;
    }
    return false;
}

StandInGateway::Answer StandInGateway::answerTo(const Request& request)
{
    Answer answer;
    const auto redirect = m_redirects.constFind(request.path);
    if (redirect != m_redirects.constEnd()) {
        answer.status = redirect->second;
        answer.headers.append({"Location", redirect->first.toEncoded()});
        return answer;
    }

    const bool loggedIn = hasSession(request);
    if (request.path == "/sms/xsms.asp" && request.method == "GET") {
        answer.body = loggedIn ? m_smsPage : m_loginPage;
    } else if (request.path == "/session.asp" && request.method == "POST") {
        if (request.field("username") == m_userName && request.field("password") == m_password) {
            const QByteArray session = QByteArray::number(QRandomGenerator::global()->generate64(), 16);
            m_sessions.insert(session);
            const QString returl = request.field("returl");
            answer.status = 302;
            answer.headers.append({"Set-Cookie", QByteArray(SessionCookieName) + '=' + session + "; Path=/"});
            answer.headers.append({"Location", returl.startsWith(u'/') ? returl.toUtf8() : "/sms/xsms.asp"});
        } else {
            answer.body = m_loginPage;
        }
    } else if (request.path == "/sms/xsms.asp" && request.method == "POST") {
        if (loggedIn) {
            const QString text = request.field("smsMessage");
            m_sms.append(text);
            emit smsReceived(text);
            answer.body = m_smsPage;
        } else {
            answer.body = m_loginPage;
        }
    } else if (request.method == "POST" && m_acceptedPosts.contains(request.path)) {
        answer.body = "ok";
    } else {
        answer.status = 404;
        answer.body = "<html><body>Not found</body></html>\r\n";
    }

    if (m_statusOverride != 0) {
        answer.status = m_statusOverride;
        if (!m_statusBody.isEmpty())
            answer.body = m_statusBody;
    }
    return answer;
}

void StandInGateway::send(QTcpSocket* socket, const Answer& answer)
{
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonPhrase(answer.status) + "\r\n";
    head += "Content-Type: text/html\r\n";
    if (!m_endless)
        head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
    head += "Connection: close\r\n";
    for (const auto& [name, value] : answer.headers)
        head += name + ": " + value + "\r\n";
    if (m_endless) {
        socket->write(head + "\r\n");
        auto* flood = new QTimer(socket);
        connect(flood, &QTimer::timeout, socket, [socket] { socket->write(QByteArray(16 * 1024, 'x')); });
        flood->start(1);
        return;
    }
    if (m_dripMs <= 0 || answer.body.isEmpty()) {
        socket->write(head + "\r\n" + answer.body);
        socket->disconnectFromHost();
        return;
    }
    socket->write(head + "\r\n");
    auto* drip = new QTimer(socket);
    connect(drip, &QTimer::timeout, socket,
            [socket, drip, body = answer.body, sent = qsizetype(0)]() mutable {
                socket->write(body.mid(sent++, 1));
                if (sent == body.size()) {
                    drip->stop();
                    socket->disconnectFromHost();
                }
            });
    drip->start(m_dripMs);
}
