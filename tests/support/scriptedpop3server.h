#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

class QTcpSocket;

// A POP3 server on 127.0.0.1 that answers from a script, for conversations
// that a real server would never have: split replies, stalls, hang-ups,
// garbage. Unscripted commands get "+OK". With a certificate and key it
// speaks TLS from the first byte, or after a positive answer to STLS.
class ScriptedPop3Server : public QObject
{
    Q_OBJECT

public:
    enum class Action { Reply, Stall, Close, Reset };
    enum class Tls { None, Implicit, StartTls };

    // What the server does at one step: send these chunks, pausing between
    // them, or stall, close or reset the connection.
    struct Response
    {
        Action action = Action::Reply;
        QList<QByteArray> chunks;
        int pauseMs = 0;

        static Response reply(const QByteArray& text) { return {Action::Reply, {text}, 0}; }
        static Response split(QList<QByteArray> chunks, int pauseMs = 20)
        {
            return {Action::Reply, std::move(chunks), pauseMs};
        }
        static Response byteByByte(const QByteArray& text, int pauseMs = 2);
        static Response stall() { return {Action::Stall, {}, 0}; }
        static Response close() { return {Action::Close, {}, 0}; }
        static Response reset() { return {Action::Reset, {}, 0}; }
    };

    explicit ScriptedPop3Server(QObject* parent = nullptr,
                                const QHostAddress& address = QHostAddress(QHostAddress::LocalHost));

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }

    Tls tls = Tls::None;
    QSslCertificate certificate;
    QSslKey key;

    Response greeting = Response::reply("+OK PostOwl test server ready\r\n");
    // By command word: "USER", "PASS", "STAT", "STLS".
    QHash<QByteArray, Response> replies;

    // Every line the clients sent, line ends included, in order.
    QList<QByteArray> receivedLines;
    QByteArray receivedBytes;
    int connections = 0;
    int disconnections = 0;

signals:
    void lineReceived(const QByteArray& line);

private:
    // Hands out QSslSockets that speak plain TCP until told otherwise.
    class Listener : public QTcpServer
    {
    protected:
        void incomingConnection(qintptr descriptor) override;
    };

    void acceptConnection();
    void startTls(QTcpSocket* socket);
    void readLines(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const Response& response);

    Listener m_server;
};
