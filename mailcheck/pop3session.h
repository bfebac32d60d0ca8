#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The POP3 side of a mail check, without the socket: it is given the user
// name and password, takes the bytes the server sent and says what to send
// back and when the conversation is over; the greeting and the count come
// out in its result. Replies are read as whole lines (CR LF, or a bare LF).
class Pop3Session
{
public:
    // Pop3State: the step of the conversation. It is not reset when a
    // conversation ends: it keeps the step at which the conversation stopped.
    enum class State {
        NotConnected = 0,
        AwaitingGreeting = 1,
        UserSent = 2,
        PassSent = 3,
        StatSent = 4,
        StlsSent = 5,
        TlsHandshake = 6,
        // Signing in with the provider instead of USER and PASS:
        CapaSent = 7,       // which SASL mechanisms are there
        AuthSent = 8,       // AUTH OAUTHBEARER or XOAUTH2 with the token
        AuthChallenged = 9, // the server refused it and said why; we answered
    };

    struct Credentials
    {
        QString userName;
        QString password;
        // Not empty: sign in with this access token instead of the password.
        QString bearerToken;
        // Where to, for OAUTHBEARER's message.
        QString host;
        quint16 port = 0;
    };

    struct Result
    {
        bool greeted = false;
        // The greeting from its fifth character on, line end included.
        QString greeting;
        int count = 0;
    };

    // The longest reply line a server may send, line end included (RFC 2449).
    static constexpr int MaxReplyLength = 512;

    // The most lines a CAPA answer may have.
    static constexpr int MaxCapaLines = 64;

    enum class End { None, Counted, InvalidUser, CannotLogon, LineTooLong, StlsRefused, TokenRefused };

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

    // The connection is up: wait for the greeting. With startTls the greeting
    // is answered with STLS, and the login waits for tlsStarted().
    void connected(const Credentials& credentials, bool startTls = false);
    Step received(const QByteArray& data);
    // The handshake that STLS asked for has completed: log in inside it.
    Step tlsStarted();

    State Pop3State() const { return m_pop3State; }
    bool isOver() const { return m_over; }
    const Result& result() const { return m_result; }

    // The message count between the first two blanks of a STAT reply; 0 when
    // there is none, it is negative or it does not fit an int.
    static int countFromStatReply(const QByteArray& reply);

private:
    void handleReply(const QByteArray& line, Step& step);
    // USER, or with a token CAPA first.
    void logIn(Step& step);
    void authenticate(Step& step);
    bool command(const QByteArray& word, const QString& argument, Step& step) const;
    void end(End how, Step& step);

    Credentials m_credentials;
    Result m_result;
    QByteArray m_received;
    State m_pop3State = State::NotConnected;
    bool m_over = true;
    bool m_startTls = false;
    bool m_oauthBearer = false; // the server offers OAUTHBEARER, else XOAUTH2 is used
    int m_capaLines = 0;
};
