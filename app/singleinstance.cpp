#include "singleinstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QLocalSocket>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/un.h>
#endif

namespace {

const QByteArray RaiseRequest = QByteArrayLiteral("raise\n");
const QByteArray RaisedReply = QByteArrayLiteral("raised\n");

// When the process started, in clock ticks since boot: with the PID it names
// one process for good. Empty where the system does not tell.
QByteArray processStartTime(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    // The command name in parentheses may hold blanks and parentheses itself;
    // the start time is the 20th field after it.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.value(19);
}

} // namespace

SingleInstance::SingleInstance(const QString& profileName, const QString& folder, QObject* parent)
    : QObject(parent), m_profileName(profileName), m_folder(folder)
{
    const QByteArray hash = QCryptographicHash::hash(profileName.toUtf8(), QCryptographicHash::Sha256);
    m_key = QStringLiteral("postowl-") + QString::fromLatin1(hash.toHex().left(32));
#ifdef Q_OS_UNIX
    // A full path keeps the socket in the user's own folder instead of /tmp.
    m_serverName = m_folder + QLatin1Char('/') + m_key + QStringLiteral(".socket");
#ifdef Q_OS_LINUX
    // A socket's path has to fit sockaddr_un, with its terminating NUL. Beyond
    // that, the abstract namespace has no files and no length to speak of; its
    // name comes from the full path, so it stays the user's and the profile's.
    if (QFile::encodeName(m_serverName).size() >= qsizetype(sizeof(sockaddr_un::sun_path))) {
        const QByteArray path = QCryptographicHash::hash(m_serverName.toUtf8(), QCryptographicHash::Sha256);
        m_serverName = QStringLiteral("postowl-") + QString::fromLatin1(path.toHex().left(32));
        m_abstract = true;
    }
#endif
#else
    m_serverName = m_key;
#endif
    m_server.setSocketOptions(m_abstract ? QLocalServer::AbstractNamespaceOption
                                         : QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection())
            answer(socket);
    });
}

SingleInstance::~SingleInstance()
{
    // Close the socket before the lock goes, so the next run finds it free.
    m_server.close();
    if (m_lock && m_lock->isLocked())
        QFile::remove(ownerFileName());
}

QString SingleInstance::runtimeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::lockFileName() const
{
    return m_folder + QLatin1Char('/') + m_key + QStringLiteral(".lock");
}

QString SingleInstance::ownerFileName() const
{
    return m_folder + QLatin1Char('/') + m_key + QStringLiteral(".owner");
}

void SingleInstance::recordOwner()
{
    const qint64 pid = QCoreApplication::applicationPid();
    QSaveFile record(ownerFileName());
    if (record.open(QIODevice::WriteOnly)) {
        record.write(QByteArray::number(pid) + '\n' + processStartTime(pid) + '\n' + m_profileName.toUtf8() +
                     '\n');
        record.commit();
    }
}

// The lock names a running process that Qt takes for its holder; the holder's
// record tells whether that process is still the one that took the lock.
// Without a record (a run that ended before writing it) nothing is known.
bool SingleInstance::holderIsGone() const
{
    qint64 pid = 0;
    QString hostName;
    QString application;
    if (!m_lock->getLockInfo(&pid, &hostName, &application))
        return false;
    QFile record(ownerFileName());
    if (!record.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = record.read(4096).split('\n');
    const QByteArray recordedStart = lines.value(1);
    const QByteArray startNow = processStartTime(pid);
    return lines.value(0).toLongLong() == pid && !recordedStart.isEmpty() && !startNow.isEmpty() &&
           recordedStart != startNow;
}

SingleInstance::Claim SingleInstance::claim(int timeoutMs)
{
    const Claim claim = lock(timeoutMs);
    serve();
    return claim;
}

void SingleInstance::serve()
{
    if (!m_holding || m_serving)
        return;
    m_serving = true;
    recordOwner();
    listen();
}

SingleInstance::Claim SingleInstance::lock(int timeoutMs)
{
    QDir().mkpath(m_folder);
    m_lock = std::make_unique<QLockFile>(lockFileName());
    // Held for the whole run: only a holder that is no longer running makes it stale.
    m_lock->setStaleLockTime(0);
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (m_lock->tryLock(0)) {
            m_holding = true;
            return Claim::First;
        }
        if (m_lock->error() != QLockFile::LockFailedError) {
            // Without a usable runtime folder, watching twice beats not watching.
            qWarning("PostOwl: cannot lock %s; another run of the profile would not be noticed",
                     qPrintable(lockFileName()));
            return Claim::First;
        }
        if (holderIsGone() && m_lock->removeStaleLockFile())
            continue;
        if (askToRaise(int(qBound<qint64>(qint64(1), deadline.remainingTime(), qint64(1000)))))
            return Claim::OtherRaised;
        if (deadline.hasExpired())
            return Claim::OtherUnreachable;
        // The holder may be starting (not listening yet) or ending (lock about to go).
        QThread::msleep(50);
    }
}

void SingleInstance::listen()
{
    // We hold the lock: a socket left behind by a crashed run is ours to remove.
    if (!m_abstract)
        QLocalServer::removeServer(m_serverName);
    if (!m_server.listen(m_serverName))
        qWarning("PostOwl: cannot listen on %s: %s", qPrintable(m_serverName),
                 qPrintable(m_server.errorString()));
}

void SingleInstance::answer(QLocalSocket* socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A client that connects and says nothing must not hold a socket for ever.
    QTimer::singleShot(RequestTimeoutMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    const auto readRequest = [this, socket] {
        // The request is one short line; anything longer is not one of ours.
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > RaiseRequest.size())
                socket->disconnectFromServer();
            return;
        }
        if (socket->readLine(64) == RaiseRequest) {
            emit raiseRequested();
            socket->write(RaisedReply);
        }
        socket->disconnectFromServer();
    };
    connect(socket, &QLocalSocket::readyRead, this, readRequest);
    if (socket->bytesAvailable() > 0)
        readRequest();
}

bool SingleInstance::askToRaise(int timeoutMs)
{
    QLocalSocket socket;
    QEventLoop loop;
    QByteArray reply;
    connect(&socket, &QLocalSocket::connected, &loop, [&socket] { socket.write(RaiseRequest); });
    connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        reply += socket.readAll();
        if (reply.contains('\n'))
            loop.quit();
    });
    connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    connect(&socket, &QLocalSocket::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (m_abstract)
        socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(m_serverName);
    // A run in this very process answers from this event loop, so wait in one.
    if (socket.state() != QLocalSocket::UnconnectedState)
        loop.exec();
    reply += socket.readAll();
    return reply == RaisedReply;
}
