#include "dovecotserver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

constexpr int StartTimeoutMs = 5000;
constexpr int DoveadmTimeoutMs = 5000;
// What dovecot-setup --oauth2 expects in a token and where it keeps the key:
// DIR/keys/<azp>/HS256/<kid>, in base64.
const QString TokenParty = QStringLiteral("postowl");
const QString TokenKeyId = QStringLiteral("postowl-test");
// Making the TLS keys and certificates takes openssl a fraction of a second.
constexpr int SetupTimeoutMs = 30000;

// Writes the configuration, the Maildir and the certificates; see the script.
QString setupScript()
{
    return QStringLiteral(POSTOWL_DOVECOT_SETUP);
}

QString bashProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("bash"));
}

QString sbinProgram(const QString& name)
{
    QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(
            name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    return program;
}

QString dovecotProgram()
{
    return sbinProgram(QStringLiteral("dovecot"));
}

// Debian's dovecot-imapd puts it there; elsewhere it may live in libexec.
bool imapInstalled()
{
    for (const char* folder : {"/usr/lib/dovecot", "/usr/libexec/dovecot", "/usr/local/libexec/dovecot"})
        if (QFileInfo(QLatin1String(folder) + QStringLiteral("/imap")).isExecutable())
            return true;
    return false;
}

// The port stays taken while the probe lives, so two probes never get the same one.
quint16 freeLoopbackPort(QTcpServer& probe)
{
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool writeFile(const QString& path, const QByteArray& contents, QFile::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(contents) == contents.size();
    file.close();
    return written && file.setPermissions(permissions);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

DovecotServer::DovecotServer(int messages, const QString& userName, const QString& password)
    : m_userName(userName), m_password(password), m_initialMessages(messages)
{
}

DovecotServer::~DovecotServer()
{
    stop();
}

QString DovecotServer::unavailableReason(bool imap)
{
    if (dovecotProgram().isEmpty())
        return QStringLiteral(
            "dovecot is not installed: apt-get install dovecot-pop3d (scripts/test installs it)");
    if (imap && !imapInstalled())
        return QStringLiteral("Dovecot's IMAP server is not installed: apt-get install dovecot-imapd "
                              "(scripts/test installs it)");
    if (!QFileInfo::exists(setupScript()))
        return QStringLiteral("the setup script is missing: ") + setupScript();
    if (bashProgram().isEmpty())
        return QStringLiteral("bash is not installed");
    // As root Dovecot runs as nobody; anyone else, it runs as by name.
    if (geteuid() != 0 && !getpwuid(geteuid()))
        return QStringLiteral("the user running the tests has no name Dovecot could run as");
    return QString();
}

QString DovecotServer::mailDirectory() const
{
    return m_dir.path() + QStringLiteral("/mail/") + m_userName;
}

QString DovecotServer::tlsFile(const char* name) const
{
    return m_tls ? m_dir.filePath(QStringLiteral("tls/") + QLatin1String(name)) : QString();
}

QString DovecotServer::caCertificatePath() const
{
    return tlsFile("ca.pem");
}

QString DovecotServer::serverCertificatePath() const
{
    return tlsFile("server.pem");
}

QString DovecotServer::selfSignedCertificatePath() const
{
    return tlsFile("selfsigned.pem");
}

bool DovecotServer::start()
{
    m_error.clear();
    if (!m_dir.isValid()) {
        fail(QStringLiteral("no temporary directory: ") + m_dir.errorString());
        return false;
    }
    const QString program = dovecotProgram();
    if (program.isEmpty()) {
        fail(unavailableReason());
        return false;
    }
    {
        QTcpServer probes[4];
        m_port = freeLoopbackPort(probes[0]);
        m_tlsPort = m_tls ? freeLoopbackPort(probes[1]) : 0;
        m_imapPort = m_imap ? freeLoopbackPort(probes[2]) : 0;
        m_imapsPort = m_imap && m_tls ? freeLoopbackPort(probes[3]) : 0;
        if (m_port == 0 || (m_tls && m_tlsPort == 0) || (m_imap && m_imapPort == 0) ||
            (m_imap && m_tls && m_imapsPort == 0)) {
            fail(QStringLiteral("no free port on 127.0.0.1"));
            return false;
        }
    }
    if (!runSetup())
        return false;
    if (m_oauth2) {
        const QString keyFile =
            m_dir.filePath(QStringLiteral("keys/%1/HS256/%2").arg(TokenParty, TokenKeyId));
        m_oauthKey = QByteArray::fromBase64(readFile(keyFile).trimmed());
        if (m_oauthKey.isEmpty()) {
            fail(QStringLiteral("no token key in ") + keyFile);
            return false;
        }
    }
    for (int i = 0; i < m_initialMessages; ++i) {
        if (!deliverMessage()) {
            fail(QStringLiteral("cannot write a message into ") + mailDirectory());
            return false;
        }
    }

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir.filePath(QStringLiteral("dovecot.out")));
    m_process->setChildProcessModifier([] {
        // Its own process group, so stop() can take the master and every
        // process it forked down at once.
        ::setpgid(0, 0);
#ifdef Q_OS_LINUX
        // A test that crashes must not leave a Dovecot behind.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
    });
    m_process->start(program, {QStringLiteral("-F"), QStringLiteral("-c"),
                               m_dir.filePath(QStringLiteral("dovecot.conf"))});
    if (!m_process->waitForStarted(StartTimeoutMs)) {
        fail(QStringLiteral("cannot start ") + program + QStringLiteral(": ") + m_process->errorString());
        return false;
    }

    // Ready means a connection gets the greeting, not merely that the port is bound.
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < StartTimeoutMs) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200) && probe.waitForReadyRead(1000) && probe.readLine().startsWith("+OK"))
            return true;
        probe.abort();
        if (m_process->waitForFinished(50)) {
            fail(QStringLiteral("dovecot ended with exit code %1").arg(m_process->exitCode()));
            return false;
        }
    }
    fail(QStringLiteral("dovecot did not answer on 127.0.0.1:%1 within %2 ms")
             .arg(m_port)
             .arg(StartTimeoutMs));
    stop();
    return false;
}

