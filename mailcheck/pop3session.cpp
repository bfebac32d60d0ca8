#include "pop3session.h"

#include "leadingnumber.h"
#include "saslmessage.h"

#include <cmath>
#include <limits>

void Pop3Session::connected(const Credentials& credentials, bool startTls)
{
    m_credentials = credentials;
    m_result = Result();
    m_received.clear();
    m_pop3State = State::AwaitingGreeting;
    m_over = false;
    m_startTls = startTls;
}

Pop3Session::Step Pop3Session::tlsStarted()
{
    Step step;
    if (m_over || m_pop3State != State::TlsHandshake)
        return step;
    logIn(step);
    return step;
}

Pop3Session::Step Pop3Session::received(const QByteArray& data)
{
    Step step;
    if (m_over)
        return step;
    m_received += data;
    while (!m_over) {
        const int lineEnd = m_received.indexOf('\n');
        if (lineEnd < 0)
            break;
        const QByteArray line = m_received.left(lineEnd + 1);
        m_received.remove(0, lineEnd + 1);
        if (line.size() > MaxReplyLength) {
            end(End::LineTooLong, step);
        } else {
            step.replies.append(line);
            handleReply(line, step);
        }
        // Whatever came in the clear behind the answer to STLS is no reply of
        // the encrypted conversation: a man in the middle could have put it there.
        if (m_pop3State == State::TlsHandshake) {
            m_received.clear();
            break;
        }
    }
    // A line that never ends must not grow without bound either.
    if (!m_over && m_received.size() > MaxReplyLength)
        end(End::LineTooLong, step);
    return step;
}

void Pop3Session::handleReply(const QByteArray& line, Step& step)
{
    // Each reply is judged by its first character alone.
    const bool positive = line.startsWith('+');
    switch (m_pop3State) {
    case State::AwaitingGreeting:
        m_result.greeted = true;
        m_result.greeting = QString::fromLatin1(line.mid(4));
        if (m_startTls) {
            command("STLS", QString(), step);
            m_pop3State = State::StlsSent;
        } else {
            logIn(step);
        }
        break;
    case State::UserSent:
        if (!positive)
            end(End::InvalidUser, step);
        else if (command("PASS ", m_credentials.password, step))
            m_pop3State = State::PassSent;
        else
            end(End::CannotLogon, step);
        break;
    case State::PassSent:
        if (!positive) {
            end(End::CannotLogon, step);
        } else {
            command("STAT", QString(), step);
            m_pop3State = State::StatSent;
        }
        break;
    case State::StatSent:
        m_result.count = countFromStatReply(line);
        step.count = m_result.count;
        end(End::Counted, step);
        break;
    case State::StlsSent:
        // Refused: nothing more is said, least of all the login in the clear.
        if (positive) {
            step.startTls = true;
            m_pop3State = State::TlsHandshake;
        } else {
            end(End::StlsRefused, step);
        }
        break;
    case State::CapaSent:
        // A multi-line answer, read to its end; a refusal ends it at once.
        if (++m_capaLines == 1 && !positive) {
            authenticate(step);
        } else if (line.startsWith(".\r") || line.startsWith(".\n")) {
            authenticate(step);
        } else if (m_capaLines > MaxCapaLines) {
            end(End::LineTooLong, step);
        } else if (line.toUpper().startsWith("SASL ")) {
            m_oauthBearer = line.toUpper().split(' ').contains("OAUTHBEARER");
        }
        break;
    case State::AuthSent:
        if (positive && (line.startsWith("+ ") || line.trimmed() == "+")) {
            // A failure that says why: answer it, then the server says no.
            step.send += m_oauthBearer ? QByteArrayLiteral("AQ==\r\n") : QByteArrayLiteral("\r\n");
            m_pop3State = State::AuthChallenged;
        } else if (positive) {
            command("STAT", QString(), step);
            m_pop3State = State::StatSent;
        } else {
            end(End::TokenRefused, step);
        }
        break;
    case State::AuthChallenged:
        end(End::TokenRefused, step);
        break;
    case State::NotConnected:
    case State::TlsHandshake:
        break;
    }
}

void Pop3Session::logIn(Step& step)
{
    if (m_credentials.bearerToken.isEmpty()) {
        if (command("USER ", m_credentials.userName, step))
            m_pop3State = State::UserSent;
        else
            end(End::InvalidUser, step);
        return;
    }
    m_capaLines = 0;
    m_oauthBearer = false;
    command("CAPA", QString(), step);
    m_pop3State = State::CapaSent;
}

void Pop3Session::authenticate(Step& step)
{
    const QByteArray message = m_oauthBearer
                                   ? SaslMessage::oauthBearer(m_credentials.userName, m_credentials.host,
                                                              m_credentials.port, m_credentials.bearerToken)
                                   : SaslMessage::xoauth2(m_credentials.userName, m_credentials.bearerToken);
    // The token must not smuggle in a line break either.
    if (message.contains('\r') || message.contains('\n')) {
        end(End::TokenRefused, step);
        return;
    }
    step.send +=
        QByteArray(m_oauthBearer ? "AUTH OAUTHBEARER " : "AUTH XOAUTH2 ") + message.toBase64() + "\r\n";
    m_pop3State = State::AuthSent;
}

bool Pop3Session::command(const QByteArray& word, const QString& argument, Step& step) const
{
    const QByteArray bytes = argument.toLatin1();
    // A line break inside an argument would let it smuggle in a command of its
    // own (a password ending in CR LF "DELE 1" deletes mail): refuse, don't strip.
    if (bytes.contains('\r') || bytes.contains('\n') || bytes.contains('\0'))
        return false;
    step.send += word + bytes + "\r\n";
    return true;
}

void Pop3Session::end(End how, Step& step)
{
    m_over = true;
    step.end = how;
}

int Pop3Session::countFromStatReply(const QByteArray& reply)
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
