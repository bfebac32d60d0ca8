#include "pop3conversation.h"

Pop3Conversation::Pop3Conversation(GeneralStuff& run, QObject* parent) : QObject(parent), m_session(run)
{
    m_stall.setSingleShot(true);
    m_stall.setInterval(DefaultStallTimeoutMs);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        fail(Failure::SocketError,
             tr("The server did not answer within %1 seconds.").arg(m_stall.interval() / 1000.0));
    });
    connect(&Winsock1, &QTcpSocket::connected, this, &Pop3Conversation::Winsock1_Connect);
    connect(&Winsock1, &QTcpSocket::readyRead, this, &Pop3Conversation::Winsock1_DataArrival);
    connect(&Winsock1, &QTcpSocket::errorOccurred, this, &Pop3Conversation::Winsock1_Error);
    // A server that hangs up before the STAT reply ends the check like an error.
    connect(&Winsock1, &QTcpSocket::disconnected, this, &Pop3Conversation::Winsock1_Error);
}

void Pop3Conversation::setRemote(const QString& host, quint16 port)
{
    m_host = host;
    m_port = port;
}

void Pop3Conversation::connectToServer()
{
    Winsock1.abort();
    m_active = true;
    // The stall timer also bounds a connect that never completes.
    m_stall.start();
    Winsock1.connectToHost(m_host, m_port);
}

void Pop3Conversation::close()
{
    m_active = false;
    m_stall.stop();
    Winsock1.abort();
}

void Pop3Conversation::Winsock1_Connect()
{
    m_session.connected();
    m_stall.start();
}

void Pop3Conversation::Winsock1_DataArrival()
{
    const QByteArray data = Winsock1.readAll();
    if (!m_active)
        return;
    m_stall.start();
    const Pop3Session::Step step = m_session.received(data);
    if (!step.send.isEmpty())
        Winsock1.write(step.send);
    switch (step.end) {
    case Pop3Session::End::None:
        break;
    case Pop3Session::End::Counted:
        close();
        emit counted(step.count);
        break;
    case Pop3Session::End::InvalidUser:
        fail(Failure::InvalidUser, QString());
        break;
    case Pop3Session::End::CannotLogon:
        fail(Failure::CannotLogon, QString());
        break;
    case Pop3Session::End::LineTooLong:
        fail(Failure::SocketError,
             tr("The server sent a reply line longer than %1 octets.").arg(Pop3Session::MaxReplyLength));
        break;
    }
}

void Pop3Conversation::Winsock1_Error()
{
    if (m_active)
        fail(Failure::SocketError, Winsock1.errorString());
}

void Pop3Conversation::fail(Failure failure, const QString& description)
{
    m_active = false;
    m_stall.stop();
    if (failure != Failure::SocketError)
        Winsock1.abort();
    emit failed(failure, description);
}
