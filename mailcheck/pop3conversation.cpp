#include "pop3conversation.h"

#include "generalstuff.h"

#include <QCryptographicHash>
#include <QSslCipher>
#include <QSslConfiguration>

Pop3Conversation::Pop3Conversation(GeneralStuff& run, QObject* parent)
    : QObject(parent), m_session(run), m_run(run)
{
    m_stall.setSingleShot(true);
    m_stall.setInterval(DefaultStallTimeoutMs);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        fail(Failure::SocketError,
             tr("The server did not answer within %1 seconds.").arg(m_stall.interval() / 1000.0));
    });
    // The stall timer restarts with every byte; a server that trickles one byte
    // at a time must still not hold the check for ever.
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(DefaultDeadlineMs);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        fail(Failure::SocketError, tr("The server did not complete the check within %1 seconds.")
                                       .arg(m_deadline.interval() / 1000.0));
    });
    connect(&Winsock1, &QSslSocket::connected, this, &Pop3Conversation::Winsock1_Connect);
    connect(&Winsock1, &QSslSocket::encrypted, this, &Pop3Conversation::Winsock1_Encrypted);
    connect(&Winsock1, &QSslSocket::sslErrors, this, &Pop3Conversation::Winsock1_SslErrors);
    connect(&Winsock1, &QSslSocket::readyRead, this, &Pop3Conversation::Winsock1_DataArrival);
    connect(&Winsock1, &QSslSocket::errorOccurred, this, &Pop3Conversation::Winsock1_Error);
    // A server that hangs up before the STAT reply ends the check like an error.
    connect(&Winsock1, &QSslSocket::disconnected, this, &Pop3Conversation::Winsock1_Error);
}

void Pop3Conversation::setRemote(const QString& host, quint16 port)
{
    const bool bracketed =
        host.size() > 2 && host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    m_host = bracketed ? host.mid(1, host.size() - 2) : host;
    m_port = port;
}

void Pop3Conversation::setSecurity(int security, const QString& trustedFingerprint)
{
    m_security = security == StartTls || security == ImplicitTls ? security : Plain;
    m_trustedFingerprint = trustedFingerprint.trimmed();
}

void Pop3Conversation::connectToServer()
{
    Winsock1.abort();
    m_certificateErrors.clear();
    m_certificateFingerprint.clear();
    m_active = true;
    // The stall timer also bounds a connect that never completes.
    m_stall.start();
    m_deadline.start();
    if (m_security == Plain) {
        Winsock1.connectToHost(m_host, m_port);
        return;
    }
    if (!QSslSocket::supportsSsl()) {
        fail(Failure::SocketError, tr("TLS is not available on this system."));
        return;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!m_extraCas.isEmpty())
        configuration.addCaCertificates(m_extraCas);
    Winsock1.setSslConfiguration(configuration);
    Winsock1.setPeerVerifyName(m_host);
    if (m_security == ImplicitTls)
        Winsock1.connectToHostEncrypted(m_host, m_port, m_host);
    else
        Winsock1.connectToHost(m_host, m_port);
}

void Pop3Conversation::close()
{
    m_active = false;
    m_stall.stop();
    m_deadline.stop();
    Winsock1.abort();
}

void Pop3Conversation::Winsock1_Connect()
{
    m_stall.start();
    // With TLS from the first byte the greeting comes once the handshake is done.
    if (m_security != ImplicitTls)
        m_session.connected(m_security == StartTls);
}

void Pop3Conversation::Winsock1_Encrypted()
{
    if (!m_active)
        return;
    m_stall.start();
    const QString protocol = protocolName(Winsock1.sessionProtocol());
    emit dialogue(QStringLiteral("TLS: ") + protocol + QStringLiteral(", ") +
                  Winsock1.sessionCipher().name());
    if (m_security == ImplicitTls) {
        m_session.connected();
    } else {
        m_run.ServerTransport = protocol;
        act(m_session.tlsStarted());
    }
}

void Pop3Conversation::Winsock1_SslErrors(const QList<QSslError>& errors)
{
    if (!m_active)
        return;
    QSslCertificate certificate = Winsock1.peerCertificate();
    if (certificate.isNull() && !errors.isEmpty())
        certificate = errors.first().certificate();
    const QString presented = fingerprint(certificate);
    // The certificate the user chose to trust is taken whatever its errors; any
    // other one only when it verifies.
    if (!m_trustedFingerprint.isEmpty() &&
        presented.compare(m_trustedFingerprint, Qt::CaseInsensitive) == 0) {
        emit dialogue(QStringLiteral("certificate trusted for this profile: ") + presented);
        Winsock1.ignoreSslErrors(errors);
        return;
    }
    for (const QSslError& error : errors) {
        m_certificateErrors.append(error.errorString());
        emit dialogue(QStringLiteral("certificate error: ") + error.errorString());
    }
    m_certificateFingerprint = presented;
    // Qt ends the handshake itself once this returns; the caller closes the
    // socket before it asks the user anything.
    m_inSslErrors = true;
    fail(Failure::UntrustedCertificate, m_certificateErrors.join(QLatin1Char('\n')));
    m_inSslErrors = false;
}

void Pop3Conversation::Winsock1_DataArrival()
{
    const QByteArray data = Winsock1.readAll();
    if (!m_active)
        return;
    m_stall.start();
    const bool awaitingGreeting = m_session.Pop3State() == 1;
    const Pop3Session::Step step = m_session.received(data);
    // How the greeting came is shown beside it; STLS upgrades it once the handshake is done.
    if (awaitingGreeting && m_session.Pop3State() != 1)
        m_run.ServerTransport = Winsock1.isEncrypted() ? protocolName(Winsock1.sessionProtocol()) : QString();
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
    if (step.startTls) {
        m_stall.start();
        Winsock1.startClientEncryption();
    }
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
    case Pop3Session::End::StlsRefused:
        fail(Failure::SocketError, tr("The server refused STLS."));
        break;
    }
}

void Pop3Conversation::send(const QByteArray& commands)
{
    const QList<QByteArray> lines = commands.split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        // Whoever reads the dialogue never sees the password.
        emit dialogue(line.startsWith("PASS ") ? QStringLiteral("PASS ****")
                                               : QString::fromLatin1(line.chopped(1)));
    }
    Winsock1.write(commands);
}

void Pop3Conversation::Winsock1_Error()
{
    if (!m_active)
        return;
    if (Winsock1.error() == QAbstractSocket::SslHandshakeFailedError)
        fail(Failure::SocketError, tr("The TLS handshake failed: %1").arg(Winsock1.errorString()));
    else
        fail(Failure::SocketError, Winsock1.errorString());
}

void Pop3Conversation::fail(Failure failure, const QString& description)
{
    m_active = false;
    m_stall.stop();
    m_deadline.stop();
    // Let go of the server at once: one that keeps streaming must not keep us
    // reading while the user looks at the message box.
    if (!m_inSslErrors)
        Winsock1.abort();
    emit failed(failure, description);
}

QString Pop3Conversation::fingerprint(const QSslCertificate& certificate)
{
    if (certificate.isNull())
        return QString();
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':'));
}

QString Pop3Conversation::protocolName(QSsl::SslProtocol protocol)
{
    switch (protocol) {
    case QSsl::TlsV1_3:
        return QStringLiteral("TLS 1.3");
    case QSsl::TlsV1_2:
        return QStringLiteral("TLS 1.2");
    default:
        return QStringLiteral("TLS");
    }
}
