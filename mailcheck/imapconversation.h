#pragma once

#include "checkoutcome.h"
#include "imapsession.h"
#include "mailconnection.h"

#include <QObject>

#include <memory>

// One IMAP connection over the same MailConnection as POP3 (certificate
// checks, pinning and the trust question exactly as there): it counts, and
// when asked it idles on the open connection and counts again. It only ever
// reads. The watcher above it decides when to idle, count and reconnect.
class ImapConversation : public QObject
{
    Q_OBJECT

public:
    explicit ImapConversation(QObject* parent = nullptr);
    ~ImapConversation() override;

    MailConnection& connection() { return m_connection; }
    // Connects and counts; `counted` follows, or `ended`.
    void open(const ImapSession::Options& options);
    // Lets go of the server without a word to anyone.
    void close();
    bool isOpen() const { return m_connection.isOpen(); }

    bool idleOffered() const { return m_session && m_session->idleOffered(); }
    bool isIdling() const { return m_session && m_session->isIdling(); }
    void startIdle();
    void stopIdle();
    void countAgain(quint32 uidMark);

    // How the connection was greeted, once it was: for the About box.
    bool greeted() const { return m_greeted; }
    QString greeting() const;
    QString transport() const { return m_transport; }

signals:
    void counted(const ImapCount& count);
    void idling();
    // The server refused IDLE: the watcher polls instead.
    void idleRefused();
    // IDLE is over (asked for, or the server ended it).
    void idleEnded();
    // While idling the server told of a change.
    void mailboxChanged();
    // Any bytes from the server: the connection is alive.
    void heard();
    // The conversation is over and its connection closed (or closing).
    void ended(const CheckOutcome& outcome);
    void dialogue(const QString& line);

private:
    void act(const ImapSession::Step& step);
    void end(CheckOutcome::End how, const QString& description);

    MailConnection m_connection;
    std::unique_ptr<ImapSession> m_session;
    ImapSession::Options m_options;
    bool m_greeted = false;
    QString m_transport;
};
