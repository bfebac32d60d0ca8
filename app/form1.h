#pragma once

#include "accounthost.h"
#include "desktopnotifier.h"
#include "mailcheck.h"
#include "mailcheckview.h"
#include "networkaccess.h"
#include "profilepasswords.h"
#include "pushclient.h"
#include "smsclient.h"

#include <QMainWindow>
#include <QSystemTrayIcon>

#include <memory>

namespace Ui {
class Form1;
}
class Clock;
class Desktop;
class SettingsStore;
struct GeneralStuff;
struct TrialOverrides;

// The main window, and with it the program: start-up, the status line, the
// tray icon, the menu bar and the end of the run.
class Form1 : public QMainWindow, public MailCheckView, public AccountHost
{
    Q_OBJECT

public:
    Form1(GeneralStuff& run, SettingsStore& store, Desktop& desktop, Clock& clock, QWidget* parent = nullptr);
    ~Form1() override;

    // Settles the profile and starts checking. False when the profile has no
    // server: the user has been told and the run is over.
    bool Form_Load(const QString& profileName);
    // Ends the run: saves the window position and removes the tray icon.
    void Form_Unload();

    // Points this run at servers of one's own, for trials.
    void setTrialOverrides(const TrialOverrides& overrides);

    void mnuExit_Click();
    void mnuAccount_Click();
    void mnuRefresh_Click();
    void mnuAbout_Click();
    void SetTopMost(quint8 flag) override;
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    // Shows the window and puts it in front; behind an open modal window that
    // window comes to the front instead. Another start of the profile asks for it.
    void bringToFront();

    // MailCheckView
    void setStatusText(const QString& text) override;
    void setStatusColor(const QColor& background) override;
    void setMailIcon(bool mailWaiting) override;
    void setTitle(const QString& title) override;
    void UpdateTrayIcon() override;
    void mnuReader_Click() override;
    void SendSMSNotify() override;
    bool notificationPlaysSound() override;
    void announceNewMail(const QString& text, const QString& senders, bool withSound) override;
    QWidget* dialogParent() override { return this; }

    // AccountHost (setTitle, SetTopMost and SendSMSNotify serve both)
    void setReaderMenuEnabled(bool enabled) override;
    void pauseChecks() override;
    void resumeChecks() override;
    void pushNotify(const QString& text) override;
    void signIn(const OAuthConfig& config, std::function<void(const QString& error)> done) override;

    MailCheck& mailCheck() { return m_mailCheck; }
    QSystemTrayIcon& trayIcon() { return m_tray; }
    DesktopNotifier& desktopNotifier() { return m_notifier; }
    PushClient& pushClient() { return m_push; }

    // The tray's tooltip holds at most 63 characters.
    static constexpr int MaxTooltipLength = 63;

signals:
    void unloaded();
    // A line for the verbose log that is not part of a check's dialogue.
    void verboseNote(const QString& line);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void restoreWindowPosition();
    void saveWindowPosition();
    void AddTrayIcon();
    void hideToTray();
    double twipsPerPixel() const;
    void openAccountDialog();
    void notificationChosen();
    void showInTray(const QString& summary, const QString& body);
    void readKeyringPasswords();

    std::unique_ptr<Ui::Form1> ui;
    GeneralStuff& m_run;
    SettingsStore& m_store;
    Desktop& m_desktop;
    NetworkAccess m_network; // the run's one HTTP client, made before its users
    MailCheck m_mailCheck;
    SmsClient m_sms;
    DesktopNotifier m_notifier;
    PushClient m_push;
    ProfilePasswords m_passwords;
    QSystemTrayIcon m_tray;
    bool m_trayBusy = false;
    bool m_placed = false; // shown, or put where the profile says
    bool m_painted = false;
    bool m_unloaded = false;
};
