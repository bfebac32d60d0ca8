#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <memory>

class QLockFile;

// One run per profile. The first run of a profile holds a lock file in the
// user's runtime folder and listens on a local socket beside it; a later start
// of the same profile finds the lock taken, asks the running one through the
// socket to bring its window up, and ends. Both names come from a hash of the
// profile name, so any name is safe and different profiles run side by side.
// Where the folder's path is too long for a socket's name, the socket lives in
// Linux's abstract namespace under a name taken from that path.
//
// A lock outlives a run that crashed. Qt takes it over when its process is
// gone or is another program; beside the lock, the holder records its
// process's start time and its profile, so that a lock whose PID has since
// been given to another process (another profile's PostOwl, say) is taken
// over too.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Claim {
        First,           // this run watches the profile
        OtherRaised,     // another run watches it and has brought its window up
        OtherUnreachable // another run holds the lock but did not answer
    };

    // How long the raise socket waits for a client's request before it hangs up.
    static constexpr int RequestTimeoutMs = 2000;

    explicit SingleInstance(const QString& profileName, const QString& folder = runtimeFolder(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the profile's lock, or asks its holder to come to the front. Waits
    // at most timeoutMs for a holder that is still starting or just ending.
    Claim claim(int timeoutMs = 3000);
    // The same in two steps, for a start-up that puts its window up first:
    // lock() decides who watches the profile; serve() then records this run
    // as the holder and starts answering later starts, which meanwhile wait
    // for it as for any holder that is still starting.
    Claim lock(int timeoutMs = 3000);
    void serve();

    static QString runtimeFolder();
    QString lockFileName() const;
    // The holder's record: its PID, its process's start time and its profile.
    QString ownerFileName() const;
    QString serverName() const { return m_serverName; }

signals:
    // Another start of this profile wants the window brought up.
    void raiseRequested();

private:
    void listen();
    void recordOwner();
    bool holderIsGone() const;
    void answer(class QLocalSocket* socket);
    bool askToRaise(int timeoutMs);

    QString m_profileName;
    QString m_folder;
    QString m_key;
    QString m_serverName;
    bool m_abstract = false;
    bool m_holding = false; // the lock is ours
    bool m_serving = false;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};
