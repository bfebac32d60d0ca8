#pragma once

#include "pop3session.h"

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#include <QStringList>
#include <QTimer>

struct GeneralStuff;

// One POP3 conversation over the socket Winsock1: greeting, USER, PASS, STAT.
// It never sends QUIT; it closes the connection itself once the count is
// known. A server that stalls, dawdles past the deadline or hangs up ends it
// like a socket error.
//
// The socket speaks plain TCP unless the profile asks for TLS: STLS after the
// greeting, or TLS from the first byte. Nothing is sent over a connection
// whose certificate neither verifies nor is the one the user chose to trust.
class Pop3Conversation : public QObject
{
    Q_OBJECT

public:
    enum class Failure { InvalidUser, CannotLogon, SocketError, UntrustedCertificate };
    Q_ENUM(Failure)

    enum Security { Plain = 0, StartTls = 1, ImplicitTls = 2 };

    static constexpr int DefaultStallTimeoutMs = 30000;
    static constexpr int DefaultDeadlineMs = 60000;

    explicit Pop3Conversation(GeneralStuff& run, QObject* parent = nullptr);

    // A host written as an IPv6 literal in brackets ("[::1]") is taken without them.
    void setRemote(const QString& host, quint16 port);
    // trustedFingerprint: the certificate accepted whatever its errors.
    void setSecurity(int security, const QString& trustedFingerprint);
    // Certificate authorities trusted besides the system's, for tests.
    void addCaCertificates(const QList<QSslCertificate>& certificates) { m_extraCas += certificates; }
    void connectToServer();
    void close();

    int Pop3State() const { return m_session.Pop3State(); }
    void setStallTimeout(int milliseconds) { m_stall.setInterval(milliseconds); }
    // How long a whole conversation may take from the connect on.
    void setDeadline(int milliseconds) { m_deadline.setInterval(milliseconds); }

    // Why the last certificate was refused (with Failure::UntrustedCertificate).
    QStringList certificateErrors() const { return m_certificateErrors; }
    QString certificateFingerprint() const { return m_certificateFingerprint; }

    // "aa:bb:…": the SHA-256 digest of a certificate, as the profile keeps it.
    static QString fingerprint(const QSslCertificate& certificate);
    // "TLS 1.3" and the like.
    static QString protocolName(QSsl::SslProtocol protocol);

signals:
    // The STAT reply is in and the connection is closed.
    void counted(int count);
    // The conversation is over and its connection closed (or closing).
    void failed(Pop3Conversation::Failure failure, const QString& description);
    // Each command sent (the password masked), each reply line received, and
    // what became of TLS, for a verbose log.
    void dialogue(const QString& line);

private:
    void Winsock1_Connect();
    void Winsock1_DataArrival();
    void Winsock1_Error();
    void Winsock1_Encrypted();
    void Winsock1_SslErrors(const QList<QSslError>& errors);
    void act(const Pop3Session::Step& step);
    void send(const QByteArray& commands);
    void fail(Failure failure, const QString& description);

    Pop3Session m_session;
    GeneralStuff& m_run;
    QSslSocket Winsock1;
    QTimer m_stall;
    QTimer m_deadline;
    QString m_host;
    quint16 m_port = 110;
    int m_security = Plain;
    QString m_trustedFingerprint;
    QList<QSslCertificate> m_extraCas;
    QStringList m_certificateErrors;
    QString m_certificateFingerprint;
    bool m_active = false;      // from connect until the conversation has ended
    bool m_inSslErrors = false; // the socket must not be aborted from inside its handshake
};
