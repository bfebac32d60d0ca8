#include "scriptedpop3server.h"

#include <QPointer>
#include <QSslSocket>
#include <QTimer>

ScriptedPop3Server::Response ScriptedPop3Server::Response::byteByByte(const QByteArray& text, int pauseMs)
{
    Response response{Action::Reply, {}, pauseMs};
    for (char byte : text)
        response.chunks.append(QByteArray(1, byte));
    return response;
}

void ScriptedPop3Server::Listener::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (socket->setSocketDescriptor(descriptor))
        addPendingConnection(socket);
    else
        delete socket;
}

ScriptedPop3Server::ScriptedPop3Server(QObject* parent, const QHostAddress& address) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedPop3Server::acceptConnection);
    m_server.listen(address, 0);
}

void ScriptedPop3Server::acceptConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        ++connections;
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readLines(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { ++disconnections; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (tls == Tls::Implicit) {
            // The greeting waits for the handshake.
            connect(static_cast<QSslSocket*>(socket), &QSslSocket::encrypted, this,
                    [this, socket] { respond(socket, greeting); });
            startTls(socket);
        } else {
            respond(socket, greeting);
        }
    }
}

void ScriptedPop3Server::startTls(QTcpSocket* socket)
{
    auto* ssl = static_cast<QSslSocket*>(socket);
    ssl->setLocalCertificate(certificate);
    ssl->setPrivateKey(key);
    ssl->startServerEncryption();
}

void ScriptedPop3Server::readLines(QTcpSocket* socket)
{
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine();
        receivedBytes += line;
        receivedLines.append(line);
        emit lineReceived(line);
        const QByteArray command = line.trimmed().split(' ').value(0).toUpper();
        const Response response = replies.value(command, Response::reply("+OK\r\n"));
        respond(socket, response);
        if (command == "STLS" && tls == Tls::StartTls && response.action == Action::Reply &&
            response.chunks.value(0).startsWith('+')) {
            startTls(socket);
            return;
        }
    }
}

void ScriptedPop3Server::respond(QTcpSocket* socket, const Response& response)
{
    switch (response.action) {
    case Action::Stall:
        return;
    case Action::Close:
        socket->disconnectFromHost();
        return;
    case Action::Reset:
        socket->abort();
        return;
    case Action::Reply:
        break;
    }
    // Chunks go out one by one, with a pause between them, so the client sees
    // them in separate reads.
    QPointer<QTcpSocket> target(socket);
    int delay = 0;
    for (const QByteArray& chunk : response.chunks) {
        if (delay == 0) {
            socket->write(chunk);
            socket->flush();
        } else {
            QTimer::singleShot(delay, this, [target, chunk] {
                if (target) {
                    target->write(chunk);
                    target->flush();
                }
            });
        }
        delay += response.pauseMs;
    }
}
