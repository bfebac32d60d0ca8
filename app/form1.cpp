#include "form1.h"

#include "about.h"
#include "account.h"
#include "desktop.h"
#include "generalstuff.h"
#include "programinfo.h"
#include "settingsstore.h"
#include "statuscolors.h"
#include "trialoverrides.h"
#include "ui_form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QPixmap>
#include <QRegion>
#include <QScreen>
#include <QStyle>

#include <cmath>
#include <utility>

namespace {

// Compiled in as the XPM sources they are: read from a resource file, the
// image reader would first load every image format plugin there is to ask
// whether one of them claims the file.
#include "resources/mailbox-flag-down.xpm"
#include "resources/mailbox-flag-up.xpm"

QIcon mailboxIcon(bool mailWaiting)
{
    return QIcon(QPixmap(mailWaiting ? mailbox_flag_up : mailbox_flag_down));
}

} // namespace

Form1::Form1(GeneralStuff& run, SettingsStore& store, Desktop& desktop, Clock& clock, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::Form1>()), m_run(run), m_store(store), m_desktop(desktop),
      m_mailCheck(run, store, m_network, clock, desktop, *this), m_sms(run, m_network), m_push(m_network),
      m_passwords(run, store, *this)
{
    ui->setupUi(this);
    // A small fixed window: no resizing, no minimise or maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    ui->StatusText->setFont([this] {
        QFont font = ui->StatusText->font();
        font.setPointSizeF(15.75);
        return font;
    }());
    setStatusColor(StatusColors::checking());
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    ui->centralwidget->setFixedSize(234, 34);

    connect(ui->mnuExit, &QAction::triggered, this, &Form1::mnuExit_Click);
    connect(ui->mnuAccount, &QAction::triggered, this, &Form1::mnuAccount_Click);
    connect(ui->mnuReader, &QAction::triggered, this, &Form1::mnuReader_Click);
    connect(ui->mnuRefresh, &QAction::triggered, this, &Form1::mnuRefresh_Click);
    connect(ui->mnuAbout, &QAction::triggered, this, &Form1::mnuAbout_Click);
    connect(&m_tray, &QSystemTrayIcon::activated, this, &Form1::trayActivated);
    // The session is ending: the session manager may end the program without
    // a quit (or the user may still cancel the logout), so the place is saved
    // now; the quit that usually follows saves it again and unloads.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] {
        if (!m_unloaded)
            saveWindowPosition();
    });
    connect(&m_notifier, &DesktopNotifier::activated, this, &Form1::notificationChosen);
    // A new refresh token from the provider goes to the keyring at once.
    connect(&m_mailCheck, &MailCheck::refreshTokenChanged, this,
            [this](const QString& refreshToken) { m_passwords.storeRefreshToken(refreshToken); });
    connect(&m_notifier, &DesktopNotifier::unanswered, this, &Form1::showInTray);
    connect(&m_tray, &QSystemTrayIcon::messageClicked, this, &Form1::notificationChosen);
}

Form1::~Form1() = default;

bool Form1::Form_Load(const QString& profileName)
{
    setWindowTitle(ProgramInfo::title());
    m_run.LastCheckTime = QDateTime();
    m_run.LastMessageCount = 0;
    ProfileSettings& settings = m_run.ProfileSettings;
    settings = ProfileSettings();
    settings.ProfileName = profileName;
    restoreWindowPosition();

    settings.ServerName = m_store.readServerName(profileName);
    if (settings.ServerName.isEmpty()) {
        openAccountDialog();
        // Ended (by a signal) while the dialog was open: nothing more to start.
        if (m_unloaded)
            return false;
        settings.ServerName = m_store.readServerName(profileName);
    }
    if (settings.ServerName.isEmpty()) {
        m_desktop.message(nullptr, QMessageBox::Warning, ProgramInfo::title(),
                          QStringLiteral("No valid configuration for profile ") + profileName +
                              QStringLiteral(" found."));
        Form_Unload();
        return false;
    }

    // A hand edit the program could not read is said in the verbose log.
    for (const QString& note : m_store.loadProfile(settings))
        emit verboseNote(note);
    if (settings.PasswordStore == 1)
        readKeyringPasswords();
    SetTopMost(settings.AlwaysOnTop);
    setReaderMenuEnabled(!settings.MailReader.isEmpty());
    setWindowTitle(settings.NameInBar);
    setMailIcon(false);
    setStatusText(ProgramInfo::title());
    m_mailCheck.start();
    AddTrayIcon();
    if (settings.SysTray == 1)
        hideToTray();
    else
        show();
    return true;
}

