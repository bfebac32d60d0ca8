#include "mailcheck.h"

#include "blanks.h"
#include "clock.h"
#include "desktop.h"
#include "generalstuff.h"
#include "mailcheckview.h"
#include "passwordentry.h"
#include "programinfo.h"
#include "settingsstore.h"
#include "statuscolors.h"

MailCheck::MailCheck(GeneralStuff& run, Clock& clock, Desktop& desktop, MailCheckView& view, QObject* parent)
    : QObject(parent), conversation(run), m_run(run), m_clock(clock), m_desktop(desktop), m_view(view),
      m_notification(run, clock, desktop, view)
{
    Timer1.setInterval(5000);
    connect(&Timer1, &QTimer::timeout, this, &MailCheck::Timer1_Timer);
    // Queued: the end of a check can open modal windows (the reader question,
    // the error box), and a socket does not deliver its data again while one of
    // its own signals is still being handled. From inside readyRead, a check
    // started while the question is open would never hear its server.
    connect(&conversation, &Pop3Conversation::counted, this, &MailCheck::conversationCounted,
            Qt::QueuedConnection);
    connect(&conversation, &Pop3Conversation::failed, this, &MailCheck::conversationFailed,
            Qt::QueuedConnection);
    connect(&conversation, &Pop3Conversation::dialogue, this, &MailCheck::dialogue);
}

void MailCheck::start()
{
    m_started = true;
    Timer1.setInterval(100);
    Timer1.start();
}

void MailCheck::stop()
{
    m_started = false;
    Timer1.stop();
}

void MailCheck::pause()
{
    Timer1.stop();
}

void MailCheck::resume()
{
    // A check under way resumes the timer itself when it ends.
    if (m_started && !m_checking)
        Timer1.start();
}

qint64 MailCheck::minutesBetween(const QDateTime& from, const QDateTime& to)
{
    auto wallMinutes = [](const QDateTime& moment) {
        return moment.date().toJulianDay() * 24 * 60 + moment.time().hour() * 60 + moment.time().minute();
    };
    return wallMinutes(to) - wallMinutes(from);
}

void MailCheck::Timer1_Timer()
{
    if (!m_run.LastCheckTime.isNull() &&
        minutesBetween(m_run.LastCheckTime, m_clock.now()) < m_run.ProfileSettings.Interval)
        return;
    if (m_checking)
        return;
    // The passwords are still on their way from the desktop keyring; a later
    // tick starts the check once they are here (or the keyring has failed).
    if (m_run.PasswordsPending)
        return;
    startCheck();
}

void MailCheck::startCheck()
{
    m_checking = true;
    // A check run by hand starts the pacing too.
    m_started = true;
    Timer1.stop();
    Timer1.setInterval(5000);
    m_view.setStatusColor(StatusColors::checking());
    m_view.setStatusText(QStringLiteral("Starting"));
    const ProfileSettings& settings = m_run.ProfileSettings;
    conversation.setRemote(settings.ServerName, m_portOverride ? m_portOverride : profilePort(settings));
    conversation.setSecurity(settings.Security, settings.TrustedCertificate);

    if (trimBlanks(m_run.ProfileSettings.Password).isEmpty()) {
        // Typed passwords live for this run only; the prompt never stores them.
        PasswordEntry prompt(m_run.ProfileSettings);
        m_desktop.execDialog(prompt);
    }

    m_view.setStatusText(QStringLiteral("Checking Mail"));
    conversation.connectToServer();
}

void MailCheck::checkNow()
{
    m_run.LastCheckTime = QDateTime();
    Timer1_Timer();
}

void MailCheck::conversationCounted(int count)
{
    endConversation();
    m_notification.handleCount(count);
    emit checkEnded();
}

void MailCheck::conversationFailed(Pop3Conversation::Failure failure, const QString& description)
{
    switch (failure) {
    case Pop3Conversation::Failure::InvalidUser:
        m_view.setStatusColor(StatusColors::failure());
        m_view.setStatusText(QStringLiteral("Invalid UserID"));
        break;
    case Pop3Conversation::Failure::CannotLogon:
        m_view.setStatusColor(StatusColors::failure());
        m_view.setStatusText(QStringLiteral("Cannot logon"));
        // In memory only: the next check asks for the password again.
        m_run.ProfileSettings.Password.clear();
        break;
    case Pop3Conversation::Failure::UntrustedCertificate:
        // Nothing has been sent over this connection; it goes before the question.
        conversation.close();
        if (askToTrustCertificate()) {
            // Straight into the next check, which now accepts the certificate.
            m_checking = false;
            startCheck();
            return;
        }
        m_view.setStatusColor(StatusColors::failure());
        m_view.setStatusText(QStringLiteral("Problem."));
        break;
    case Pop3Conversation::Failure::SocketError:
        // The conversation has already let go of the server while the user reads this.
        m_desktop.message(m_view.dialogParent(), QMessageBox::Warning, ProgramInfo::title(),
                          QStringLiteral("The following TCP/IP communications error was reported: \r\n\r\n") +
                              description);
        m_view.setStatusColor(StatusColors::failure());
        m_view.setStatusText(QStringLiteral("Problem."));
        break;
    }
    endConversation();
    emit checkEnded();
}

bool MailCheck::askToTrustCertificate()
{
    ProfileSettings& settings = m_run.ProfileSettings;
    const QString crlf = QStringLiteral("\r\n");
    QString text;
    if (!settings.TrustedCertificate.isEmpty())
        text += QStringLiteral("The certificate of the POP3 server ") + settings.ServerName +
                QStringLiteral(" has changed.") + crlf;
    text += QStringLiteral("The POP3 server ") + settings.ServerName +
            QStringLiteral(" presented a certificate that cannot be trusted:") + crlf + crlf;
    const QStringList errors = conversation.certificateErrors();
    for (const QString& error : errors)
        text += error + crlf;
    text += crlf + QStringLiteral("SHA-256 fingerprint: ") + conversation.certificateFingerprint() + crlf +
            crlf + QStringLiteral("Trust this certificate for profile ") + settings.ProfileName +
            QStringLiteral(" ?");
    // The check stays under way while the question is open, so no other check
    // can start and ask the same question on top of it.
    const auto answer = m_desktop.message(m_view.dialogParent(), QMessageBox::Question, ProgramInfo::title(),
                                          text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes || conversation.certificateFingerprint().isEmpty())
        return false;
    settings.TrustedCertificate = conversation.certificateFingerprint();
    if (m_store && !m_store->saveKey(settings, &ProfileSettings::TrustedCertificate))
        qWarning("PostOwl: the trusted certificate could not be saved");
    return true;
}

void MailCheck::endConversation()
{
    conversation.close();
    m_checking = false;
    if (m_started)
        Timer1.start();
}

quint16 MailCheck::profilePort(const ProfileSettings& settings)
{
    if (settings.Port != 0)
        return settings.Port;
    return settings.Security == Pop3Conversation::ImplicitTls ? DefaultPop3sPort : DefaultPop3Port;
}

quint16 pop3PortFromEnvironment()
{
    const QString text = qEnvironmentVariable("POSTOWL_POP3_PORT").trimmed();
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const int port = text.toInt(&ok, 10);
    if (ok && port > 0 && port <= 65535)
        return quint16(port);
    // Someone meant to point this run elsewhere: say that it did not work.
    qWarning("PostOwl: POSTOWL_POP3_PORT=\"%s\" is no port from 1 to 65535; the profile's port is used",
             qPrintable(text));
    return 0;
}
