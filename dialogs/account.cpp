#include "account.h"

#include "accounthost.h"
#include "autostartentry.h"
#include "blanks.h"
#include "desktop.h"
#include "generalstuff.h"
#include "hashmask.h"
#include "leadingnumber.h"
#include "oauthconfig.h"
#include "programinfo.h"
#include "pushaddress.h"
#include "scramblepassword.h"
#include "serveroptions.h"
#include "settingsstore.h"
#include "ui_account.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QUrl>

#include <cmath>
#include <limits>

namespace {

const QString HelpPage = QStringLiteral("http://www.postowl.example/help.html#HELP");

const QString InvalidFieldsMessage =
    QStringLiteral("The following field must have valid values: Servername, User Identification and "
                   "Interval. Please correct the data entered.");
const QString InvalidMobileMessage =
    QStringLiteral("The GSM number must be in the international format including a valid country code "
                   "(e.g  +419999999).");
const QString NotifyOnceWarning =
    QStringLiteral("WARNING: It is strongly recommended to enable 'Notify only once' if you want to "
                   "receive messages on your GSM phone.");
const QString InvalidPushUrlMessage = QStringLiteral("The push URL must start with http:// or https://.");
const QString TestPushText = QStringLiteral("This is a test message from PostOwl.");
const QString NeedsTlsMessage =
    QStringLiteral("Signing in with the provider needs a secure connection (STARTTLS or SSL/TLS).");
const QString InvalidPortMessage =
    QStringLiteral("The port must be a number from 1 to 65535, or empty for the standard port.");
const QString AutostartFailedMessage = QStringLiteral("PostOwl could not change whether it starts with the "
                                                      "desktop. Please check the folder %1.");
const QString LongPasswordMessage =
    QStringLiteral("Passwords longer than 25 characters can only be kept in the desktop keyring.");

} // namespace

Account::Account(GeneralStuff& run, SettingsStore& store, Desktop& desktop, AccountHost& host,
                 const QString& smsGatewayHost, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::Account>()), m_run(run), m_store(store), m_desktop(desktop),
      m_host(host), m_passwords(run, store, *this), m_options(new ServerOptions(this))
{
    ui->setupUi(this);
    // A small fixed tool window: close box only, no taskbar entry.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setModal(true);

    // Designer keeps whole points only; the form's fonts are 9.75 pt bold and
    // 8.25 pt. The dialog's own 8.25 pt keeps the fixed positions from
    // overflowing on desktops whose default font is larger.
    QFont dialogFont = font();
    dialogFont.setPointSizeF(8.25);
    setFont(dialogFont);
    const auto widgets = findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (!widget->testAttribute(Qt::WA_SetFont))
            continue;
        QFont font = widget->font();
        font.setPointSizeF(font.bold() ? 9.75 : 8.25);
        widget->setFont(font);
    }

    showTypedCharactersAsHash(ui->Text3);
    showTypedCharactersAsHash(ui->Text8);

    ui->Label10->setText(smsGatewayHost.toUpper() + QStringLiteral(" User & Password"));
    ui->Label12->setText(QStringLiteral("The above fields are only required if you want to receive a SMS "
                                        "message on your mobile phone if you have new mail. Therefore, "
                                        "you need a free account at") +
                         QLatin1Char(' ') + QStringLiteral("http://") + smsGatewayHost);

    // Every change of a field, by the user or by the dialog itself, counts as an edit.
    for (QLineEdit* field : {ui->Text1, ui->Text2, ui->Text3, ui->Text4, ui->Text6, ui->Text7, ui->Text8})
        connect(field, &QLineEdit::textChanged, this, &Account::enableApply);
    connect(ui->PushUrlField, &QLineEdit::textChanged, this, [this] {
        updateTestButton();
        enableApply();
    });
    connect(ui->Text5, &QLineEdit::textChanged, this, &Account::Text5_Change);
    connect(ui->Text9, &QLineEdit::textChanged, this, &Account::Text9_Change);
    for (QCheckBox* box : {ui->Check2, ui->Check4, ui->Check5, ui->Check6, ui->Check7, ui->PopupCheck,
                           ui->AutostartCheck, ui->PushSendersCheck})
        connect(box, &QCheckBox::toggled, this, &Account::enableApply);
    connect(ui->ShowSendersCheck, &QCheckBox::toggled, this, [this] {
        updateSenderBoxes();
        enableApply();
    });
    connect(ui->Check3, &QCheckBox::toggled, this, &Account::Check3_Click);
    connect(ui->KeyringCheck, &QCheckBox::toggled, this, &Account::KeyringCheck_Click);
    connect(m_options, &ServerOptions::edited, this, [this] {
        showServerOptions();
        enableApply();
    });
    connect(ui->Text1, &QLineEdit::textChanged, m_options, &ServerOptions::setServerName);
    connect(m_options, &ServerOptions::signInRequested, this, &Account::signIn);
    connect(ui->ServerOptionsButton, &QPushButton::clicked, this,
            [this] { m_desktop.execDialog(*m_options); });

    connect(ui->Command1, &QPushButton::clicked, this, &Account::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &Account::Command2_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &Account::Command3_Click);
    connect(ui->Command4, &QPushButton::clicked, this, &Account::Command4_Click);

    Form_Load();
    centreOnScreen();
}

