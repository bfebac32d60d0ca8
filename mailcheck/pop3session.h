#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct GeneralStuff;

// The POP3 side of a mail check, without the socket: it takes the bytes the
// server sent and says what to send back and when the conversation is over.
// Replies are read as whole lines (CR LF, or a bare LF).
//
// Pop3State: 1 waiting for the greeting, 2 USER sent, 3 PASS sent, 4 STAT
// sent; with STLS also 5 STLS sent and 6 the TLS handshake under way.
class Pop3Session
{
public:
    // The longest reply line a server may send, line end included (RFC 2449).
    static constexpr int MaxReplyLength = 512;

    enum class End { None, Counted, InvalidUser, CannotLogon, LineTooLong, StlsRefused };

    // What the received bytes lead to: a command to send, the TLS handshake to
    // start, the end of the conversation, or none of these.
    struct Step
    {
        QByteArray send;
        End end = End::None;
        int count = 0;
        bool startTls = false;
        // The reply lines taken from the bytes, for whoever watches the dialogue.
        QList<QByteArray> replies;
    };

    explicit Pop3Session(GeneralStuff& run);

    // The connection is up: wait for the greeting. With startTls the greeting
    // is answered with STLS, and the login waits for tlsStarted().
    void connected(bool startTls = false);
    Step received(const QByteArray& data);
    // The handshake that STLS asked for has completed: log in inside it.
    Step tlsStarted();

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
    bool m_startTls = false;
};
