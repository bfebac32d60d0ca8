#include "redirectlistener.h"

#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

namespace {

const QByteArray SignedInPage = "PostOwl is signed in. You can close this page.";
const QByteArray RefusedPage = "PostOwl is not signed in. You can close this page.";
const QByteArray NotThisPage = "This is not the sign-in PostOwl is waiting for.";

QString queryValue(const QUrlQuery& query, const QString& name)
{
    return query.queryItemValue(name, QUrl::FullyDecoded);
}

} // namespace

RedirectListener::RedirectListener(QObject* parent) : QObject(parent)
{
    m_server.setMaxPendingConnections(MaxConnections);
    connect(&m_server, &QTcpServer::newConnection, this, &RedirectListener::acceptConnections);
}

bool RedirectListener::listen(const QString& state)
{
    close();
    m_state = state;
    // Loopback only: nobody else on the network may hand us a code.
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void RedirectListener::close()
{
    m_server.close();
    const QList<QTcpSocket*> sockets = m_received.keys();
    m_received.clear();
    for (QTcpSocket* socket : sockets)
        socket->abort();
}

QUrl RedirectListener::redirectUri() const
{
    if (!m_server.isListening())
        return {};
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort()));
}

void RedirectListener::acceptConnections()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (m_received.size() >= MaxConnections) {
            socket->abort();
            continue;
        }
        m_received.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { m_received.remove(socket); });
        QTimer::singleShot(ConnectionTimeoutMs, socket, [socket] { socket->abort(); });
    }
}

void RedirectListener::readFrom(QTcpSocket* socket)
{
    if (!m_received.contains(socket))
        return;
    QByteArray& buffer = m_received[socket];
    buffer += socket->read(MaxRequestBytes + 1 - buffer.size());
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        if (buffer.size() > MaxRequestBytes) {
            m_received.remove(socket);
            socket->abort();
        }
        return;
    }
    const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
    m_received.remove(socket);
    if (requestLine.size() != 3 || requestLine.at(0) != "GET" || !requestLine.at(1).startsWith('/')) {
        answer(socket, 400, NotThisPage);
        return;
    }
    const QByteArray target = requestLine.at(1);
    const qsizetype question = target.indexOf('?');
    // The query is form-encoded: a "+" there is a blank, a "%2B" a plus.
    QByteArray rawQuery = question < 0 ? QByteArray() : target.mid(question + 1);
    rawQuery.replace('+', "%20");
    const QUrlQuery query(QString::fromLatin1(rawQuery));
    const QStringList states = query.allQueryItemValues(QStringLiteral("state"), QUrl::FullyDecoded);
    const QString code = queryValue(query, QStringLiteral("code"));
    const QString error = queryValue(query, QStringLiteral("error"));
    if (states != QStringList{m_state} || (code.isEmpty() && error.isEmpty())) {
        answer(socket, 400, NotThisPage);
        return;
    }
    answer(socket, 200, error.isEmpty() ? SignedInPage : RefusedPage);
    close();
    if (error.isEmpty())
        emit codeReceived(code);
    else
        emit errorReceived(error, queryValue(query, QStringLiteral("error_description")));
}

void RedirectListener::answer(QTcpSocket* socket, int status, const QByteArray& page)
{
    const QByteArray body = page + "\r\n";
    socket->write("HTTP/1.1 " + QByteArray(status == 200 ? "200 OK" : "400 Bad Request") +
                  "\r\nContent-Type: text/plain; charset=utf-8\r\nCache-Control: no-store\r\n"
                  "Content-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}
