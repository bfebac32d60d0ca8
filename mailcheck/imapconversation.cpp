#include "imapconversation.h"

ImapConversation::ImapConversation(QObject* parent) : QObject(parent)
{
    connect(&m_connection, &MailConnection::ready, this, [this] {
        m_options.tlsRequired = m_connection.security() == MailConnection::StartTls;
        m_options.startTls = m_options.tlsRequired;
        m_session = std::make_unique<ImapSession>(m_options);
    });
    connect(&m_connection, &MailConnection::tlsStarted, this, [this] {
        m_transport = m_connection.transport();
        act(m_session->tlsStarted());
    });
    connect(&m_connection, &MailConnection::received, this, [this](const QByteArray& bytes) {
        emit heard();
        if (!m_session)
            return;
        const bool greetedBefore = m_greeted;
        const ImapSession::Step step = m_session->received(bytes);
        m_greeted = !m_session->greeting().isNull() || greetedBefore;
        if (m_greeted && !greetedBefore)
            m_transport = m_connection.transport();
        act(step);
    });
    connect(&m_connection, &MailConnection::failed, this,
            [this](MailConnection::Failure failure, const QString& description) {
                end(failure == MailConnection::Failure::UntrustedCertificate
                        ? CheckOutcome::End::UntrustedCertificate
                        : CheckOutcome::End::SocketError,
                    description);
            });
    connect(&m_connection, &MailConnection::dialogue, this, &ImapConversation::dialogue);
}

ImapConversation::~ImapConversation() = default;

void ImapConversation::open(const ImapSession::Options& options)
{
    m_options = options;
    m_session.reset();
    m_greeted = false;
    m_transport.clear();
    m_connection.open();
}

void ImapConversation::close()
{
    m_connection.close();
    m_session.reset();
}

QString ImapConversation::greeting() const
{
    return m_session ? QString::fromUtf8(m_session->greeting()) : QString();
}

void ImapConversation::startIdle()
{
    if (m_session && m_connection.isOpen())
        act(m_session->startIdle());
}

void ImapConversation::stopIdle()
{
    if (m_session && m_connection.isOpen())
        act(m_session->stopIdle());
}

void ImapConversation::countAgain(quint32 uidMark)
{
    if (m_session && m_connection.isOpen())
        act(m_session->countAgain(uidMark));
}

void ImapConversation::act(const ImapSession::Step& step)
{
    for (const QByteArray& line : step.dialogue)
        emit dialogue(QString::fromUtf8(line));
    if (!step.send.isEmpty())
        m_connection.write(step.send);
    if (step.startTls)
        m_connection.startTls();
    switch (step.end) {
    case ImapSession::End::None:
        break;
    case ImapSession::End::LoginRefused:
        end(CheckOutcome::End::CannotLogon, step.reason);
        return;
    case ImapSession::End::TokenRefused:
        end(CheckOutcome::End::TokenRefused, step.reason);
        return;
    case ImapSession::End::ServerClosed:
        end(CheckOutcome::End::ServerClosed, step.reason);
        return;
    default:
        end(CheckOutcome::End::SocketError, step.reason);
        return;
    }
    // Each of these may close the connection (the watcher reacts at once), so
    // nothing is touched after them.
    if (step.counted)
        emit counted(step.count);
    if (step.idling)
        emit idling();
    if (step.idleRefused)
        emit idleRefused();
    if (step.idleEnded)
        emit idleEnded();
    if (step.mailboxChanged)
        emit mailboxChanged();
}

void ImapConversation::end(CheckOutcome::End how, const QString& description)
{
    m_connection.close();
    CheckOutcome outcome;
    outcome.end = how;
    outcome.description = description;
    outcome.greeted = m_greeted;
    outcome.greeting = greeting();
    outcome.transport = m_transport;
    outcome.certificateErrors = m_connection.certificateErrors();
    outcome.certificateFingerprint = m_connection.certificateFingerprint();
    emit ended(outcome);
}
