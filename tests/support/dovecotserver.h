#pragma once

#include "oauthtoken.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A real Dovecot POP3 (and IMAP) server on 127.0.0.1 for the integration tests. It runs
// as a child process (in its own process group) from a throw-away configuration in a temporary directory
// (nothing of the system's own Dovecot is used), listens on a free port and
// serves one Maildir user. The destructor stops it. scripts/lib/dovecot-setup
// writes its files, the same script the demo and the benchmark use.
class DovecotServer
{
public:
    explicit DovecotServer(int messages = 3, const QString& userName = QStringLiteral("alice"),
                           const QString& password = QStringLiteral("s3cret"));
    ~DovecotServer();

    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    // Empty when a Dovecot can be run here (speaking IMAP too, if asked);
    // otherwise why not, for QSKIP.
    static QString unavailableReason(bool imap = false);

    // With TLS (set before start()) the server gets certificates from a
    // throw-away CA made for this run, offers STLS on port() (plain logins
    // still work there) and speaks TLS from the first byte on tlsPort().
    void setTls(bool tls) { m_tls = tls; }
    bool tls() const { return m_tls; }
    // With IMAP (set before start()) the server also speaks IMAP on
    // imapPort(), LOGIN and AUTHENTICATE PLAIN allowed, STARTTLS offered with
    // TLS; with TLS too, IMAP over TLS from the first byte on imapsPort().
    // A delivered message reaches an IDLE client within a second.
    void setImap(bool imap) { m_imap = imap; }
    // With OAuth 2.0 (set before start()) SASL XOAUTH2 and OAUTHBEARER log
    // in with a token from oauthToken(), over POP3 and IMAP alike; the
    // password still works. Dovecot checks tokens itself, no provider involved.
    void setOAuth2(bool oauth2) { m_oauth2 = oauth2; }

    // Writes the configuration and the mailbox, starts Dovecot and waits until
    // the port takes connections. False with errorString() on failure.
    bool start();
    void stop();
    bool isRunning() const;

    quint16 port() const { return m_port; }
    // POP3S; 0 without TLS.
    quint16 tlsPort() const { return m_tlsPort; }
    // IMAP and IMAPS; 0 without IMAP, IMAPS also 0 without TLS.
    quint16 imapPort() const { return m_imapPort; }
    quint16 imapsPort() const { return m_imapsPort; }
    // PEM files; empty without TLS. The server certificate is signed by the CA
    // and names 127.0.0.1 and localhost; the self-signed one names the same
    // and is signed by nobody.
    QString caCertificatePath() const;
    QString serverCertificatePath() const;
    QString selfSignedCertificatePath() const;
    // From now on both listeners serve the self-signed certificate instead of
    // the CA's: a certificate changed under a client. Returns once Dovecot
    // hands it out.
    bool serveSelfSignedCertificate();
    QString userName() const { return m_userName; }
    QString password() const { return m_password; }
    // An access token for userName() that expires lifetimeSeconds from now
    // (a negative lifetime: expired that long ago). Empty unless started with
    // OAuth 2.0. The badly signed one is the same token under a key the
    // server does not know.
    QString oauthToken(int lifetimeSeconds = 3600) const;
    QString badlySignedOAuthToken(int lifetimeSeconds = 3600) const;
    // Makes Dovecot drop every connection logged in as userName(), as a
    // server restart would. False when there was none (or doveadm failed).
    bool kick();
    QString directory() const { return m_dir.path(); }

    // Puts one more message into the Maildir's new/ folder; the next STAT
    // counts it. From: is the given sender or PostOwl Tests <tests@example.org>.
    bool deliverMessage(const QString& subject = QString(), const QString& from = QString());
    // Messages in the Maildir (new/ and cur/), whatever Dovecot has seen of them.
    int messagesOnDisk() const;
    // Of those, the ones without the \Seen flag: every file in new/, and the
    // files in cur/ whose name's flags (after ":2,") lack S.
    int unseenOnDisk() const;

    // Why start() failed, with Dovecot's own log.
    QString errorString() const { return m_error; }
    QString log() const;

private:
    QString mailDirectory() const;
    QString tlsFile(const char* name) const;
    bool runSetup();
    bool handOver(const QString& path) const;
    OAuthToken token(int lifetimeSeconds) const;
    void fail(const QString& reason);

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    QString m_userName;
    QString m_password;
    int m_initialMessages = 0;
    int m_delivered = 0;
    bool m_tls = false;
    bool m_imap = false;
    bool m_oauth2 = false;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    quint16 m_imapPort = 0;
    quint16 m_imapsPort = 0;
    QByteArray m_oauthKey;
    QString m_error;
};