Account::~Account() = default;

void Account::Form_Load()
{
    const ProfileSettings& record = m_run.ProfileSettings;

    m_host.SetTopMost(0);
    // No new check starts while the dialog is open; one already under way ends
    // as usual and resumes the timer by itself.
    m_host.pauseChecks();
    setWindowTitle(QStringLiteral("Define Mail Account ") + record.ProfileName);

    // Before the password fields are filled: it sets how long they may be.
    ui->KeyringCheck->setChecked(record.PasswordStore == 1);

    ui->Text1->setText(record.ServerName);
    ui->Text2->setText(record.UserName);
    ui->Text3->setText(record.Password);
    ui->Text4->setText(record.NameInBar);
    ui->Text5->setText(record.MailReader);
    ui->Text7->setText(record.SMSUserID);
    ui->Text8->setText(record.SMSPassword);
    ui->Text9->setText(record.SMSMobile);
    ui->Text6->setText(QString::number(record.Interval));
    ui->PushUrlField->setText(record.PushURL);

    // A password typed at the prompt during this run, while the store keeps
    // none, is not shown: the field shows only a password that was saved.
    if (!m_passwords.pop3PasswordSaved())
        ui->Text3->clear();

    ui->Check2->setChecked(record.NotifyOnce != 0);
    ui->Check3->setChecked(record.StartReader != 0);
    ui->Check4->setChecked(record.PlaySound != 0);
    ui->Check5->setChecked(record.AlwaysOnTop != 0);
    ui->Check6->setChecked(record.AskBefore != 0);
    ui->Check7->setChecked(record.SysTray != 0);
    // Starting with the desktop is the autostart file itself, not a key.
    ui->AutostartCheck->setChecked(AutostartEntry(record.ProfileName).exists());
    // A new profile gets the notification with its first Apply; a profile
    // saved before notifications existed keeps its silence.
    ui->PopupCheck->setChecked(record.Popup != 0 || record.ServerName.isEmpty());
    ui->ShowSendersCheck->setChecked(record.ShowSenders != 0);
    ui->PushSendersCheck->setChecked(record.PushSenders != 0);
    m_options->fill(record, m_run.OAuthSecret);
    showServerOptions();

    // The dependent rules must hold even where filling changed nothing.
    Text5_Change();
    Text9_Change();

    // Filling raised change notifications; none of them is an edit.
    ui->Command1->setEnabled(false);
}

void Account::showServerOptions()
{
    // The server's label names the protocol it is asked with.
    ui->Label1->setText(m_options->protocol() == 1 ? QStringLiteral("Servername IMAP")
                                                   : QStringLiteral("Servername POP3"));
    ui->ServerSummary->setText(m_options->summary());
    // The provider's sign-in takes the password's place.
    ui->Text3->setEnabled(m_options->auth() == 0);
    updateSenderBoxes();
}

// Only IMAP can fetch a message's headers without marking it: POP3 reads
// nothing but the count. A box that is switched off keeps its tick.
void Account::updateSenderBoxes()
{
    ui->ShowSendersCheck->setEnabled(m_options->protocol() == 1);
    ui->PushSendersCheck->setEnabled(ui->ShowSendersCheck->isEnabled() && ui->ShowSendersCheck->isChecked());
}

void Account::signIn()
{
    const OAuthConfig config = m_options->oauthConfig();
    if (const QString problem = config.problem(); !problem.isEmpty()) {
        m_options->setSignInStatus(problem);
        return;
    }
    m_options->setSignInStatus(QStringLiteral("Waiting for the browser…"));
    QPointer<ServerOptions> options(m_options);
    m_host.signIn(config, [options](const QString& error) {
        if (options)
            options->setSignInStatus(error.isEmpty() ? QStringLiteral("Signed in") : error);
    });
}

void Account::enableApply()
{
    ui->Command1->setEnabled(true);
}

void Account::Check3_Click()
{
    ui->Check6->setEnabled(ui->Check3->isChecked());
    enableApply();
}

