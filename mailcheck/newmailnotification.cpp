#include "newmailnotification.h"

#include "blanks.h"
#include "clock.h"
#include "desktop.h"
#include "generalstuff.h"
#include "mailcheckview.h"
#include "programinfo.h"
#include "statuscolors.h"

NewMailNotification::NewMailNotification(GeneralStuff& run, Clock& clock, Desktop& desktop,
                                         MailCheckView& view)
    : m_run(run), m_clock(clock), m_desktop(desktop), m_view(view)
{
}

void NewMailNotification::handleCount(int count, std::optional<bool> arrived, const QString& senders)
{
    const bool mailWaiting = count != 0;
    const QString status =
        mailWaiting ? QString::number(count) + QStringLiteral(" message(s)") : QStringLiteral("No messages");
    m_view.setStatusColor(mailWaiting ? StatusColors::mailWaiting() : StatusColors::failure());
    m_view.setStatusText(status);
    m_view.setMailIcon(mailWaiting);
    m_view.setTitle(m_run.ProfileSettings.NameInBar + QStringLiteral(" - ") + status);
    m_run.LastCheckTime = m_clock.now();
    m_view.UpdateTrayIcon();

    const int previousCount = m_run.LastMessageCount;
    // Recorded before anything is sent, so an SMS composed while the reader
    // question is still open carries this check's count.
    m_run.LastMessageCount = count;

    if (!mailWaiting)
        return;
    // Notify only once: a count that did not change, or with IMAP a count
    // that no new message raised (mail read elsewhere lowers it), stays quiet.
    const bool same = arrived ? !*arrived : count == previousCount;
    if (m_run.ProfileSettings.NotifyOnce != 0 && same)
        return;
    notify(status, senders);
}

void NewMailNotification::notify(const QString& status, const QString& senders)
{
    const ProfileSettings& settings = m_run.ProfileSettings;
    // A notification that plays the sound itself replaces the beep: one
    // sound for one notification.
    const bool soundWithNotification = settings.PlaySound == 1 && m_view.notificationPlaysSound();
    if (settings.PlaySound == 1 && !soundWithNotification)
        m_desktop.beep();
    m_view.announceNewMail(settings.NameInBar.isEmpty() ? status
                                                        : settings.NameInBar + QStringLiteral(" - ") + status,
                           senders, soundWithNotification);

    if (!trimBlanks(settings.SMSMobile).isEmpty() && !trimBlanks(settings.SMSUserID).isEmpty() &&
        !trimBlanks(settings.SMSPassword).isEmpty())
        m_view.SendSMSNotify();

    // A check that completes while the question is open neither asks again nor starts the reader.
    if (settings.StartReader != 1 || m_run.ReaderQuestionOpen)
        return;
    if (settings.AskBefore == 0) {
        m_view.mnuReader_Click();
        return;
    }
    m_run.ReaderQuestionOpen = true;
    const auto answer = m_desktop.message(m_view.dialogParent(), QMessageBox::Question, ProgramInfo::title(),
                                          QStringLiteral("Do you want to start your mail reader ?"),
                                          QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::Yes)
        m_view.mnuReader_Click();
    m_run.ReaderQuestionOpen = false;
}