void Form1::readKeyringPasswords()
{
    // The read runs on while start-up ends and the window shows; the first
    // check waits for it.
    m_passwords.load([this](const QString& error) {
        // Start-up reads once: this is the run's one message about it. The
        // password is then asked for at check time, never kept anywhere else.
        if (!error.isEmpty())
            m_desktop.message(this, QMessageBox::Information, ProgramInfo::title(),
                              QStringLiteral("The desktop keyring could not be reached: ") + error +
                                  QStringLiteral("\r\nPostOwl will ask for the password."));
    });
}

void Form1::restoreWindowPosition()
{
    const SettingsStore::WindowPosition stored =
        m_store.readWindowPosition(m_run.ProfileSettings.ProfileName);
    // Where a window would open anyway is the desktop's to decide once it is
    // shown, so one stored edge alone cannot be combined with it: both or none.
    if (stored.x < 0 || stored.y < 0)
        return;
    const QPoint place(int(std::lround(stored.x / twipsPerPixel())),
                       int(std::lround(stored.y / twipsPerPixel())));
    // A window is moved back by its title bar: unless all of it lies on the
    // screens as they are now (one may have gone), the window could be out of
    // reach, and the place counts as not set.
    const QRect titleBar(place,
                         QSize(width(), style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this)));
    QRegion screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens += screen->geometry();
    if (!QRegion(titleBar).subtracted(screens).isEmpty())
        return;
    move(place);
    m_placed = true;
}

double Form1::twipsPerPixel() const
{
    const int dpi = logicalDpiX();
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}

void Form1::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    saveWindowPosition();
    m_tray.hide();
    m_mailCheck.stop();
    close();
    emit unloaded();
}

void Form1::saveWindowPosition()
{
    // A hidden window counts as not minimised: its position is saved too. A
    // window that never had a place of its own (never shown, nothing restored)
    // is saved as "not set", so the next start lets the desktop place it.
    if (isMinimized())
        return;
    const double twips = twipsPerPixel();
    const int x = m_placed ? int(std::lround(pos().x() * twips)) : -1;
    const int y = m_placed ? int(std::lround(pos().y() * twips)) : -1;
    if (m_store.saveWindowPosition(m_run.ProfileSettings.ProfileName, x, y))
        return;
    if (!m_store.lastRefusal().isEmpty())
        m_desktop.message(nullptr, QMessageBox::Warning, ProgramInfo::title(), m_store.lastRefusal());
    else
        qWarning("PostOwl: the window position could not be saved");
}

void Form1::showEvent(QShowEvent* event)
{
    m_placed = true;
    QMainWindow::showEvent(event);
}

void Form1::paintEvent(QPaintEvent* event)
{
    QMainWindow::paintEvent(event);
    // Said once: from here on the window is on the screen.
    if (!std::exchange(m_painted, true))
        emit verboseNote(QStringLiteral("Window shown"));
}

void Form1::closeEvent(QCloseEvent* event)
{
    if (m_unloaded) {
        event->accept();
        return;
    }
    // The close box only puts the program away; "Exit" ends it.
    event->ignore();
    hideToTray();
}

void Form1::hideToTray()
{
    // Without a tray nothing could bring a hidden window back.
    if (m_desktop.trayAvailable())
        hide();
    else
        showMinimized();
}

void Form1::AddTrayIcon()
{
    UpdateTrayIcon();
    m_tray.show();
}

void Form1::UpdateTrayIcon()
{
    m_tray.setIcon(windowIcon());
    // A watched folder that is being reconnected says so, and why.
    QString tip = windowTitle();
    if (!m_run.ConnectionNote.isEmpty())
        tip += QLatin1Char('\n') + m_run.ConnectionNote;
    m_tray.setToolTip(tip.left(MaxTooltipLength));
}

void Form1::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    // Behind an open modal window (the password prompt, a dialog) the main
    // window could not take input anyway: the click has no effect.
    if (m_trayBusy || m_run.ReaderQuestionOpen || QApplication::activeModalWidget())
        return;
    m_trayBusy = true;
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::MiddleClick:
        bringToFront();
        break;
    case QSystemTrayIcon::Unknown:
        break;
    }
    m_trayBusy = false;
}