void DovecotServer::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        // SIGTERM to the master alone takes Dovecot one to six seconds to shut
        // down, which would dominate every test. Sent to the whole group, every
        // process ends at once and the master still collects its children.
        const pid_t group = pid_t(m_process->processId());
        if (group <= 0 || ::kill(-group, SIGTERM) != 0)
            m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            if (group > 0)
                ::kill(-group, SIGKILL);
            m_process->kill();
            m_process->waitForFinished(1000);
        }
    }
    m_process.reset();
}

bool DovecotServer::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

bool DovecotServer::runSetup()
{
    QStringList arguments{setupScript(), m_dir.path(), QString::number(m_port), m_userName, m_password};
    if (m_tls)
        arguments << QStringLiteral("--tls") << QString::number(m_tlsPort);
    if (m_imap)
        arguments << QStringLiteral("--imap") << QString::number(m_imapPort);
    if (m_imapsPort != 0)
        arguments << QStringLiteral("--imaps") << QString::number(m_imapsPort);
    if (m_oauth2)
        arguments << QStringLiteral("--oauth2");
    QProcess setup;
    setup.setProcessChannelMode(QProcess::MergedChannels);
    setup.start(bashProgram(), arguments);
    const bool finished = setup.waitForFinished(SetupTimeoutMs);
    if (finished && setup.exitStatus() == QProcess::NormalExit && setup.exitCode() == 0)
        return true;
    if (!finished) {
        setup.kill();
        setup.waitForFinished(1000);
    }
    const QString output = QString::fromLocal8Bit(setup.readAll()).trimmed();
    fail(setupScript() + QStringLiteral(" failed: ") + (output.isEmpty() ? setup.errorString() : output));
    return false;
}

bool DovecotServer::handOver(const QString& path) const
{
    // Dovecot's mail processes run as the user the setup gave the Maildir to,
    // and must own what is put into it. Only root runs Dovecot as someone else.
    if (geteuid() != 0)
        return true;
    struct stat owner;
    if (::stat(QFile::encodeName(mailDirectory()).constData(), &owner) != 0)
        return false;
    return ::chown(QFile::encodeName(path).constData(), owner.st_uid, owner.st_gid) == 0;
}

bool DovecotServer::serveSelfSignedCertificate()
{
    if (!m_tls || !isRunning())
        return false;
    // Dovecot serves the copies in served.pem and served.key and reads them
    // again when its master gets SIGHUP.
    for (const char* kind : {"pem", "key"}) {
        const QString served = tlsFile("served.") + QLatin1String(kind);
        QFile::remove(served);
        if (!QFile::copy(tlsFile("selfsigned.") + QLatin1String(kind), served) || !handOver(served)) {
            fail(QStringLiteral("cannot copy the self-signed certificate to ") + served);
            return false;
        }
    }
    const QList<QSslCertificate> wanted = QSslCertificate::fromPath(selfSignedCertificatePath());
    if (wanted.isEmpty() || ::kill(pid_t(m_process->processId()), SIGHUP) != 0) {
        fail(QStringLiteral("cannot make Dovecot read its certificate again"));
        return false;
    }
    // Login processes started before the reload may still hand out the old one.
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < StartTimeoutMs) {
        QSslSocket probe;
        probe.setPeerVerifyMode(QSslSocket::VerifyNone);
        probe.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_tlsPort);
        if (probe.waitForEncrypted(1000) && probe.peerCertificate() == wanted.first())
            return true;
        probe.abort();
        QThread::msleep(20);
    }
    fail(QStringLiteral("Dovecot still serves the old certificate after %1 ms").arg(StartTimeoutMs));
    return false;
}

