// Thousands of mail checks in a row through the real scheduler and the real
// POP3 conversation against a real Dovecot on 127.0.0.1. Every check's result
// is verified, and the process must not grow: resident memory and open file
// descriptors are compared after a warm-up and at the end.
//
//   postowl-soak [checks]          (default 10000)
//
// Exit status: 0 all good, 1 a wrong result or growth, 2 could not run,
// 77 Dovecot is not available here (CTest counts that as skipped).

#include "dovecotserver.h"
#include "fakeclock.h"
#include "fakedesktop.h"
#include "generalstuff.h"
#include "mailcheck.h"
#include "networkaccess.h"
#include "recordingview.h"
#include "statuscolors.h"
#include "temporarystore.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTimer>

#include <cstdio>

#include <sys/resource.h>

#if defined(__SANITIZE_ADDRESS__)
#define POSTOWL_SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define POSTOWL_SOAK_ASAN 1
#endif
#endif

namespace {

constexpr int DefaultChecks = 10000;
constexpr int WarmUpChecks = 20;
constexpr int Messages = 3;
constexpr int CheckTimeoutMs = 10000;
// Allocator noise; a leak of a few hundred bytes a check passes this within a few thousand checks.
constexpr qint64 RssGrowthLimitKb = 2048;
constexpr int MaxReportedFaults = 20;

const QString Counted = QStringLiteral("3 message(s)");

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // A /proc file reports the size 0: read it whole rather than up to an "end".
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray& line : lines)
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// CPU time of this process alone; Dovecot's forks for every login are not in it.
double ownCpuSeconds()
{
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int openFds()
{
    // The listing's own descriptor is counted every time, so differences are exact.
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

// A port on 127.0.0.1 where nobody listens: the connection is refused.
quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

// What one check does differently from a plain successful one.
enum class Kind { Counted, WrongPassword, PromptedPassword, RefusedConnection, LineBreakInUserName };

const char* kindName(Kind kind)
{
    switch (kind) {
    case Kind::Counted:
        return "counted";
    case Kind::WrongPassword:
        return "wrong password";
    case Kind::PromptedPassword:
        return "typed at the prompt";
    case Kind::RefusedConnection:
        return "refused connection";
    case Kind::LineBreakInUserName:
        return "line break in user name";
    }
    return "?";
}

// Every tenth check logs on with a wrong password, which clears the password,
// so the next one asks for it; a few others fail before or without a login.
Kind kindOf(int index)
{
    if (index % 10 == 9)
        return Kind::WrongPassword;
    if (index > 0 && index % 10 == 0)
        return Kind::PromptedPassword;
    if (index % 50 == 24)
        return Kind::RefusedConnection;
    if (index % 50 == 36)
        return Kind::LineBreakInUserName;
    return Kind::Counted;
}

class Soak
{
public:
    Soak(const DovecotServer& server, quint16 refusedPort)
        : m_server(server), m_refusedPort(refusedPort),
          m_check(m_run, m_settings.store, m_network, m_clock, m_desktop, m_view)
    {
        ProfileSettings& settings = m_run.ProfileSettings;
        settings.ProfileName = QStringLiteral("Soak");
        settings.ServerName = QStringLiteral("127.0.0.1");
        settings.UserName = server.userName();
        settings.Password = server.password();
        settings.Interval = 0; // every tick is due
        settings.PlaySound = 1;
        settings.NotifyOnce = 1;
        settings.NameInBar = QStringLiteral("Soak");
        m_check.setPort(server.port());
    }

    // Runs check number `index`; an empty result means it was right.
    QString runCheck(int index)
    {
        const Kind kind = kindOf(index);
        ProfileSettings& settings = m_run.ProfileSettings;
        settings.UserName = m_server.userName();
        m_check.setPort(m_server.port());
        switch (kind) {
        case Kind::Counted:
            break;
        case Kind::WrongPassword:
            settings.Password = QStringLiteral("not-") + m_server.password();
            break;
        case Kind::PromptedPassword:
            if (!settings.Password.isEmpty())
                return QStringLiteral("the wrong password before was not cleared");
            m_desktop.handleNextDialog([this](QDialog& dialog) {
                auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("Text1"));
                auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("Command1"));
                if (!field || !ok)
                    return int(QDialog::Rejected);
                field->setText(m_server.password());
                ok->click();
                return dialog.result();
            });
            break;
        case Kind::RefusedConnection:
            m_check.setPort(m_refusedPort);
            break;
        case Kind::LineBreakInUserName:
            settings.UserName = m_server.userName() + QStringLiteral("\r\nQUIT");
            break;
        }

        const bool throughRefresh = index % 2 == 0;
        // Refresh forgets the last check time, so that the check runs whatever the interval.
        const QDateTime lastCheckBefore = throughRefresh ? QDateTime() : m_run.LastCheckTime;
        m_clock.advanceSeconds(7);
        if (!waitForCheck(throughRefresh))
            return QStringLiteral("the check did not end within %1 ms").arg(CheckTimeoutMs);

        QString status;
        QColor colour;
        bool counted = false;
        int boxes = 0;
        int dialogs = 0;
        switch (kind) {
        case Kind::Counted:
            status = Counted, colour = StatusColors::mailWaiting(), counted = true;
            break;
        case Kind::PromptedPassword:
            status = Counted, colour = StatusColors::mailWaiting(), counted = true, dialogs = 1;
            break;
        case Kind::WrongPassword:
            status = QStringLiteral("Cannot logon"), colour = StatusColors::failure();
            break;
        case Kind::LineBreakInUserName:
            status = QStringLiteral("Invalid UserID"), colour = StatusColors::failure();
            break;
        case Kind::RefusedConnection:
            status = QStringLiteral("Problem."), colour = StatusColors::failure(), boxes = 1;
            break;
        }

        QStringList faults;
        const QStringList history{QStringLiteral("Starting"), QStringLiteral("Checking Mail"), status};
        if (m_view.statusHistory != history)
            faults << QStringLiteral("status line went %1")
                          .arg(m_view.statusHistory.join(QStringLiteral(" > ")));
        if (m_view.statusColor != colour)
            faults << QStringLiteral("status colour %1").arg(m_view.statusColor.name());
        if (m_desktop.messages.size() != boxes)
            faults << QStringLiteral("%1 message box(es): %2")
                          .arg(m_desktop.messages.size())
                          .arg(m_desktop.messageTexts().join('|'));
        if (m_desktop.shownDialogs.size() != dialogs)
            faults << QStringLiteral("%1 dialog(s) shown").arg(m_desktop.shownDialogs.size());
        if (counted && m_run.LastCheckTime != m_clock.now())
            faults << QStringLiteral("LastCheckTime not set by a completed check");
        if (!counted && m_run.LastCheckTime != lastCheckBefore)
            faults << QStringLiteral("LastCheckTime changed by a failed check");
        if (m_run.LastMessageCount != Messages)
            faults << QStringLiteral("LastMessageCount %1").arg(m_run.LastMessageCount);
        if (kind == Kind::WrongPassword && !settings.Password.isEmpty())
            faults << QStringLiteral("the refused password was kept");
        if (counted && settings.Password != m_server.password())
            faults << QStringLiteral("password %1 after a completed check").arg(settings.Password);
        if (!m_check.isTicking())
            faults << QStringLiteral("Timer1 not running again");

        // The soak's own records must not grow with the run.
        m_view.statusHistory.clear();
        m_desktop.messages.clear();
        m_desktop.shownDialogs.clear();
        if (faults.isEmpty())
            return QString();
        return QStringLiteral("%1 check: %2")
            .arg(QLatin1String(kindName(kind)), faults.join(QStringLiteral("; ")));
    }

    int beeps() const { return m_desktop.beeps; }

private:
    // Starts one check, half of them through Refresh, and runs the event loop
    // until the conversation has ended one way or the other.
    bool waitForCheck(bool throughRefresh)
    {
        bool ended = false;
        QEventLoop loop;
        auto finish = [&] {
            ended = true;
            loop.quit();
        };
        const auto endedConnection = QObject::connect(&m_check, &MailCheck::checkEnded, &loop, finish);
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(CheckTimeoutMs);

        if (throughRefresh)
            m_check.checkNow();
        else
            m_check.Timer1_Timer();
        if (!ended)
            loop.exec();
        QObject::disconnect(endedConnection);
        return ended && !m_check.isChecking();
    }

    const DovecotServer& m_server;
    quint16 m_refusedPort;
    GeneralStuff m_run;
    TemporaryStore m_settings;
    FakeClock m_clock;
    FakeDesktop m_desktop;
    RecordingView m_view;
    NetworkAccess m_network;
    MailCheck m_check;
};

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);

    int checks = DefaultChecks;
    if (argc > 1) {
        bool ok = false;
        checks = QString::fromLocal8Bit(argv[1]).toInt(&ok);
        if (!ok || checks <= WarmUpChecks) {
            std::fprintf(stderr, "usage: postowl-soak [checks]   (more than %d checks)\n", WarmUpChecks);
            return 2;
        }
    }

    const QString unavailable = DovecotServer::unavailableReason();
    if (!unavailable.isEmpty()) {
        std::fprintf(stderr, "postowl-soak: skipped: %s\n", qPrintable(unavailable));
        return 77;
    }
    DovecotServer server(Messages);
    if (!server.start()) {
        std::fprintf(stderr, "postowl-soak: cannot start Dovecot: %s\n", qPrintable(server.errorString()));
        return 2;
    }
    const quint16 refusedPort = closedPort();
    if (refusedPort == 0) {
        std::fprintf(stderr, "postowl-soak: no free port on 127.0.0.1\n");
        return 2;
    }

    std::printf("postowl-soak: %d checks against Dovecot on 127.0.0.1:%u\n", checks, unsigned(server.port()));
    std::fflush(stdout);

    int wrongResults = 0;
    int byKind[5] = {};
    qint64 rssStart = 0;
    int fdsStart = 0;
    QElapsedTimer measured;
    double cpuStart = 0;
    {
        Soak soak(server, refusedPort);
        for (int index = 0; index < checks; ++index) {
            if (index == WarmUpChecks) {
                rssStart = residentKb();
                fdsStart = openFds();
                std::printf("after %d warm-up checks: VmRSS %lld kB, %d open fds\n", WarmUpChecks,
                            static_cast<long long>(rssStart), fdsStart);
                std::fflush(stdout);
                measured.start();
                cpuStart = ownCpuSeconds();
            }
            const QString fault = soak.runCheck(index);
            ++byKind[int(kindOf(index))];
            if (!fault.isEmpty()) {
                if (++wrongResults <= MaxReportedFaults)
                    std::printf("check %d: %s\n", index + 1, qPrintable(fault));
                // A check that did not end leaves the conversation running; nothing after it would mean
                // anything.
                if (fault.contains(QStringLiteral("did not end")))
                    break;
            }
        }

        const double seconds = measured.nsecsElapsed() / 1e9;
        const double cpu = ownCpuSeconds() - cpuStart;
        const qint64 rssEnd = residentKb();
        const int fdsEnd = openFds();
        std::printf("after %d checks: VmRSS %lld kB, %d open fds (%+lld kB, %+d fds)\n", checks,
                    static_cast<long long>(rssEnd), fdsEnd, static_cast<long long>(rssEnd - rssStart),
                    fdsEnd - fdsStart);
        std::printf("checks: %d counted, %d typed at the prompt, %d wrong password, %d refused connection, "
                    "%d line break in user name; %d beep(s)\n",
                    byKind[int(Kind::Counted)], byKind[int(Kind::PromptedPassword)],
                    byKind[int(Kind::WrongPassword)], byKind[int(Kind::RefusedConnection)],
                    byKind[int(Kind::LineBreakInUserName)], soak.beeps());
        const int timed = checks - WarmUpChecks;
        std::printf("speed: %.1f checks/s (%d checks in %.1f s after the warm-up); "
                    "CPU of this process %.2f ms a check (Dovecot's own work not counted)\n",
                    seconds > 0 ? timed / seconds : 0.0, timed, seconds, cpu * 1000 / timed);

        bool grew = false;
#ifdef POSTOWL_SOAK_ASAN
        // AddressSanitizer keeps freed memory in quarantine: resident memory
        // says nothing here. LeakSanitizer judges the leaks at exit instead.
        std::printf("memory: not judged under AddressSanitizer (LeakSanitizer reports at exit)\n");
#else
        if (rssEnd - rssStart > RssGrowthLimitKb) {
            std::printf("FAIL: resident memory grew by %lld kB (limit %lld kB)\n",
                        static_cast<long long>(rssEnd - rssStart), static_cast<long long>(RssGrowthLimitKb));
            grew = true;
        }
#endif
        if (fdsEnd > fdsStart) {
            std::printf("FAIL: %d more open file descriptors than after the warm-up\n", fdsEnd - fdsStart);
            grew = true;
        }
        if (wrongResults > 0)
            std::printf("FAIL: %d check(s) with a wrong result\n", wrongResults);
        if (wrongResults > 0 || grew)
            return 1;
    }
    std::printf("PASS\n");
    return 0;
}