void Form1::bringToFront()
{
    QWidget* front = QApplication::activeModalWidget();
    if (!front)
        front = this;
    front->showNormal();
    front->raise();
    front->activateWindow();
}

void Form1::SetTopMost(quint8 flag)
{
    const bool onTop = flag == 1;
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    // Changing a window flag hides the window; put it back as it was.
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (wasVisible)
        show();
}

void Form1::mnuExit_Click()
{
    const auto answer = m_desktop.message(this, QMessageBox::Question, ProgramInfo::applicationTitle(),
                                          QStringLiteral("Do you really want to terminate PostOwl ?"),
                                          QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::Yes)
        Form_Unload();
}

void Form1::mnuAccount_Click()
{
    openAccountDialog();
}

void Form1::openAccountDialog()
{
    // Made afresh for every opening, so it always shows the record as it is now.
    Account dialog(m_run, m_store, m_desktop, *this, m_sms.gatewayHost(), this);
    m_desktop.execDialog(dialog);
}

void Form1::mnuReader_Click()
{
    // Whatever goes wrong starting the reader is not the user's concern here.
    m_desktop.startProgram(m_run.ProfileSettings.MailReader);
}

void Form1::mnuRefresh_Click()
{
    m_mailCheck.checkNow();
}

void Form1::mnuAbout_Click()
{
    About box(m_run, m_desktop, this);
    m_desktop.execDialog(box);
}

void Form1::setTrialOverrides(const TrialOverrides& overrides)
{
    m_mailCheck.setPort(overrides.pop3Port);
    m_mailCheck.setImapPort(overrides.imapPort);
    m_sms.setGateway(overrides.smsHost, overrides.smsPort);
}

void Form1::SendSMSNotify()
{
    m_sms.SendSMSNotify();
}

bool Form1::notificationPlaysSound()
{
    return m_run.ProfileSettings.Popup != 0 && m_notifier.playsSound();
}

void Form1::announceNewMail(const QString& text, const QString& senders, bool withSound)
{
    const ProfileSettings& settings = m_run.ProfileSettings;
    // With the senders the count moves up into the summary, which every
    // service shows; the desktop names the program beside it.
    if (settings.Popup != 0)
        m_notifier.show(senders.isEmpty() ? ProgramInfo::applicationTitle() : text,
                        senders.isEmpty() ? text : senders, mailboxIcon(true).pixmap(32, 32).toImage(),
                        withSound);
    // A subject goes to the push service only when the user asked for it.
    if (!settings.PushURL.isEmpty())
        pushNotify(settings.PushSenders == 1 && !senders.isEmpty() ? text + QLatin1Char('\n') + senders
                                                                   : text);
}

void Form1::signIn(const OAuthConfig& config, std::function<void(const QString& error)> done)
{
    m_mailCheck.signIn(config, std::move(done));
}

void Form1::pushNotify(const QString& text)
{
    m_push.push(m_run.ProfileSettings.PushURL, text);
}

// Where no notification service took it, the tray's balloon shows it.
void Form1::showInTray(const QString& summary, const QString& body)
{
    if (m_desktop.trayAvailable() && m_tray.isVisible())
        m_tray.showMessage(summary, body, mailboxIcon(true));
}

// The user chose the notification: to the mail, like the Mailbox command, or
// without a reader to the window.
void Form1::notificationChosen()
{
    if (!m_run.ProfileSettings.MailReader.isEmpty()) {
        mnuReader_Click();
        return;
    }
    bringToFront();
}

void Form1::setStatusText(const QString& text)
{
    ui->StatusText->setText(text);
}

void Form1::setStatusColor(const QColor& background)
{
    QPalette palette = ui->StatusText->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, Qt::black);
    ui->StatusText->setPalette(palette);
}

void Form1::setMailIcon(bool mailWaiting)
{
    setWindowIcon(mailboxIcon(mailWaiting));
}

void Form1::setTitle(const QString& title)
{
    setWindowTitle(title);
}

void Form1::setReaderMenuEnabled(bool enabled)
{
    ui->mnuReader->setEnabled(enabled);
}

void Form1::pauseChecks()
{
    m_mailCheck.pause();
}

void Form1::resumeChecks()
{
    m_mailCheck.resume();
}