OAuthToken DovecotServer::token(int lifetimeSeconds) const
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 expiry = now + lifetimeSeconds;
    // Issued no later than it expires, or Dovecot turns it down as
    // contradictory rather than as expired.
    return {m_userName, TokenParty, TokenKeyId, qMin(now, expiry), expiry};
}

QString DovecotServer::oauthToken(int lifetimeSeconds) const
{
    return m_oauthKey.isEmpty() ? QString() : token(lifetimeSeconds).signedWith(m_oauthKey);
}

QString DovecotServer::badlySignedOAuthToken(int lifetimeSeconds) const
{
    QByteArray otherKey = m_oauthKey;
    for (char& byte : otherKey)
        byte = char(~byte);
    return m_oauthKey.isEmpty() ? QString() : token(lifetimeSeconds).signedWith(otherKey);
}

bool DovecotServer::kick()
{
    const QString doveadm = sbinProgram(QStringLiteral("doveadm"));
    if (doveadm.isEmpty() || !isRunning())
        return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(doveadm, {QStringLiteral("-c"), m_dir.filePath(QStringLiteral("dovecot.conf")),
                            QStringLiteral("kick"), m_userName});
    // Exits with 0 once it has dropped at least one connection.
    if (process.waitForFinished(DoveadmTimeoutMs))
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    process.kill();
    process.waitForFinished(1000);
    return false;
}

bool DovecotServer::deliverMessage(const QString& subject, const QString& from)
{
    ++m_delivered;
    const QString name = QStringLiteral("%1.M%2P%3.postowl-test")
                             .arg(QDateTime::currentSecsSinceEpoch())
                             .arg(m_delivered)
                             .arg(QCoreApplication::applicationPid());
    const QString title = subject.isEmpty() ? QStringLiteral("Test message %1").arg(m_delivered) : subject;
    const QString sender = from.isEmpty() ? QStringLiteral("PostOwl Tests <tests@example.org>") : from;
    const QByteArray message = QStringLiteral("From: %4\r\n"
                                              "To: %1@example.org\r\n"
                                              "Subject: %2\r\n"
                                              "Message-ID: <%3@postowl.test>\r\n"
                                              "\r\n"
                                              "Body of %2.\r\n")
                                   .arg(m_userName, title, name, sender)
                                   .toUtf8();
    // Written into tmp/ and moved into new/, so Dovecot never sees half a message.
    const QString staged = mailDirectory() + QStringLiteral("/tmp/") + name;
    if (!writeFile(staged, message,
                   QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther) ||
        !handOver(staged))
        return false;
    return QFile::rename(staged, mailDirectory() + QStringLiteral("/new/") + name);
}

int DovecotServer::messagesOnDisk() const
{
    int count = 0;
    for (const char* sub : {"new", "cur"})
        count += QDir(mailDirectory() + QLatin1Char('/') + QLatin1String(sub)).entryList(QDir::Files).size();
    return count;
}

int DovecotServer::unseenOnDisk() const
{
    int unseen = QDir(mailDirectory() + QStringLiteral("/new")).entryList(QDir::Files).size();
    const QStringList current = QDir(mailDirectory() + QStringLiteral("/cur")).entryList(QDir::Files);
    for (const QString& name : current) {
        // Maildir keeps the flags in the name: unique:2,FLAGS, S for seen.
        const qsizetype info = name.lastIndexOf(QStringLiteral(":2,"));
        if (info < 0 || !name.mid(info + 3).contains(QLatin1Char('S')))
            ++unseen;
    }
    return unseen;
}

QString DovecotServer::log() const
{
    return QString::fromUtf8(readFile(m_dir.filePath(QStringLiteral("dovecot.out"))) +
                             readFile(m_dir.filePath(QStringLiteral("dovecot.log"))));
}

void DovecotServer::fail(const QString& reason)
{
    m_error = reason;
    const QString dovecotLog = log();
    if (!dovecotLog.isEmpty())
        m_error += QStringLiteral("\n--- Dovecot's log ---\n") + dovecotLog;
}
