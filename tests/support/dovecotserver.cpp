#include "dovecotserver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

constexpr int StartTimeoutMs = 5000;

QString dovecotProgram()
{
    QString program = QStandardPaths::findExecutable(QStringLiteral("dovecot"));
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(
            QStringLiteral("dovecot"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    return program;
}

// Who Dovecot's own processes and the mail user run as. As root that is
// nobody, which Dovecot accepts for everything; otherwise Dovecot runs
// unprivileged as the user running the tests and cannot switch to anyone else.
struct Identity
{
    uid_t uid;
    gid_t gid;
    QString user;
    QString group;
};

Identity dovecotIdentity()
{
    const bool root = geteuid() == 0;
    Identity identity{root ? uid_t(65534) : geteuid(), root ? gid_t(65534) : getegid(), QString(), QString()};
    if (const passwd* entry = getpwuid(identity.uid))
        identity.user = QString::fromLocal8Bit(entry->pw_name);
    if (const group* entry = getgrgid(identity.gid))
        identity.group = QString::fromLocal8Bit(entry->gr_name);
    if (root && identity.user.isEmpty())
        identity.user = QStringLiteral("nobody");
    if (root && identity.group.isEmpty())
        identity.group = QStringLiteral("nogroup");
    return identity;
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
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

QString DovecotServer::unavailableReason()
{
    if (dovecotProgram().isEmpty())
        return QStringLiteral(
            "dovecot is not installed: apt-get install dovecot-pop3d (scripts/test installs it)");
    if (dovecotIdentity().user.isEmpty())
        return QStringLiteral("the user running the tests has no name Dovecot could run as");
    return QString();
}

QString DovecotServer::mailDirectory() const
{
    return m_dir.path() + QStringLiteral("/mail/") + m_userName;
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
    m_port = freeLoopbackPort();
    if (m_port == 0) {
        fail(QStringLiteral("no free port on 127.0.0.1"));
        return false;
    }
    if (!writeConfiguration()) {
        fail(QStringLiteral("cannot write the Dovecot configuration in ") + m_dir.path());
        return false;
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

bool DovecotServer::writeConfiguration()
{
    const Identity identity = dovecotIdentity();
    const QString dir = m_dir.path();
    QDir root(dir);
    for (const char* sub : {"cur", "new", "tmp"})
        if (!root.mkpath(mailDirectory() + QLatin1Char('/') + QLatin1String(sub)))
            return false;
    if (!root.mkpath(QStringLiteral("run")) || !root.mkpath(QStringLiteral("state")))
        return false;

    // One arg() call: text inserted by it is never searched for placeholders again.
    const QByteArray passwd = QStringLiteral("%1:{PLAIN}%2:%3:%4::%5::\n")
                                  .arg(m_userName, m_password, QString::number(identity.uid),
                                       QString::number(identity.gid), mailDirectory())
                                  .toUtf8();
    if (!writeFile(root.filePath(QStringLiteral("passwd")), passwd, QFile::ReadOwner | QFile::WriteOwner))
        return false;

    const QString configuration = QStringLiteral(R"(protocols = pop3
listen = 127.0.0.1
base_dir = %1/run
state_dir = %1/state
log_path = %1/dovecot.log
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
# Tests log in with wrong passwords on purpose; without these every failed
# login from 127.0.0.1 would slow the following ones down by seconds.
auth_failure_delay = 0
default_internal_user = %2
default_internal_group = %3
default_login_user = %2
mail_location = maildir:%1/mail/%u
passdb {
  driver = passwd-file
  args = %1/passwd
}
userdb {
  driver = passwd-file
  args = %1/passwd
}
service pop3-login {
  chroot =
  inet_listener pop3 {
    address = 127.0.0.1
    port = %4
  }
}
service anvil {
  chroot =
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
)")
                                      .arg(dir, identity.user, identity.group, QString::number(m_port));
    if (!writeFile(root.filePath(QStringLiteral("dovecot.conf")), configuration.toUtf8(),
                   QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther))
        return false;
    return handOver(dir);
}

bool DovecotServer::handOver(const QString& path) const
{
    // Dovecot's mail processes run as the mail user and must own the Maildir
    // and the directories around it. Only root needs to hand anything over.
    if (geteuid() != 0)
        return true;
    const Identity identity = dovecotIdentity();
    auto give = [&identity](const QString& entry) {
        return ::chown(QFile::encodeName(entry).constData(), identity.uid, identity.gid) == 0;
    };
    if (!give(path))
        return false;
    QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        if (!give(it.next()))
            return false;
    return true;
}

bool DovecotServer::deliverMessage(const QString& subject)
{
    ++m_delivered;
    const QString name = QStringLiteral("%1.M%2P%3.postowl-test")
                             .arg(QDateTime::currentSecsSinceEpoch())
                             .arg(m_delivered)
                             .arg(QCoreApplication::applicationPid());
    const QString title = subject.isEmpty() ? QStringLiteral("Test message %1").arg(m_delivered) : subject;
    const QByteArray message = QStringLiteral("From: PostOwl Tests <tests@example.org>\r\n"
                                              "To: %1@example.org\r\n"
                                              "Subject: %2\r\n"
                                              "Message-ID: <%3@postowl.test>\r\n"
                                              "\r\n"
                                              "Body of %2.\r\n")
                                   .arg(m_userName, title, name)
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
