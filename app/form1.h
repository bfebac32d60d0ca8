#pragma once

#include "accounthost.h"
#include "mailcheck.h"
#include "mailcheckview.h"
#include "passwordkeyring.h"
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

    void mnuExit_Click();
    void mnuAccount_Click();
    void mnuRefresh_Click();
    void mnuAbout_Click();
    void SetTopMost(quint8 flag) override;
    void trayActivated(QSystemTrayIcon::ActivationReason reason);

    // MailCheckView
    void setStatusText(const QString& text) override;
    void setStatusColor(const QColor& background) override;
    void setMailIcon(bool mailWaiting) override;
    void setTitle(const QString& title) override;
    void UpdateTrayIcon() override;
    void mnuReader_Click() override;
    void SendSMSNotify() override;
    QWidget* dialogParent() override { return this; }

    // AccountHost (setTitle, SetTopMost and SendSMSNotify serve both)
    void setReaderMenuEnabled(bool enabled) override;
    void pauseChecks() override;
    void resumeChecks() override;

    MailCheck& mailCheck() { return m_mailCheck; }
    QSystemTrayIcon& trayIcon() { return m_tray; }

    // The tray's tooltip holds at most 63 characters.
    static constexpr int MaxTooltipLength = 63;

signals:
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void restoreWindowPosition();
    void AddTrayIcon();
    void hideToTray();
    double twipsPerPixel() const;
    void openAccountDialog();
    void readKeyringPasswords();

    std::unique_ptr<Ui::Form1> ui;
    GeneralStuff& m_run;
    SettingsStore& m_store;
    Desktop& m_desktop;
    MailCheck m_mailCheck;
    SmsClient m_sms;
    PasswordKeyring m_keyring;
    QSystemTrayIcon m_tray;
    bool m_trayBusy = false;
    bool m_placed = false; // shown, or put where the profile says
    bool m_unloaded = false;
};