void Account::Text5_Change()
{
    const bool readerGiven = !trimBlanks(ui->Text5->text()).isEmpty();
    ui->Check3->setEnabled(readerGiven);
    ui->Check6->setEnabled(readerGiven);
    if (ui->Check3->isEnabled())
        Check3_Click();
    enableApply();
}

void Account::Text9_Change()
{
    const bool mobileGiven = !trimBlanks(ui->Text9->text()).isEmpty();
    ui->Text7->setEnabled(mobileGiven);
    ui->Text8->setEnabled(mobileGiven);
    ui->Label10->setEnabled(mobileGiven);
    updateTestButton();
    enableApply();
}

// Test sends a test SMS when a mobile number is given and a test push when a
// push URL is: it can be pressed when there is either to test.
void Account::updateTestButton()
{
    ui->Command4->setEnabled(!trimBlanks(ui->Text9->text()).isEmpty() ||
                             !trimBlanks(ui->PushUrlField->text()).isEmpty());
}

void Account::KeyringCheck_Click()
{
    const bool keyring = ui->KeyringCheck->isChecked();
    // The settings file's scrambled form holds 25 characters at most; the
    // field would silently cut a longer password.
    if (!keyring &&
        (ui->Text3->text().size() > MaxScrambledLength || ui->Text8->text().size() > MaxScrambledLength)) {
        m_desktop.message(this, QMessageBox::Warning, ProgramInfo::title(), LongPasswordMessage);
        ui->KeyringCheck->setChecked(true);
        return;
    }
    const int limit = keyring ? PasswordKeyring::MaxPasswordLength : MaxScrambledLength;
    ui->Text3->setMaxLength(limit);
    ui->Text8->setMaxLength(limit);
    enableApply();
}

bool Account::SaveAccountSettings()
{
    if (!fieldsAreValid())
        return false;
    ProfileSettings record = recordFromFields();
    if (!trimBlanks(record.SMSMobile).isEmpty() && record.NotifyOnce == 0)
        m_desktop.message(this, QMessageBox::Information, ProgramInfo::title(), NotifyOnceWarning);
    return save(record);
}

bool Account::fieldsAreValid()
{
    // The setting holds 16 bits: a longer interval is refused like a missing one.
    const double interval = intervalField();
    if (trimBlanks(ui->Text1->text()).isEmpty() || trimBlanks(ui->Text2->text()).isEmpty() ||
        !(interval > 0) || std::nearbyint(interval) > std::numeric_limits<qint16>::max()) {
        m_desktop.message(this, QMessageBox::Warning, ProgramInfo::title(), InvalidFieldsMessage);
        return false;
    }

    // Only the first character as typed is judged: a leading blank fails.
    const QString mobile = ui->Text9->text();
    if (!trimBlanks(mobile).isEmpty() && !mobile.startsWith(QLatin1Char('+'))) {
        m_desktop.message(this, QMessageBox::Warning, ProgramInfo::title(), InvalidMobileMessage);
        return false;
    }

    // Blanks only count as no push URL, as they count as no mobile number.
    const QString pushUrl = ui->PushUrlField->text();
    if (!trimBlanks(pushUrl).isEmpty() && !acceptedPushUrl(pushUrl).isValid()) {
        m_desktop.message(this, QMessageBox::Warning, ProgramInfo::title(), InvalidPushUrlMessage);
        return false;
    }

    if (m_options->auth() == 1 && m_options->security() == 0) {
        m_desktop.message(this, QMessageBox::Warning, ProgramInfo::title(), NeedsTlsMessage);
        return false;
    }

    int port = 0;
    if (!readPort(&port)) {
        m_desktop.message(this, QMessageBox::Warning, ProgramInfo::title(), InvalidPortMessage);
        // The port is one of the server options: their button takes the focus.
        ui->ServerOptionsButton->setFocus();
        return false;
    }
    return true;
}

double Account::intervalField() const
{
    // Blanks anywhere are ignored: "1 0" is ten minutes, "7 minutes" seven.
    QString intervalText = ui->Text6->text();
    intervalText.remove(QLatin1Char(' '));
    return leadingNumber(intervalText);
}

