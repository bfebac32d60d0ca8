#include "pop3conversation.h"

#include "generalstuff.h"
#include "leadingnumber.h"

#include <cmath>
#include <limits>

Pop3Conversation::Pop3Conversation(GeneralStuff& run, QObject* parent) : QObject(parent), m_run(run)
{
    m_stall.setSingleShot(true);
    m_stall.setInterval(DefaultStallTimeoutMs);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        fail(Failure::SocketError, tr("The server did not answer within %1 seconds.").arg(m_stall.interval() / 1000.0));
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
    m_received.clear();
    m_active = true;
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
    m_pop3State = 1;
    m_stall.start();
}

void Pop3Conversation::Winsock1_DataArrival()
{
    const QByteArray data = Winsock1.readAll();
    if (!m_active)
        return;
    m_received += data;
    m_stall.start();
    while (m_active) {
        const int lineEnd = m_received.indexOf('\n');
        if (lineEnd < 0)
            break;
        const QByteArray line = m_received.left(lineEnd + 1);
        m_received.remove(0, lineEnd + 1);
        if (line.size() > MaxReplyLength) {
            fail(Failure::SocketError, tr("The server sent a reply line longer than %1 octets.").arg(MaxReplyLength));
            return;
        }
        handleReply(line);
    }
    if (m_active && m_received.size() > MaxReplyLength)
        fail(Failure::SocketError, tr("The server sent a reply line longer than %1 octets.").arg(MaxReplyLength));
}

void Pop3Conversation::Winsock1_Error()
{
    if (m_active)
        fail(Failure::SocketError, Winsock1.errorString());
}

void Pop3Conversation::handleReply(const QByteArray& line)
{
    const bool positive = line.startsWith('+');
    switch (m_pop3State) {
    case 1:
        m_run.ServerGreeting = QString::fromLatin1(line.mid(4));
        if (send("USER ", m_run.ProfileSettings.UserName))
            m_pop3State = 2;
        else
            fail(Failure::InvalidUser, QString());
        break;
    case 2:
        if (!positive)
            fail(Failure::InvalidUser, QString());
        else if (send("PASS ", m_run.ProfileSettings.Password))
            m_pop3State = 3;
        else
            fail(Failure::CannotLogon, QString());
        break;
    case 3:
        if (!positive) {
            fail(Failure::CannotLogon, QString());
        } else {
            send("STAT", QString());
            m_pop3State = 4;
        }
        break;
    case 4: {
        const int count = countFromStatReply(line);
        close();
        emit counted(count);
        break;
    }
    default:
        break; // nothing is expected before a connection is up
    }
}

bool Pop3Conversation::send(const QByteArray& command, const QString& argument)
{
    const QByteArray bytes = argument.toLatin1();
    // A line break inside an argument would let it smuggle in a command of its
    // own (a password ending in CR LF "DELE 1" deletes mail): refuse, don't strip.
    if (bytes.contains('\r') || bytes.contains('\n') || bytes.contains('\0'))
        return false;
    Winsock1.write(command + bytes + "\r\n");
    return true;
}

void Pop3Conversation::fail(Failure failure, const QString& description)
{
    m_active = false;
    m_stall.stop();
    if (failure != Failure::SocketError)
        Winsock1.abort();
    emit failed(failure, description);
}

int Pop3Conversation::countFromStatReply(const QByteArray& reply)
{
    const int firstBlank = reply.indexOf(' ');
    if (firstBlank < 0)
        return 0;
    const int secondBlank = reply.indexOf(' ', firstBlank + 1);
    if (secondBlank < 0)
        return 0;
    const QString field = QString::fromLatin1(reply.mid(firstBlank + 1, secondBlank - firstBlank - 1));
    // Half goes to the even neighbour; a count that is negative or does not
    // fit reads as no mail rather than as a wrapped number.
    const double count = std::nearbyint(leadingNumber(field));
    if (!(count >= 0) || count > std::numeric_limits<int>::max())
        return 0;
    return int(count);
}
