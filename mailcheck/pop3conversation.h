#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

struct GeneralStuff;

// One POP3 conversation: greeting, USER, PASS, STAT, and the count out of the
// STAT reply. It never sends QUIT; it closes the connection itself once the
// count is known. Replies are read as whole lines.
class Pop3Conversation : public QObject
{
    Q_OBJECT

public:
    enum class Failure { InvalidUser, CannotLogon, SocketError };
    Q_ENUM(Failure)

    // The longest reply line a server may send, line end included (RFC 2449).
    static constexpr int MaxReplyLength = 512;
    static constexpr int DefaultStallTimeoutMs = 30000;

    explicit Pop3Conversation(GeneralStuff& run, QObject* parent = nullptr);

    void setRemote(const QString& host, quint16 port);
    void connectToServer();
    void close();

    int Pop3State() const { return m_pop3State; }
    void setStallTimeout(int milliseconds) { m_stall.setInterval(milliseconds); }

    // The message count between the first two blanks of a STAT reply; 0 when
    // there is none, it is negative or it does not fit an int.
    static int countFromStatReply(const QByteArray& reply);

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
    void handleReply(const QByteArray& line);
    bool send(const QByteArray& command, const QString& argument);
    void fail(Failure failure, const QString& description);

    GeneralStuff& m_run;
    QTcpSocket Winsock1;
    QTimer m_stall;
    QString m_host;
    quint16 m_port = 110;
    QByteArray m_received;
    int m_pop3State = 0;
    bool m_active = false; // between connect and the end of the conversation
};
