#pragma once

#include "pop3session.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

struct GeneralStuff;

// One POP3 conversation over the socket Winsock1: greeting, USER, PASS, STAT.
// It never sends QUIT; it closes the connection itself once the count is
// known. A server that stalls or hangs up ends it like a socket error.
class Pop3Conversation : public QObject
{
    Q_OBJECT

public:
    enum class Failure { InvalidUser, CannotLogon, SocketError };
    Q_ENUM(Failure)

    static constexpr int DefaultStallTimeoutMs = 30000;

    explicit Pop3Conversation(GeneralStuff& run, QObject* parent = nullptr);

    void setRemote(const QString& host, quint16 port);
    void connectToServer();
    void close();

    int Pop3State() const { return m_session.Pop3State(); }
    void setStallTimeout(int milliseconds) { m_stall.setInterval(milliseconds); }

signals:
    // The STAT reply is in and the connection is closed.
    void counted(int count);
    // The conversation is over; the connection is left for the caller to
    // close once it has told the user (a socket error shows a message box first).
    void failed(Pop3Conversation::Failure failure, const QString& description);

private:
    void Winsock1_Connect();
    void Winsock1_DataArrival();
    void Winsock1_Error();
    void fail(Failure failure, const QString& description);

    Pop3Session m_session;
    QTcpSocket Winsock1;
    QTimer m_stall;
    QString m_host;
    quint16 m_port = 110;
    bool m_active = false; // from connect until the conversation has ended
};
