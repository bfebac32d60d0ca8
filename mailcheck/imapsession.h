#pragma once

#include "imapparser.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

// What one count of the folder found.
struct ImapCount
{
    quint32 exists = 0;
    quint32 unseen = 0;
    quint32 highestUnseenUid = 0; // 0: nothing unseen
    quint32 uidValidity = 0;
    quint32 uidNext = 0;               // 0: the server did not say
    quint32 newCount = 0;              // unseen UIDs above the caller's mark
    QList<quint32> newestUids;         // the newest (at most 3) of them, ascending
    QMap<quint32, QByteArray> headers; // the newest (at most 3) new UIDs -> raw From/Subject header lines
};

// The IMAP side of a mail check, without the socket: it takes the bytes the
// server sent and says what to send back. It only ever reads: the folder is
// opened with EXAMINE, messages are never fetched but for their headers with
// BODY.PEEK, and no flag is changed.
//
// Conversation: greeting, [STARTTLS, handshake], CAPABILITY when the server
// did not volunteer it, login, capabilities again, EXAMINE, the unseen
// searches, [header fetch]; then the caller closes (polling) or calls
// startIdle() and, on each change it is told of, countAgain().
class ImapSession
{
    Q_GADGET

public:
    static constexpr int MaxHeaderFetch = 3;

    struct Options
    {
        QString userName;
        QString password;    // used when bearerToken is empty
        QString bearerToken; // sign in with OAuth (OAUTHBEARER, else XOAUTH2)
        QString host;        // named in OAUTHBEARER's message
        quint16 port = 143;
        QString folder = QStringLiteral("INBOX");
        bool startTls = false;    // STARTTLS before anything else
        bool tlsRequired = false; // the connection is not encrypted yet and must be before login
        bool fetchHeaders = false;
        quint32 uidMark = 0; // the highest UID the caller has seen; new mail is unseen above it
    };

    enum class End {
        None,
        LoginRefused,    // tagged NO to the password: show "Cannot logon", forget the password
        LoginImpossible, // LOGINDISABLED, no usable mechanism, or a credential that cannot be sent
        TokenRefused,    // the bearer token was refused: refresh it once and try again
        StartTlsRefused, // STARTTLS not offered or refused
        TlsRequired,     // PREAUTH on a connection that is not encrypted yet
        FolderRefused,   // EXAMINE failed
        ProtocolError,
        ServerClosed, // untagged BYE
    };
    Q_ENUM(End)

    // What the received bytes (or the caller's request) lead to.
    struct Step
    {
        QByteArray send;
        // Every line received and sent, in order, without line ends; secrets
        // are shown as "****".
        QList<QByteArray> dialogue;
        bool startTls = false; // STARTTLS accepted: start the handshake, then call tlsStarted()
        bool counted = false;  // `count` holds a fresh result
        ImapCount count;
        bool idling = false;         // the server accepted IDLE
        bool idleRefused = false;    // ...or refused it: poll instead
        bool idleEnded = false;      // IDLE is over (after stopIdle(), or the server ended it): idle again
        bool mailboxChanged = false; // while idling: wait a moment, then countAgain()
        End end = End::None;
        QString reason; // readable, for every End but None
    };

    explicit ImapSession(const Options& options);

    Step received(const QByteArray& data);
    // The handshake that STARTTLS asked for has completed.
    Step tlsStarted();

    // Once counted: IDLE (see Step::idling / idleRefused).
    Step startIdle();
    // DONE, for renewing IDLE or probing the connection (see Step::idleEnded).
    Step stopIdle();
    // Count again with a new mark: ends IDLE first if it is on.
    Step countAgain(quint32 uidMark);

    bool isOver() const { return m_state == State::Over; }
    bool isIdling() const { return m_state == State::Idling; }
    bool idleOffered() const { return hasCapability("IDLE"); }
    bool hasCapability(const QByteArray& name) const;
    QList<QByteArray> capabilities() const { return m_capabilities; }
    // The greeting after "* OK " or "* PREAUTH ".
    QByteArray greeting() const { return m_greeting; }
    const ImapCount& lastCount() const { return m_count; }
    int bufferedSize() const { return m_parser.bufferedSize(); }

    // A folder name as IMAP4rev1 writes it: modified UTF-7 (RFC 3501 5.1.3).
    static QByteArray mailboxName(const QString& folder);

private:
    enum class State {
        Greeting,
        StartTls,
        Handshake,
        Capability, // before login
        Login,
        CapabilityAfterLogin,
        Examine,
        SearchUnseen,
        SearchNew,
        Fetch,
        Counted,
        IdleRequested,
        Idling,
        IdleStopping,
        Over,
    };

    struct Status
    {
        QByteArray word; // OK, NO, BAD, BYE, PREAUTH (upper case)
        QByteArray rest; // everything after the word
        QByteArray code; // the first word inside [...], upper case
        QByteArray codeArguments;
        QByteArray text;
    };

    void handle(const ImapResponse& response, Step& step);
    void handleUntagged(const ImapResponse& response, Step& step);
    void handleStatus(const Status& status, Step& step);
    void handleData(const QList<ImapToken>& tokens, Step& step);
    void handleTagged(const Status& status, Step& step);
    void handleFetch(const QList<ImapToken>& items);
    void handleSearchSet(const QByteArray& set, Step& step);
    void noteNew(quint32 low, quint32 high);
    void handleContinuation(const QByteArray& text, Step& step);
    void afterGreeting(Step& step);
    void login(Step& step);
    void loginWithLiterals(Step& step);
    void authenticate(const QByteArray& mechanism, const QByteArray& response, Step& step);
    void afterLogin(const Status& status, Step& step);
    void examine(Step& step);
    bool takeNumber(const QByteArray& text, quint32& value, Step& step);
    void startCount(Step& step);
    void searchNew(Step& step);
    void fetchHeaders(Step& step);
    void finishCount(Step& step);
    void command(const QByteArray& text, Step& step, const QByteArray& shown = QByteArray());
    void sendLine(const QByteArray& line, const QByteArray& shown, Step& step);
    void end(End how, const QString& reason, Step& step);
    void takeCapabilities(const QByteArray& list);
    static Status parseStatus(const QByteArray& text);

    Options m_options;
    ImapParser m_parser;
    State m_state = State::Greeting;
    bool m_tlsActive = false;
    bool m_stopWanted = false;  // DONE as soon as IDLE is accepted
    bool m_countWanted = false; // count once IDLE has ended
    int m_tagNumber = 0;
    QByteArray m_tag; // of the command awaiting its tagged reply
    QList<QByteArray> m_capabilities;
    QByteArray m_greeting;
    // The rest of a command sent in pieces: synchronizing literals of LOGIN.
    QList<QByteArray> m_pieces;
    QList<QByteArray> m_shownPieces;
    // The SASL response (null without one waiting) and whether it has gone out.
    QByteArray m_mechanism;
    QByteArray m_saslResponse;
    bool m_saslSent = false;
    quint32 m_mark = 0;
    ImapCount m_count;
    QList<quint32> m_fetching;
};