ProfileSettings Account::recordFromFields() const
{
    ProfileSettings record = m_run.ProfileSettings;
    // A certificate trusted for one server means nothing for another.
    if (record.ServerName != ui->Text1->text())
        record.TrustedCertificate.clear();
    record.ServerName = ui->Text1->text();
    record.UserName = ui->Text2->text();
    record.Password = ui->Text3->text();
    record.NameInBar = ui->Text4->text();
    record.MailReader = ui->Text5->text();
    record.SMSUserID = ui->Text7->text();
    record.SMSPassword = ui->Text8->text();
    record.SMSMobile = ui->Text9->text();
    // nearbyint rounds a half to the even neighbour: 2.5 gives 2, 3.5 gives 4.
    record.Interval = qint16(std::nearbyint(intervalField()));
    record.NotifyOnce = ui->Check2->isChecked() ? 1 : 0;
    record.StartReader = ui->Check3->isChecked() ? 1 : 0;
    record.PlaySound = ui->Check4->isChecked() ? 1 : 0;
    record.AlwaysOnTop = ui->Check5->isChecked() ? 1 : 0;
    record.AskBefore = ui->Check6->isChecked() ? 1 : 0;
    record.SysTray = ui->Check7->isChecked() ? 1 : 0;
    int port = 0;
    readPort(&port);
    m_options->readInto(record, quint16(port));
    record.Popup = ui->PopupCheck->isChecked() ? 1 : 0;
    record.ShowSenders = ui->ShowSendersCheck->isChecked() ? 1 : 0;
    record.PushSenders = ui->PushSendersCheck->isChecked() ? 1 : 0;
    const QString pushUrl = ui->PushUrlField->text();
    record.PushURL = trimBlanks(pushUrl).isEmpty() ? QString() : pushUrl.trimmed();
    record.PasswordStore = ui->KeyringCheck->isChecked() ? 1 : 0;
    // The provider's tokens live in the keyring, beside the passwords.
    if (record.Auth == 1)
        record.PasswordStore = 1;
    return record;
}

bool Account::save(const ProfileSettings& record)
{
    // From here on the save runs to its end: keyring, record, store, main
    // window. Only the keyring can still refuse it. The dialog keeps drawing
    // while the keyring takes its time (it can ask the user to unlock it), but
    // nothing in it can be edited, applied or closed until the answer is in.
    const ProfilePasswords::Saved saved =
        m_passwords.save(record, m_options->clientSecret(), [this](bool busy) {
            m_waiting = busy;
            setEnabled(!busy);
        });
    if (!saved.problem.isEmpty())
        m_desktop.message(this, saved.critical ? QMessageBox::Critical : QMessageBox::Warning,
                          ProgramInfo::title(), saved.problem);
    if (!saved.applied)
        return false;
    ui->KeyringCheck->setChecked(record.PasswordStore == 1);

    const AutostartEntry autostart(record.ProfileName);
    const bool autostartSet = ui->AutostartCheck->isChecked() ? autostart.create() : autostart.remove();
    if (!autostartSet)
        m_desktop.message(this, QMessageBox::Critical, ProgramInfo::title(),
                          AutostartFailedMessage.arg(AutostartEntry::defaultFolder()));

    m_host.setTitle(ProgramInfo::title() + QStringLiteral(" - ") + record.NameInBar);
    // Blanks count as a reader here, as they do at start-up.
    m_host.setReaderMenuEnabled(!record.MailReader.isEmpty());
    return saved.stored && autostartSet;
}

bool Account::readPort(int* port) const
{
    const QString text = trimBlanks(m_options->portField()->text());
    *port = 0;
    if (text.isEmpty())
        return true;
    for (const QChar digit : text) {
        if (digit < QLatin1Char('0') || digit > QLatin1Char('9'))
            return false;
    }
    // At most five digits (the field's limit), so this cannot overflow.
    *port = text.toInt();
    return *port >= 1 && *port <= 65535;
}

void Account::Command1_Click()
{
    if (SaveAccountSettings())
        ui->Command1->setEnabled(false);
}

void Account::Command2_Click()
{
    // Edits that were not applied are dropped without a question; the top-most
    // state follows what was last saved.
    m_host.SetTopMost(m_run.ProfileSettings.AlwaysOnTop);
    m_host.resumeChecks();
    QDialog::reject();
}

void Account::reject()
{
    // Not in the middle of a save that waits for the keyring.
    if (m_waiting)
        return;
    Command2_Click();
}

void Account::Command3_Click()
{
    m_desktop.openUrl(QUrl(HelpPage));
}

void Account::Command4_Click()
{
    if (!SaveAccountSettings())
        return;
    ui->Command1->setEnabled(false);
    const ProfileSettings& record = m_run.ProfileSettings;
    if (!trimBlanks(record.SMSMobile).isEmpty()) {
        const QString question = QStringLiteral("This sends a test message to your GSM mobile phone ") +
                                 record.SMSMobile + QLatin1Char('.');
        if (m_desktop.message(this, QMessageBox::Information, ProgramInfo::title(), question,
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes)
            m_host.SendSMSNotify();
    }
    // A push costs nothing and goes where the user just said: no question.
    if (!record.PushURL.isEmpty())
        m_host.pushNotify(TestPushText);
}

void Account::centreOnScreen()
{
    QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen)
        move(screen->availableGeometry().center() - rect().center());
}
