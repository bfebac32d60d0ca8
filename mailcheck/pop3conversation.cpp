#include "pop3conversation.h"

Pop3Conversation::Pop3Conversation(QObject* parent) : QObject(parent)
{
    connect(&Winsock1, &MailConnection::ready, this, &Pop3Conversation::Winsock1_Connect);
    connect(&Winsock1, &MailConnection::tlsStarted, this, [this] {
        m_transport = Winsock1.transport();
        act(m_session.tlsStarted());
    });
    connect(&Winsock1, &MailConnection::received, this, &Pop3Conversation::Winsock1_DataArrival);
    connect(&Winsock1, &MailConnection::failed, this, &Pop3Conversation::Winsock1_Error);
    connect(&Winsock1, &MailConnection::dialogue, this, &Pop3Conversation::dialogue);
}

void Pop3Conversation::connectToServer(const Pop3Session::Credentials& credentials)
{
    m_credentials = credentials;
    m_transport.clear();
    Winsock1.open();
}

void Pop3Conversation::close()
{
    Winsock1.close();
}

void Pop3Conversation::Winsock1_Connect()
{
    m_session.connected(m_credentials, Winsock1.security() == MailConnection::StartTls);
}

void Pop3Conversation::Winsock1_DataArrival(const QByteArray& data)
{
    const bool awaitingGreeting = m_session.Pop3State() == Pop3Session::State::AwaitingGreeting;
    const Pop3Session::Step step = m_session.received(data);
    if (awaitingGreeting && m_session.result().greeted)
        m_transport = Winsock1.transport();
    act(step);
}

void Pop3Conversation::act(const Pop3Session::Step& step)
{
    for (const QByteArray& reply : step.replies) {
        QByteArray line = reply;
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        emit dialogue(QString::fromLatin1(line));
    }
    if (!step.send.isEmpty())
        send(step.send);
    if (step.startTls)
        Winsock1.startTls();
    switch (step.end) {
    case Pop3Session::End::None:
        break;
    case Pop3Session::End::Counted:
        end(CheckOutcome::End::Counted, QString(), step.count);
        break;
    case Pop3Session::End::InvalidUser:
        end(CheckOutcome::End::InvalidUser);
        break;
    case Pop3Session::End::CannotLogon:
        end(CheckOutcome::End::CannotLogon);
        break;
    case Pop3Session::End::LineTooLong:
        end(CheckOutcome::End::SocketError,
            tr("The server sent a reply line longer than %1 octets.").arg(Pop3Session::MaxReplyLength));
        break;
    case Pop3Session::End::StlsRefused:
        end(CheckOutcome::End::SocketError, tr("The server refused STLS."));
        break;
    case Pop3Session::End::TokenRefused:
        end(CheckOutcome::End::TokenRefused, tr("The server refused the sign-in."));
        break;
    }
}

void Pop3Conversation::send(const QByteArray& commands)
{
    const QList<QByteArray> lines = commands.split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        // Whoever reads the dialogue never sees the password or the token.
        if (line.startsWith("PASS "))
            emit dialogue(QStringLiteral("PASS ****"));
        else if (line.startsWith("AUTH "))
            emit dialogue(QString::fromLatin1(line.left(line.indexOf(' ', 5))) + QStringLiteral(" ****"));
        else
            emit dialogue(QString::fromLatin1(line.chopped(1)));
    }
    Winsock1.write(commands);
}

void Pop3Conversation::Winsock1_Error(MailConnection::Failure failure, const QString& description)
{
    if (failure == MailConnection::Failure::UntrustedCertificate)
        end(CheckOutcome::End::UntrustedCertificate, description);
    else
        end(CheckOutcome::End::SocketError, description);
}

void Pop3Conversation::end(CheckOutcome::End how, const QString& description, int count)
{
    // Let go of the server before anyone is told, so no box waits on an open connection.
    Winsock1.close();
    CheckOutcome outcome;
    outcome.end = how;
    outcome.count = count;
    outcome.description = description;
    outcome.greeted = m_session.result().greeted;
    outcome.greeting = m_session.result().greeting;
    outcome.transport = m_transport;
    outcome.certificateErrors = Winsock1.certificateErrors();
    outcome.certificateFingerprint = Winsock1.certificateFingerprint();
    emit ended(outcome);
}
