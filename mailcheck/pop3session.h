#pragma once

#include <QByteArray>
#include <QString>

struct GeneralStuff;

// The POP3 side of a mail check, without the socket: it takes the bytes the
// server sent and says what to send back and when the conversation is over.
// Replies are read as whole lines (CR LF, or a bare LF).
class Pop3Session
{
public:
    // The longest reply line a server may send, line end included (RFC 2449).
    static constexpr int MaxReplyLength = 512;

    enum class End { None, Counted, InvalidUser, CannotLogon, LineTooLong };

    // What the received bytes lead to: a command to send, the end of the
    // conversation, or neither.
    struct Step
    {
        QByteArray send;
        End end = End::None;
        int count = 0;
    };

    explicit Pop3Session(GeneralStuff& run);

    // The connection is up: wait for the greeting.
    void connected();
    Step received(const QByteArray& data);

    int Pop3State() const { return m_pop3State; }
    bool isOver() const { return m_over; }

    // The message count between the first two blanks of a STAT reply; 0 when
    // there is none, it is negative or it does not fit an int.
    static int countFromStatReply(const QByteArray& reply);

private:
    void handleReply(const QByteArray& line, Step& step);
    bool command(const QByteArray& word, const QString& argument, Step& step) const;
    void end(End how, Step& step);

    GeneralStuff& m_run;
    QByteArray m_received;
    int m_pop3State = 0;
    bool m_over = true;
};
