#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A POP3 server on 127.0.0.1 that answers from a script, for conversations
// that a real server would never have: split replies, stalls, hang-ups,
// garbage. Unscripted commands get "+OK".
class ScriptedPop3Server : public QObject
{
    Q_OBJECT

public:
    enum class Action { Reply, Stall, Close, Reset };

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

    explicit ScriptedPop3Server(QObject* parent = nullptr);

    quint16 port() const { return m_server.serverPort(); }

    Response greeting = Response::reply("+OK PostOwl test server ready\r\n");
    // By command word: "USER", "PASS", "STAT".
    QHash<QByteArray, Response> replies;

    // Every line the clients sent, line ends included, in order.
    QList<QByteArray> receivedLines;
    QByteArray receivedBytes;
    int connections = 0;

signals:
    void lineReceived(const QByteArray& line);

private:
    void acceptConnection();
    void readLines(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const Response& response);

    QTcpServer m_server;
};
