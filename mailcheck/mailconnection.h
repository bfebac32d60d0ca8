#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QStringList>
#include <QTimer>

#include <memory>

class QTcpSocket;

// One connection to a mail server for the protocol conversations above it:
// it connects, hands on what the server sends, writes what they say, and
// upgrades to TLS when asked. Nothing is sent over a connection whose
// certificate neither verifies nor is the one the user chose to trust.
//
// A plain profile gets a plain TCP socket: the TLS library is loaded only
// for a profile that asks for TLS. A server that stalls, dawdles past the
// deadline or hangs up ends the connection like a socket error.
class MailConnection : public QObject
{
    Q_OBJECT

public:
    enum Security { Plain = 0, StartTls = 1, ImplicitTls = 2 };
    enum class Failure { SocketError, UntrustedCertificate };
    Q_ENUM(Failure)

    static constexpr int DefaultStallTimeoutMs = 30000;
    static constexpr int DefaultDeadlineMs = 60000;

    explicit MailConnection(QObject* parent = nullptr);
    ~MailConnection() override;

    // A host written as an IPv6 literal in brackets ("[::1]") is taken without them.
    void setRemote(const QString& host, quint16 port);
    // trustedFingerprint: the certificate accepted whatever its errors.
    void setSecurity(int security, const QString& trustedFingerprint);
    int security() const { return m_security; }
    QString host() const { return m_host; }
    quint16 port() const { return m_port; }
    // Certificate authorities trusted besides the system's, for tests.
    void addCaCertificates(const QList<QSslCertificate>& certificates) { m_extraCas += certificates; }
    // No byte for this long ends the connection; 0 never.
    void setStallTimeout(int milliseconds) { setTimer(m_stall, milliseconds); }
    // How long the whole connection may take from the connect on; 0 for ever.
    void setDeadline(int milliseconds) { setTimer(m_deadline, milliseconds); }
    // TCP keepalive, for a connection that stays open.
    void setKeepAlive(bool on) { m_keepAlive = on; }

    void open();
    // Ends the connection without a word to anyone.
    void close();
    bool isOpen() const { return m_active; }
    void write(const QByteArray& bytes);
    // The server agreed to STARTTLS (or STLS): the handshake begins.
    void startTls();

    // "TLS 1.3" once the connection is encrypted, empty while it is plain.
    QString transport() const;
    // Why the last certificate was refused (with Failure::UntrustedCertificate).
    QStringList certificateErrors() const { return m_certificateErrors; }
    QString certificateFingerprint() const { return m_certificateFingerprint; }

    // "aa:bb:…": the SHA-256 digest of a certificate, as the profile keeps it.
    static QString fingerprint(const QSslCertificate& certificate);
    // "TLS 1.3" and the like.
    static QString protocolName(QSsl::SslProtocol protocol);

signals:
    // The server may speak: TCP is up, or with TLS from the first byte the
    // handshake has completed too.
    void ready();
    // The handshake that startTls() began has completed.
    void tlsStarted();
    void received(const QByteArray& bytes);
    // The connection is over (or closing); no other signal follows.
    void failed(MailConnection::Failure failure, const QString& description);
    // What became of TLS, for a verbose log.
    void dialogue(const QString& line);

private:
    void makeSocket();
    void socketConnected();
    void socketEncrypted();
    void socketSslErrors(const QList<QSslError>& errors);
    void socketReadyRead();
    void socketError();
    void fail(Failure failure, const QString& description);
    void restartTimer(QTimer& timer);
    // A running timer keeps running with its new interval; 0 stops it for good.
    static void setTimer(QTimer& timer, int milliseconds);

    std::unique_ptr<QTcpSocket> m_socket;
    QTimer m_stall;
    QTimer m_deadline;
    QString m_host;
    quint16 m_port = 0;
    int m_security = Plain;
    QString m_trustedFingerprint;
    QList<QSslCertificate> m_extraCas;
    QStringList m_certificateErrors;
    QString m_certificateFingerprint;
    bool m_keepAlive = false;
    bool m_active = false;      // from open() until the connection has ended
    bool m_inSslErrors = false; // the socket must not be aborted from inside its handshake
};
