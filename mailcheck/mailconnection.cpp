#include "mailconnection.h"

#include <QCryptographicHash>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>

MailConnection::MailConnection(QObject* parent) : QObject(parent)
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
}

MailConnection::~MailConnection() = default;

void MailConnection::setRemote(const QString& host, quint16 port)
{
    const bool bracketed =
        host.size() > 2 && host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    m_host = bracketed ? host.mid(1, host.size() - 2) : host;
    m_port = port;
}

void MailConnection::setSecurity(int security, const QString& trustedFingerprint)
{
    m_security = security == StartTls || security == ImplicitTls ? security : Plain;
    m_trustedFingerprint = trustedFingerprint.trimmed();
}

void MailConnection::setTimer(QTimer& timer, int milliseconds)
{
    timer.setInterval(milliseconds);
    if (milliseconds <= 0)
        timer.stop();
}

void MailConnection::restartTimer(QTimer& timer)
{
    if (timer.interval() > 0)
        timer.start();
}

void MailConnection::makeSocket()
{
    const bool wantTls = m_security != Plain;
    if (m_socket && bool(qobject_cast<QSslSocket*>(m_socket.get())) == wantTls)
        return;
    // The old socket may be the sender of the signal we are in: it goes later.
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket.release()->deleteLater();
    }
    if (wantTls) {
        auto* tls = new QSslSocket;
        connect(tls, &QSslSocket::encrypted, this, &MailConnection::socketEncrypted);
        connect(tls, &QSslSocket::sslErrors, this, &MailConnection::socketSslErrors);
        m_socket.reset(tls);
    } else {
        m_socket = std::make_unique<QTcpSocket>();
    }
    connect(m_socket.get(), &QTcpSocket::connected, this, &MailConnection::socketConnected);
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &MailConnection::socketReadyRead);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, &MailConnection::socketError);
    // A server that hangs up ends the conversation like an error.
    connect(m_socket.get(), &QTcpSocket::disconnected, this, &MailConnection::socketError);
}

void MailConnection::open()
{
    makeSocket();
    m_socket->abort();
    m_certificateErrors.clear();
    m_certificateFingerprint.clear();
    m_active = true;
    // The stall timer also bounds a connect that never completes.
    restartTimer(m_stall);
    restartTimer(m_deadline);
    auto* tls = qobject_cast<QSslSocket*>(m_socket.get());
    if (!tls) {
        m_socket->connectToHost(m_host, m_port);
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
    tls->setSslConfiguration(configuration);
    tls->setPeerVerifyName(m_host);
    if (m_security == ImplicitTls)
        tls->connectToHostEncrypted(m_host, m_port, m_host);
    else
        tls->connectToHost(m_host, m_port);
}

void MailConnection::close()
{
    m_active = false;
    m_stall.stop();
    m_deadline.stop();
    // From inside the handshake's own signal Qt ends it itself; a later close aborts.
    if (m_socket && !m_inSslErrors)
        m_socket->abort();
}

void MailConnection::write(const QByteArray& bytes)
{
    if (m_active && m_socket)
        m_socket->write(bytes);
}

void MailConnection::startTls()
{
    auto* tls = qobject_cast<QSslSocket*>(m_socket.get());
    if (!m_active || !tls)
        return;
    restartTimer(m_stall);
    tls->startClientEncryption();
}

QString MailConnection::transport() const
{
    const auto* tls = qobject_cast<const QSslSocket*>(m_socket.get());
    return tls && tls->isEncrypted() ? protocolName(tls->sessionProtocol()) : QString();
}

void MailConnection::socketConnected()
{
    restartTimer(m_stall);
    if (m_keepAlive)
        m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // With TLS from the first byte the server speaks once the handshake is done.
    if (m_security != ImplicitTls)
        emit ready();
}

void MailConnection::socketEncrypted()
{
    if (!m_active)
        return;
    restartTimer(m_stall);
    const auto* tls = static_cast<QSslSocket*>(m_socket.get());
    emit dialogue(QStringLiteral("TLS: ") + protocolName(tls->sessionProtocol()) + QStringLiteral(", ") +
                  tls->sessionCipher().name());
    if (m_security == ImplicitTls)
        emit ready();
    else
        emit tlsStarted();
}

void MailConnection::socketSslErrors(const QList<QSslError>& errors)
{
    if (!m_active)
        return;
    auto* tls = static_cast<QSslSocket*>(m_socket.get());
    QSslCertificate certificate = tls->peerCertificate();
    if (certificate.isNull() && !errors.isEmpty())
        certificate = errors.first().certificate();
    const QString presented = fingerprint(certificate);
    // The certificate the user chose to trust is taken whatever its errors; any
    // other one only when it verifies.
    if (!m_trustedFingerprint.isEmpty() &&
        presented.compare(m_trustedFingerprint, Qt::CaseInsensitive) == 0) {
        emit dialogue(QStringLiteral("certificate trusted for this profile: ") + presented);
        tls->ignoreSslErrors(errors);
        return;
    }
    for (const QSslError& error : errors) {
        m_certificateErrors.append(error.errorString());
        emit dialogue(QStringLiteral("certificate error: ") + error.errorString());
    }
    m_certificateFingerprint = presented;
    // Qt ends the handshake itself once this returns; the caller closes the
    // connection before it asks the user anything.
    m_inSslErrors = true;
    fail(Failure::UntrustedCertificate, m_certificateErrors.join(QLatin1Char('\n')));
    m_inSslErrors = false;
}

void MailConnection::socketReadyRead()
{
    // Read in every state, also when the data is then dropped.
    const QByteArray bytes = m_socket->readAll();
    if (!m_active)
        return;
    restartTimer(m_stall);
    emit received(bytes);
}

void MailConnection::socketError()
{
    if (!m_active)
        return;
    if (m_socket->error() == QAbstractSocket::SslHandshakeFailedError)
        fail(Failure::SocketError, tr("The TLS handshake failed: %1").arg(m_socket->errorString()));
    else
        fail(Failure::SocketError, m_socket->errorString());
}

void MailConnection::fail(Failure failure, const QString& description)
{
    m_active = false;
    m_stall.stop();
    m_deadline.stop();
    // Let go of the server at once: one that keeps streaming must not keep us
    // reading while the user looks at a message box.
    if (!m_inSslErrors && m_socket)
        m_socket->abort();
    emit failed(failure, description);
}

QString MailConnection::fingerprint(const QSslCertificate& certificate)
{
    if (certificate.isNull())
        return QString();
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':'));
}

QString MailConnection::protocolName(QSsl::SslProtocol protocol)
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
