#include "account.h"
#include "autostartentry.h"
#include "fakedesktop.h"
#include "generalstuff.h"
#include "recordinghost.h"
#include "scramblepassword.h"
#include "settingsstore.h"
#include "temporarystore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString InvalidFields = QStringLiteral("The following field must have valid values: Servername, User "
                                             "Identification and Interval. Please correct the data entered.");
const QString InvalidMobile = QStringLiteral("The GSM number must be in the international format including a "
                                             "valid country code (e.g  +419999999).");
const QString InvalidPushUrl = QStringLiteral("The push URL must start with http:// or https://.");
const QString NotifyOnceWarning = QStringLiteral("WARNING: It is strongly recommended to enable 'Notify only "
                                                 "once' if you want to receive messages on your GSM phone.");

// One run with its own throw-away store.
struct Harness
{
    Harness() { run.ProfileSettings.ProfileName = QStringLiteral("Home"); }

    Account& open()
    {
        dialog = std::make_unique<Account>(run, *store, desktop, host, QStringLiteral("sms.example"));
        return *dialog;
    }

    template <typename T> T* control(const char* name) const
    {
        T* widget = dialog->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("the Account dialog has no control %s", name);
        return widget;
    }
    QLineEdit* text(const char* name) const { return control<QLineEdit>(name); }
    QCheckBox* check(const char* name) const { return control<QCheckBox>(name); }
    QPushButton* button(const char* name) const { return control<QPushButton>(name); }
    bool applyEnabled() const { return button("Command1")->isEnabled(); }

    void fillValid()
    {
        text("Text1")->setText(QStringLiteral("pop.example"));
        text("Text2")->setText(QStringLiteral("joe"));
        text("Text6")->setText(QStringLiteral("5"));
    }

    TemporaryStore files;
    const QString fileName = files.fileName();
    QSettings* const settings = &files.settings;
    SettingsStore* const store = &files.store;
    GeneralStuff run;
    FakeDesktop desktop;
    RecordingHost host;
    std::unique_ptr<Account> dialog;
};

QString desktopFileValue(const QString& fileName, const QString& key)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("(no file)");
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(key.toUtf8() + '='))
            return QString::fromUtf8(line.mid(key.size() + 1));
    return QStringLiteral("(no key)");
}

} // namespace

class TestAccount : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void opensWithStartUpDefaults();
    void showsTheRecord();
    void passwordShownOnlyWhenStored_data();
    void passwordShownOnlyWhenStored();
    void everyEditEnablesApply_data();
    void everyEditEnablesApply();
    void dependentRulesFollowEdits();
    void validation_data();
    void validation();
    void storeAfterApply_data();
    void storeAfterApply();
    void mobileWithoutNotifyOnceWarnsAndSaves();
    void enterPressesApplyOnlyWhileEnabled();
    void closingRestoresTimerAndTopMost_data();
    void closingRestoresTimerAndTopMost();
    void testButton_data();
    void testButton();
    void pushUrlAndPopup_data();
    void pushUrlAndPopup();
    void testButtonSendsTestPush();
    void failedStoreWriteIsReported();
    void fieldLengthLimits_data();
    void fieldLengthLimits();
    void autostartCheckCreatesAndRemovesTheFile();
    void securityAndPort_data();
    void securityAndPort();
    void serverOptionsForImapAndTheProvider();
    void changingTheServerForgetsTheTrustedCertificate_data();
    void changingTheServerForgetsTheTrustedCertificate();
};

void TestAccount::opensWithStartUpDefaults()
{
    Harness h;
    h.open();

    QCOMPARE(h.host.calls, QStringList({QStringLiteral("SetTopMost(0)"), QStringLiteral("timer off")}));
    QCOMPARE(h.dialog->windowTitle(), QStringLiteral("Define Mail Account Home"));
    QCOMPARE(h.text("Text6")->text(), QStringLiteral("5"));
    QVERIFY(h.check("Check2")->isChecked());
    QVERIFY(h.check("Check4")->isChecked());
    QVERIFY(h.check("PopupCheck")->isChecked());
    for (const char* name : {"Check3", "Check5", "Check6", "Check7", "KeyringCheck"})
        QVERIFY2(!h.check(name)->isChecked(), name);
    for (const char* name : {"Text1", "Text2", "Text3", "Text4", "Text5", "Text7", "Text8", "Text9"})
        QVERIFY2(h.text(name)->text().isEmpty(), name);
    // No reader path and no mobile number: everything that depends on them is off.
    for (const char* name : {"Check3", "Check6", "Text7", "Text8", "Label10", "Command4"})
        QVERIFY2(!h.control<QWidget>(name)->isEnabled(), name);
    QVERIFY(!h.applyEnabled());
}

void TestAccount::showsTheRecord()
{
    Harness h;
    ProfileSettings& record = h.run.ProfileSettings;
    record.ServerName = QStringLiteral(" pop.example ");
    record.UserName = QStringLiteral("joe");
    record.Password = QStringLiteral("secret");
    record.NameInBar = QStringLiteral("Work");
    record.MailReader = QStringLiteral("mutt");
    record.SMSUserID = QStringLiteral("smsjoe");
    record.SMSPassword = QStringLiteral("smspw");
    record.SMSMobile = QStringLiteral("+41791234567");
    record.Interval = -3; // shown unchanged: nothing is validated on opening
    record.StartReader = 1;
    record.AskBefore = 1;
    record.NotifyOnce = 0;
    record.PlaySound = 0;
    record.AlwaysOnTop = 1;
    record.SysTray = 1;
    h.settings->setValue(QStringLiteral("Home/Password"), ScramblePassword(record.Password));
    h.open();

    const QList<QPair<const char*, QString>> shown{
        {"Text1", record.ServerName}, {"Text2", record.UserName},    {"Text3", record.Password},
        {"Text4", record.NameInBar},  {"Text5", record.MailReader},  {"Text6", QStringLiteral("-3")},
        {"Text7", record.SMSUserID},  {"Text8", record.SMSPassword}, {"Text9", record.SMSMobile}};
    for (const auto& [name, value] : shown)
        QCOMPARE(h.text(name)->text(), value);
    for (const char* name : {"Text3", "Text8"}) {
        QCOMPARE(h.text(name)->echoMode(), QLineEdit::Password);
        QCOMPARE(h.text(name)->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter), int('#'));
    }
    const QList<QPair<const char*, bool>> ticks{{"Check2", false}, {"Check3", true}, {"Check4", false},
                                                {"Check5", true},  {"Check6", true}, {"Check7", true}};
    for (const auto& [name, ticked] : ticks)
        QVERIFY2(h.check(name)->isChecked() == ticked, name);
    for (const char* name : {"Check3", "Check6", "Text7", "Text8", "Label10", "Command4"})
        QVERIFY2(h.control<QWidget>(name)->isEnabled(), name);
    QVERIFY(!h.applyEnabled());

    QCOMPARE(h.control<QLabel>("Label10")->text(), QStringLiteral("SMS.EXAMPLE User & Password"));
    QVERIFY(h.control<QLabel>("Label12")->text().endsWith(
        QStringLiteral("Therefore, you need a free account at http://sms.example")));
    QCOMPARE(h.dialog->minimumSize(), QSize(545, 444));
    QCOMPARE(h.dialog->maximumSize(), QSize(545, 444));

    const QString artifacts = qEnvironmentVariable("POSTOWL_ARTIFACTS");
    if (!artifacts.isEmpty()) {
        QVERIFY(QDir().mkpath(artifacts));
        QVERIFY(h.dialog->grab().save(artifacts + QStringLiteral("/account.png")));
    }
}

void TestAccount::passwordShownOnlyWhenStored_data()
{
    QTest::addColumn<bool>("keyPresent");
    QTest::addColumn<QString>("storedText");
    QTest::addColumn<QString>("shown");

    QTest::newRow("saved password") << true << ScramblePassword(QStringLiteral("secret")) << "secret";
    QTest::newRow("typed at the prompt, stored empty") << true << QString() << QString();
    QTest::newRow("typed at the prompt, key absent") << false << QString() << QString();
}

void TestAccount::passwordShownOnlyWhenStored()
{
    QFETCH(bool, keyPresent);
    QFETCH(QString, storedText);
    QFETCH(QString, shown);

    Harness h;
    h.run.ProfileSettings.Password = QStringLiteral("secret");
    if (keyPresent)
        h.settings->setValue(QStringLiteral("Home/Password"), storedText);
    h.open();

    QCOMPARE(h.text("Text3")->text(), shown);
    QVERIFY(!h.applyEnabled());
}

void TestAccount::everyEditEnablesApply_data()
{
    QTest::addColumn<QString>("name");
    for (const char* name : {"Text1",           "Text2",         "Text3",        "Text4",
                             "Text5",           "Text6",         "Text7",        "Text8",
                             "Text9",           "Check2",        "Check3",       "Check4",
                             "Check5",          "Check6",        "Check7",       "SecurityCombo",
                             "PortField",       "PopupCheck",    "PushUrlField", "AutostartCheck",
                             "KeyringCheck",    "ProtocolCombo", "FolderField",  "ShowSendersCheck",
                             "PushSendersCheck"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestAccount::everyEditEnablesApply()
{
    QFETCH(QString, name);

    Harness h;
    // Reader path, ticked "Start default E-Mail client" and a mobile number:
    // every control can be edited.
    h.run.ProfileSettings.MailReader = QStringLiteral("mutt");
    h.run.ProfileSettings.StartReader = 1;
    h.run.ProfileSettings.SMSMobile = QStringLiteral("+41");
    h.run.ProfileSettings.Protocol = 1;
    h.run.ProfileSettings.ShowSenders = 1;
    h.open();
    QVERIFY(!h.applyEnabled());

    // An edit undone again still counts: the dialog never compares values.
    QWidget* widget = h.control<QWidget>(qPrintable(name));
    QVERIFY(widget->isEnabled());
    if (auto* field = qobject_cast<QLineEdit*>(widget)) {
        QTest::keyClick(field, Qt::Key_X);
        QTest::keyClick(field, Qt::Key_Backspace);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setCurrentIndex(1);
        combo->setCurrentIndex(0);
    } else {
        auto* box = qobject_cast<QCheckBox*>(widget);
        box->click();
        box->click();
    }
    QVERIFY(h.applyEnabled());
}

void TestAccount::dependentRulesFollowEdits()
{
    Harness h;
    h.open();
    QLineEdit* reader = h.text("Text5");
    QLineEdit* mobile = h.text("Text9");
    QCheckBox* start = h.check("Check3");
    QCheckBox* ask = h.check("Check6");
    auto smsEnabled = [&] {
        const bool state = h.text("Text7")->isEnabled();
        // The user, password, label and Test always share one state.
        for (const char* name : {"Text8", "Label10", "Command4"})
            if (h.control<QWidget>(name)->isEnabled() != state)
                return -1;
        return state ? 1 : 0;
    };

    QTest::keyClicks(reader, QStringLiteral("   "));
    QVERIFY(h.applyEnabled());
    QVERIFY2(!start->isEnabled(), "a path of blanks only is no path");
    QVERIFY(!ask->isEnabled());

    reader->setText(QStringLiteral("mutt"));
    QVERIFY(start->isEnabled());
    QVERIFY2(!ask->isEnabled(), "(ask) needs the box before it ticked");

    start->click();
    QVERIFY(ask->isEnabled());
    ask->click();
    QVERIFY(ask->isChecked());

    start->click();
    QVERIFY(!ask->isEnabled());
    QVERIFY2(ask->isChecked(), "disabling keeps the tick");

    start->click();
    reader->clear();
    QVERIFY(!start->isEnabled());
    QVERIFY(!ask->isEnabled());
    QVERIFY(start->isChecked());

    QCOMPARE(smsEnabled(), 0);
    QTest::keyClicks(mobile, QStringLiteral("+41"));
    QCOMPARE(smsEnabled(), 1);
    QTest::keyClicks(h.text("Text7"), QStringLiteral("smsjoe"));
    mobile->setText(QStringLiteral("  "));
    QCOMPARE(smsEnabled(), 0);
    QCOMPARE(h.text("Text7")->text(), QStringLiteral("smsjoe"));
    QVERIFY(mobile->isEnabled());
    QVERIFY(h.control<QLabel>("Label11")->isEnabled());
    QVERIFY(h.control<QLabel>("Label12")->isEnabled());

    // Senders for IMAP only, and in the push only with them.
    QCheckBox* senders = h.check("ShowSendersCheck");
    QCheckBox* pushSenders = h.check("PushSendersCheck");
    QVERIFY(!senders->isEnabled() && !pushSenders->isEnabled());
    h.control<QComboBox>("ProtocolCombo")->setCurrentIndex(1);
    senders->click();
    QVERIFY(pushSenders->isEnabled());
    h.control<QComboBox>("ProtocolCombo")->setCurrentIndex(0);
    QVERIFY(!senders->isEnabled() && !pushSenders->isEnabled());

    // Disabled controls still hand their values to the save.
    mobile->clear();
    h.fillValid();
    h.button("Command1")->click();
    QVERIFY(!h.applyEnabled());
    QCOMPARE(h.run.ProfileSettings.StartReader, quint8(1));
    QCOMPARE(h.run.ProfileSettings.AskBefore, quint8(1));
    QCOMPARE(h.run.ProfileSettings.SMSUserID, QStringLiteral("smsjoe"));
    QCOMPARE(h.run.ProfileSettings.ShowSenders, quint8(1));
}

void TestAccount::validation_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("interval");
    QTest::addColumn<QString>("mobile");
    QTest::addColumn<QString>("message"); // empty: saved
    QTest::addColumn<int>("savedInterval");

    const QString server = QStringLiteral("pop.example");
    const QString user = QStringLiteral("joe");
    QTest::newRow("server blanks only") << "   " << user << "5"
                                        << "" << InvalidFields << 0;
    QTest::newRow("user empty") << server << ""
                                << "5"
                                << "" << InvalidFields << 0;
    QTest::newRow("user blanks only") << server << "  "
                                      << "5"
                                      << "" << InvalidFields << 0;
    QTest::newRow("interval 0") << server << user << "0"
                                << "" << InvalidFields << 0;
    QTest::newRow("interval -1") << server << user << "-1"
                                 << "" << InvalidFields << 0;
    QTest::newRow("interval abc") << server << user << "abc"
                                  << "" << InvalidFields << 0;
    QTest::newRow("interval empty") << server << user << ""
                                    << "" << InvalidFields << 0;
    QTest::newRow("interval 40000") << server << user << "40000"
                                    << "" << InvalidFields << 0;
    QTest::newRow("interval rounding past 16 bits") << server << user << "32767.5"
                                                    << "" << InvalidFields << 0;
    QTest::newRow("interval 7 minutes") << server << user << "7 minutes"
                                        << "" << QString() << 7;
    QTest::newRow("interval with inner blank") << server << user << "1 0"
                                               << "" << QString() << 10;
    QTest::newRow("interval 2.5 to even") << server << user << "2.5"
                                          << "" << QString() << 2;
    QTest::newRow("interval 3.5 to even") << server << user << "3.5"
                                          << "" << QString() << 4;
    QTest::newRow("interval 0.4") << server << user << "0.4"
                                  << "" << QString() << 0;
    QTest::newRow("interval 32767") << server << user << "32767"
                                    << "" << QString() << 32767;
    QTest::newRow("interval rounding down to 32767") << server << user << "32767.3"
                                                     << "" << QString() << 32767;
    QTest::newRow("server with blanks around") << " pop.example " << user << "5"
                                               << "" << QString() << 5;
    QTest::newRow("mobile 0041") << server << user << "5"
                                 << "0041791234567" << InvalidMobile << 0;
    QTest::newRow("mobile leading blank") << server << user << "5"
                                          << " +41791234567" << InvalidMobile << 0;
    QTest::newRow("mobile with blanks") << server << user << "5"
                                        << "+41 79 123" << QString() << 5;
    QTest::newRow("mobile blanks only") << server << user << "5"
                                        << "   " << QString() << 5;
    QTest::newRow("both rules fail") << "" << user << "5"
                                     << "0041" << InvalidFields << 0;
}

void TestAccount::validation()
{
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, interval);
    QFETCH(QString, mobile);
    QFETCH(QString, message);
    QFETCH(int, savedInterval);

    Harness h;
    h.open();
    h.text("Text1")->setText(server);
    h.text("Text2")->setText(user);
    h.text("Text6")->setText(interval);
    h.text("Text9")->setText(mobile);
    h.button("Command1")->click();
    const ProfileSettings& record = h.run.ProfileSettings;

    if (!message.isEmpty()) {
        QCOMPARE(h.desktop.messageTexts(), QStringList{message});
        QCOMPARE(h.desktop.messages.first().icon, QMessageBox::Warning);
        QCOMPARE(h.desktop.messages.first().title, QStringLiteral("PostOwl 1.5"));
        QCOMPARE(h.desktop.messages.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(record.ServerName.isEmpty());
        QCOMPARE(record.Interval, qint16(5));
        QVERIFY(record.SMSMobile.isEmpty());
        QVERIFY(h.settings->allKeys().isEmpty());
        QVERIFY(h.host.title.isEmpty());
        QVERIFY(h.applyEnabled());
        return;
    }

    QVERIFY(h.desktop.messages.isEmpty());
    // Texts go into the record and the store exactly as typed.
    QCOMPARE(record.ServerName, server);
    QCOMPARE(record.SMSMobile, mobile);
    QCOMPARE(record.Interval, qint16(savedInterval));
    h.settings->sync();
    QCOMPARE(h.settings->value(QStringLiteral("Home/ServerName")).toString(), server);
    QCOMPARE(h.settings->value(QStringLiteral("Home/SMSMobile")).toString(), mobile);
    QCOMPARE(h.settings->value(QStringLiteral("Home/Interval")).toString(), QString::number(savedInterval));
    QCOMPARE(h.host.title, QStringLiteral("PostOwl 1.5 - "));
    QCOMPARE(h.host.readerMenu, 0);
    QVERIFY(!h.applyEnabled());
}

void TestAccount::storeAfterApply_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("smsPassword");

    QTest::newRow("empty passwords") << QString() << QString();
    // "q" and "2" equal the key's characters at their places: stored with markers.
    QTest::newRow("passwords hitting the key") << "q-secret"
                                               << "a2cd";
    QTest::newRow("25 characters") << "abcdefghijklmnopqrstuvwxy"
                                   << "ABCDEFGHIJKLMNOPQRSTUVWXY";
}

void TestAccount::storeAfterApply()
{
    QFETCH(QString, password);
    QFETCH(QString, smsPassword);

    Harness h;
    h.open();
    h.text("Text1")->setText(QStringLiteral("pop.example"));
    h.text("Text2")->setText(QStringLiteral("joe"));
    h.text("Text3")->setText(password);
    h.text("Text4")->setText(QStringLiteral("Work mail"));
    h.text("Text5")->setText(QStringLiteral("  "));
    h.text("Text6")->setText(QStringLiteral("12"));
    h.text("Text9")->setText(QStringLiteral("+41791234567"));
    h.text("Text7")->setText(QStringLiteral("smsjoe"));
    h.text("Text8")->setText(smsPassword);
    h.check("Check4")->setChecked(false);
    h.check("Check5")->setChecked(true);
    h.check("Check7")->setChecked(true);
    h.button("Command1")->click();
    QVERIFY(h.desktop.messages.isEmpty());
    QVERIFY(!h.applyEnabled());
    QCOMPARE(h.host.title, QStringLiteral("PostOwl 1.5 - Work mail"));
    QCOMPARE(h.host.readerMenu, 1); // blanks count as a reader path here

    // What another run will find: a fresh reader over the same file.
    QSettings file(h.fileName, QSettings::IniFormat);
    QCOMPARE(file.childGroups(), QStringList{QStringLiteral("Home")});
    file.beginGroup(QStringLiteral("Home"));
    QStringList keys = file.childKeys();
    keys.sort();
    QCOMPARE(keys, QStringList({"AlwaysOnTop",
                                "AskBefore",
                                "Auth",
                                "Folder",
                                "Interval",
                                "MailReader",
                                "NameInBar",
                                "NotifyOnce",
                                "OAuthAuthorizeUrl",
                                "OAuthClientId",
                                "OAuthScope",
                                "OAuthTokenUrl",
                                "Password",
                                "PasswordStore",
                                "PlaySound",
                                "Popup",
                                "Port",
                                "Protocol",
                                "PushSenders",
                                "PushURL",
                                "SMSMobile",
                                "SMSPassword",
                                "SMSUserID",
                                "Security",
                                "ServerName",
                                "ShowSenders",
                                "StartReader",
                                "SysTray",
                                "TrustedCertificate",
                                "UserName"}));
    const QHash<QString, QString> expected{{"ServerName", "pop.example"},
                                           {"UserName", "joe"},
                                           {"NameInBar", "Work mail"},
                                           {"MailReader", "  "},
                                           {"AskBefore", "0"},
                                           {"SMSUserID", "smsjoe"},
                                           {"SMSMobile", "+41791234567"},
                                           {"Interval", "12"},
                                           {"NotifyOnce", "1"},
                                           {"StartReader", "0"},
                                           {"PlaySound", "0"},
                                           {"AlwaysOnTop", "1"},
                                           {"SysTray", "1"},
                                           {"Security", "0"},
                                           {"Port", "0"},
                                           {"TrustedCertificate", ""},
                                           {"Popup", "1"},
                                           {"PushURL", ""},
                                           {"PasswordStore", "0"},
                                           {"Protocol", "0"},
                                           {"Folder", ""},
                                           {"Auth", "0"},
                                           {"ShowSenders", "0"},
                                           {"PushSenders", "0"},
                                           {"Password", ScramblePassword(password)},
                                           {"SMSPassword", ScramblePassword(smsPassword)}};
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(file.value(it.key()).toString(), it.value());
    file.endGroup();
    if (!password.isEmpty())
        QVERIFY(ScramblePassword(password) != password);

    SettingsStore fresh(file);
    ProfileSettings loaded;
    loaded.ProfileName = QStringLiteral("Home");
    fresh.loadProfile(loaded);
    QCOMPARE(loaded.Password, password);
    QCOMPARE(loaded.SMSPassword, smsPassword);
    QCOMPARE(loaded.ServerName, h.run.ProfileSettings.ServerName);
    QCOMPARE(loaded.Interval, qint16(12));
    QCOMPARE(loaded.AlwaysOnTop, quint8(1));
    QCOMPARE(loaded.PlaySound, quint8(0));
}

void TestAccount::mobileWithoutNotifyOnceWarnsAndSaves()
{
    Harness h;
    h.open();
    h.fillValid();
    h.text("Text9")->setText(QStringLiteral("+41791234567"));
    h.check("Check2")->setChecked(false);
    h.button("Command1")->click();

    QCOMPARE(h.desktop.messageTexts(), QStringList{NotifyOnceWarning});
    QCOMPARE(h.desktop.messages.first().icon, QMessageBox::Information);
    QCOMPARE(h.run.ProfileSettings.NotifyOnce, quint8(0));
    QCOMPARE(h.store->get(QStringLiteral("Home"), QStringLiteral("SMSMobile")),
             QStringLiteral("+41791234567"));
    QCOMPARE(h.store->get(QStringLiteral("Home"), QStringLiteral("NotifyOnce")), QStringLiteral("0"));
    QVERIFY(!h.applyEnabled());
}

void TestAccount::enterPressesApplyOnlyWhileEnabled()
{
    Harness h;
    h.open();
    h.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.dialog.get()));

    QTest::keyClick(h.text("Text1"), Qt::Key_Return);
    QVERIFY(h.dialog->isVisible());
    QVERIFY(h.desktop.messages.isEmpty());

    h.fillValid();
    QTest::keyClick(h.text("Text2"), Qt::Key_Return);
    QCOMPARE(h.store->get(QStringLiteral("Home"), QStringLiteral("ServerName")),
             QStringLiteral("pop.example"));
    QVERIFY(!h.applyEnabled());
    QVERIFY2(h.dialog->isVisible(), "Apply leaves the dialog open");
}

void TestAccount::closingRestoresTimerAndTopMost_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("applyFirst");
    QTest::addColumn<QString>("restoredTopMost");

    QTest::newRow("Close, untick not applied") << "Close" << false << "SetTopMost(1)";
    QTest::newRow("Escape, untick not applied") << "Escape" << false << "SetTopMost(1)";
    QTest::newRow("close box, untick not applied") << "close box" << false << "SetTopMost(1)";
    QTest::newRow("Close, untick applied") << "Close" << true << "SetTopMost(0)";
}

void TestAccount::closingRestoresTimerAndTopMost()
{
    QFETCH(QString, how);
    QFETCH(bool, applyFirst);
    QFETCH(QString, restoredTopMost);

    Harness h;
    h.run.ProfileSettings.ServerName = QStringLiteral("pop.example");
    h.run.ProfileSettings.UserName = QStringLiteral("joe");
    h.run.ProfileSettings.AlwaysOnTop = 1;
    h.open();
    h.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.dialog.get()));
    QCOMPARE(h.host.calls, QStringList({QStringLiteral("SetTopMost(0)"), QStringLiteral("timer off")}));

    h.check("Check5")->click();
    if (applyFirst)
        h.button("Command1")->click();
    h.host.calls.clear();

    if (how == QLatin1String("Close"))
        h.button("Command2")->click();
    else if (how == QLatin1String("Escape"))
        QTest::keyClick(h.dialog.get(), Qt::Key_Escape);
    else
        QVERIFY(h.dialog->close());

    QCOMPARE(h.host.calls, QStringList({restoredTopMost, QStringLiteral("timer on")}));
    QVERIFY(!h.dialog->isVisible());
    QCOMPARE(h.dialog->result(), int(QDialog::Rejected));
    QVERIFY(h.desktop.messages.isEmpty()); // no question about unsaved edits
    QCOMPARE(h.run.ProfileSettings.AlwaysOnTop, quint8(applyFirst ? 0 : 1));
    QCOMPARE(h.settings->allKeys().isEmpty(), !applyFirst);
}

void TestAccount::testButton_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("answer"); // NoButton: no question expected
    QTest::addColumn<bool>("smsSent");

    QTest::newRow("field invalid") << "" << int(QMessageBox::NoButton) << false;
    QTest::newRow("answered No") << "pop.example" << int(QMessageBox::No) << false;
    QTest::newRow("answered Yes") << "pop.example" << int(QMessageBox::Yes) << true;
}

void TestAccount::testButton()
{
    QFETCH(QString, server);
    QFETCH(int, answer);
    QFETCH(bool, smsSent);

    Harness h;
    h.open();
    h.fillValid();
    h.text("Text1")->setText(server);
    h.text("Text9")->setText(QStringLiteral("+41791234567"));
    if (answer != QMessageBox::NoButton)
        h.desktop.answerNext(QMessageBox::StandardButton(answer));
    h.host.calls.clear();
    h.button("Command4")->click();

    if (answer == QMessageBox::NoButton) {
        QCOMPARE(h.desktop.messageTexts(), QStringList{InvalidFields});
        QVERIFY(h.host.calls.isEmpty());
        QVERIFY(h.settings->allKeys().isEmpty());
        QVERIFY(h.applyEnabled());
        return;
    }

    QCOMPARE(h.desktop.messageTexts(),
             QStringList{QStringLiteral("This sends a test message to your GSM mobile phone +41791234567.")});
    const FakeDesktop::Message& question = h.desktop.messages.first();
    QCOMPARE(question.icon, QMessageBox::Information);
    QCOMPARE(question.title, QStringLiteral("PostOwl 1.5"));
    QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY(!h.applyEnabled());
    QCOMPARE(h.store->get(QStringLiteral("Home"), QStringLiteral("SMSMobile")),
             QStringLiteral("+41791234567"));
    // The SMS goes out with the saved record, so the save comes first.
    QStringList expected{QStringLiteral("title")};
    if (smsSent)
        expected.append(QStringLiteral("SendSMSNotify"));
    QCOMPARE(h.host.calls, expected);
}

void TestAccount::pushUrlAndPopup_data()
{
    QTest::addColumn<QString>("mobile");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("message"); // empty: saved

    QTest::newRow("https") << ""
                           << "https://ntfy.example/postowl" << QString();
    QTest::newRow("blanks only") << ""
                                 << "   " << QString();
    QTest::newRow("no scheme") << ""
                               << "ntfy.example/postowl" << InvalidPushUrl;
    QTest::newRow("ftp") << ""
                         << "ftp://ntfy.example/postowl" << InvalidPushUrl;
    QTest::newRow("mobile judged first") << "0041"
                                         << "ftp://x/y" << InvalidMobile;
}

void TestAccount::pushUrlAndPopup()
{
    QFETCH(QString, mobile);
    QFETCH(QString, url);
    QFETCH(QString, message);

    Harness h;
    h.run.ProfileSettings.Popup = 1;
    h.open();
    h.fillValid();
    h.text("Text9")->setText(mobile);
    h.text("PushUrlField")->setText(url);
    h.check("PopupCheck")->setChecked(false);
    h.button("Command1")->click();

    QCOMPARE(h.desktop.messageTexts(), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(h.applyEnabled(), !message.isEmpty());
    QCOMPARE(h.store->get(QStringLiteral("Home"), QStringLiteral("PushURL"), QStringLiteral("none")),
             message.isEmpty() ? url.trimmed() : QStringLiteral("none"));
    QCOMPARE(h.run.ProfileSettings.Popup, quint8(message.isEmpty() ? 0 : 1));
}

void TestAccount::testButtonSendsTestPush()
{
    Harness h;
    h.open();
    h.fillValid();
    h.text("PushUrlField")->setText(QStringLiteral("https://ntfy.example/t"));
    QVERIFY(h.button("Command4")->isEnabled());
    h.button("Command4")->click(); // no mobile number: no SMS question
    h.text("Text9")->setText(QStringLiteral("+41791234567"));
    h.desktop.answerNext(QMessageBox::No);
    h.button("Command4")->click();
    QCOMPARE(h.desktop.messages.size(), 1);
    const QString push = QStringLiteral("push: This is a test message from PostOwl.");
    QCOMPARE(h.host.calls.filter(QStringLiteral("push")), QStringList({push, push}));
}

void TestAccount::failedStoreWriteIsReported()
{
    Harness h;
    // A directory where the settings file should be: no user, root included,
    // can write it (a read-only mode would not stop root).
    QVERIFY(QDir().mkpath(h.fileName));
    h.open();
    h.fillValid();
    h.text("Text4")->setText(QStringLiteral("Work"));
    h.button("Command1")->click();

    QCOMPARE(h.desktop.messages.size(), 1);
    QCOMPARE(h.desktop.messages.first().icon, QMessageBox::Critical);
    QVERIFY(h.desktop.messages.first().text.contains(QLatin1String("could not be written")));
    QVERIFY2(h.applyEnabled(), "a failed write is not passed off as saved");
    // The run goes on with what the user applied.
    QCOMPARE(h.run.ProfileSettings.ServerName, QStringLiteral("pop.example"));
    QCOMPARE(h.host.title, QStringLiteral("PostOwl 1.5 - Work"));

    // Test reports the same and asks nothing: no unscripted question is allowed.
    h.text("Text9")->setText(QStringLiteral("+41791234567"));
    h.button("Command4")->click();
    QCOMPARE(h.desktop.messages.size(), 2);
    QCOMPARE(h.desktop.messages.last().icon, QMessageBox::Critical);
    QVERIFY(!h.host.calls.contains(QStringLiteral("SendSMSNotify")));
}

void TestAccount::fieldLengthLimits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("typed");
    QTest::addColumn<int>("kept");
    QTest::addColumn<bool>("keyring");

    QTest::newRow("POP3 password, 26th refused") << "Text3" << 26 << 25 << false;
    QTest::newRow("SMS password, 26th refused") << "Text8" << 26 << 25 << false;
    QTest::newRow("mobile number, 16th refused") << "Text9" << 16 << 15 << false;
    QTest::newRow("server name, no limit") << "Text1" << 300 << 300 << false;
    QTest::newRow("keyring: POP3 password, 257th refused") << "Text3" << 257 << 256 << true;
    QTest::newRow("keyring: SMS password, 257th refused") << "Text8" << 257 << 256 << true;
}

void TestAccount::fieldLengthLimits()
{
    QFETCH(QString, name);
    QFETCH(int, typed);
    QFETCH(int, kept);
    QFETCH(bool, keyring);

    Harness h;
    h.run.ProfileSettings.SMSMobile = QStringLiteral("+41");
    h.open();
    if (keyring)
        h.check("KeyringCheck")->click();
    QLineEdit* field = h.text(qPrintable(name));
    field->clear();
    QString keys;
    for (int i = 0; i < typed; ++i)
        keys.append(QChar(u'a' + i % 26));
    QTest::keyClicks(field, keys);
    QCOMPARE(field->text(), keys.left(kept));
    if (!keyring || kept <= 25)
        return;

    // Back to the settings file would cut the password: refused, nothing cut.
    h.check("KeyringCheck")->click();
    QCOMPARE(h.desktop.messageTexts(),
             QStringList{"Passwords longer than 25 characters can only be kept in the desktop keyring."});
    QCOMPARE(h.desktop.messages.first().icon, QMessageBox::Warning);
    QVERIFY(h.check("KeyringCheck")->isChecked());
    QCOMPARE(field->text(), keys.left(kept));
    field->setText(keys.left(25));
    h.check("KeyringCheck")->click();
    QVERIFY(!h.check("KeyringCheck")->isChecked());
    QCOMPARE(h.desktop.messages.size(), 1);
}

void TestAccount::autostartCheckCreatesAndRemovesTheFile()
{
    const QString profile = QStringLiteral(R"(Autostart it's "50%" C:\ $HOME)");
    const QString folder = AutostartEntry::defaultFolder();
    QVERIFY(folder.contains(QStringLiteral(".qttest"))); // never the user's own autostart folder
    const QString entry = folder + u'/' + AutostartEntry::fileName(profile);
    const QString neighbour = folder + u'/' + AutostartEntry::fileName(profile + u' ');
    QFile::remove(entry);
    QVERIFY(QDir().mkpath(folder) && QFile(neighbour).open(QIODevice::WriteOnly));

    Harness h;
    h.run.ProfileSettings.ProfileName = profile;
    h.open();
    QVERIFY(!h.check("AutostartCheck")->isChecked());
    h.fillValid();
    h.check("AutostartCheck")->click();
    h.button("Command1")->click();
    QVERIFY(h.desktop.messages.isEmpty());
    QCOMPARE(desktopFileValue(entry, QStringLiteral("Exec")),
             AutostartEntry::execValue(AutostartEntry::program(), profile));
    QCOMPARE(desktopFileValue(entry, QStringLiteral("Name")),
             QStringLiteral(R"(PostOwl (Autostart it's "50%" C:\\ $HOME))"));

    // Opened again, the box shows the file; unticked and applied, that file goes.
    h.open();
    QVERIFY(h.check("AutostartCheck")->isChecked());
    QVERIFY(!h.applyEnabled());
    h.check("AutostartCheck")->click();
    h.button("Command1")->click();
    QVERIFY(!QFileInfo::exists(entry));
    QVERIFY(QFile::remove(neighbour));
}

void TestAccount::securityAndPort_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("security");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message"); // empty: saved
    QTest::addColumn<int>("savedPort");

    const QString server = QStringLiteral("pop.example");
    const QString invalidPort =
        QStringLiteral("The port must be a number from 1 to 65535, or empty for the standard port.");
    QTest::newRow("SSL/TLS, standard port") << server << 2 << "" << QString() << 0;
    QTest::newRow("STARTTLS, port 1") << server << 1 << "1" << QString() << 1;
    QTest::newRow("port 65535") << server << 0 << "65535" << QString() << 65535;
    QTest::newRow("none on this machine") << "127.0.0.1" << 0 << "" << QString() << 0;
    QTest::newRow("port with blanks") << server << 2 << " 995 " << QString() << 995;
    QTest::newRow("port 0") << server << 2 << "0" << invalidPort << 0;
    QTest::newRow("port 65536") << server << 2 << "65536" << invalidPort << 0;
    QTest::newRow("port -1") << server << 2 << "-1" << invalidPort << 0;
    QTest::newRow("port +995") << server << 2 << "+995" << invalidPort << 0;
    QTest::newRow("port 9.5") << server << 2 << "9.5" << invalidPort << 0;
    QTest::newRow("port after the other fields") << "" << 2 << "abc" << InvalidFields << 0;
}

void TestAccount::securityAndPort()
{
    QFETCH(QString, server);
    QFETCH(int, security);
    QFETCH(QString, port);
    QFETCH(QString, message);
    QFETCH(int, savedPort);

    Harness h;
    h.run.ProfileSettings.Security = 1;
    h.run.ProfileSettings.Port = 2110;
    h.open();
    QCOMPARE(h.control<QComboBox>("SecurityCombo")->currentText(), QStringLiteral("STARTTLS"));
    QCOMPARE(h.text("PortField")->text(), QStringLiteral("2110"));
    h.dialog->show();
    h.fillValid();
    h.text("Text1")->setText(server);
    h.control<QComboBox>("SecurityCombo")->setCurrentIndex(security);
    h.text("PortField")->setText(port);
    // Without security, a line says that the password crosses the network unencrypted.
    const bool warned = security == 0 && !server.isEmpty() && server != QStringLiteral("127.0.0.1");
    QCOMPARE(h.control<QLabel>("PlainWarning")->isVisibleTo(h.control<QDialog>("ServerOptions")), warned);
    h.button("Command1")->click();

    const ProfileSettings& record = h.run.ProfileSettings;
    if (!message.isEmpty()) {
        QCOMPARE(h.desktop.messageTexts(), QStringList{message});
        QCOMPARE(h.desktop.messages.first().icon, QMessageBox::Warning);
        QCOMPARE(h.desktop.messages.first().title, QStringLiteral("PostOwl 1.5"));
        if (message != InvalidFields)
            QCOMPARE(h.dialog->focusWidget(), h.button("ServerOptionsButton"));
        QCOMPARE(record.Security, quint8(1));
        QCOMPARE(record.Port, quint16(2110));
        QVERIFY(h.settings->allKeys().isEmpty());
        QVERIFY(h.applyEnabled());
        return;
    }
    QVERIFY(h.desktop.messages.isEmpty());
    QCOMPARE(record.Security, quint8(security));
    QCOMPARE(record.Port, quint16(savedPort));
    QCOMPARE(h.store->get("Home", "Security"), QString::number(security));
    QCOMPARE(h.store->get("Home", "Port"), QString::number(savedPort));
    // The next opening shows the standard port as an empty field.
    h.open();
    QCOMPARE(h.text("PortField")->text(), savedPort ? QString::number(savedPort) : QString());
}

void TestAccount::serverOptionsForImapAndTheProvider()
{
    Harness h;
    h.open();
    h.fillValid();
    auto* protocol = h.control<QComboBox>("ProtocolCombo");
    protocol->setCurrentIndex(1);
    QCOMPARE(h.control<QLabel>("Label1")->text(), QStringLiteral("Servername IMAP"));
    QVERIFY(h.text("FolderField")->isEnabled());
    QCOMPARE(h.control<QLabel>("ServerSummary")->text(), QStringLiteral("IMAP, None, port 143"));

    // Microsoft fills in its addresses; the password gives way to the sign-in.
    auto* signIn = h.control<QComboBox>("SignInCombo");
    signIn->setCurrentIndex(signIn->findText(QStringLiteral("Microsoft")));
    emit signIn->activated(signIn->currentIndex());
    QCOMPARE(h.text("AuthorizeUrlField")->text(),
             QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize"));
    QVERIFY(h.text("ScopeField")->text().endsWith(QStringLiteral(" offline_access")));
    QVERIFY(!h.text("Text3")->isEnabled());
    h.button("SignInButton")->click();
    QVERIFY(h.control<QLabel>("SignInStatus")->text().contains(QStringLiteral("client ID")));
    h.text("ClientIdField")->setText(QStringLiteral("my-app"));
    h.button("SignInButton")->click();
    QCOMPARE(h.control<QLabel>("SignInStatus")->text(), QStringLiteral("Signed in"));
    QVERIFY(h.host.calls.contains(QStringLiteral("signIn")));

    // Only inside TLS, and the tokens need the keyring, which this test has not.
    h.button("Command1")->click();
    QCOMPARE(h.desktop.messageTexts(),
             QStringList{QStringLiteral("Signing in with the provider needs a secure "
                                        "connection (STARTTLS or SSL/TLS).")});
    h.control<QComboBox>("SecurityCombo")->setCurrentIndex(2);
    h.button("Command1")->click();
    QVERIFY(h.desktop.messages.last().text.startsWith(QStringLiteral("The desktop keyring could not save")));
    QCOMPARE(h.run.ProfileSettings.Auth, quint8(0));
}

void TestAccount::changingTheServerForgetsTheTrustedCertificate_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("trusted");
    QTest::newRow("same server") << "pop.example"
                                 << "ab:cd";
    QTest::newRow("another server") << "mail.example"
                                    << "";
}

void TestAccount::changingTheServerForgetsTheTrustedCertificate()
{
    QFETCH(QString, server);
    QFETCH(QString, trusted);

    Harness h;
    h.run.ProfileSettings.ServerName = QStringLiteral("pop.example");
    h.run.ProfileSettings.TrustedCertificate = QStringLiteral("ab:cd");
    h.open();
    h.fillValid();
    h.text("Text1")->setText(server);
    h.button("Command1")->click();
    QCOMPARE(h.run.ProfileSettings.TrustedCertificate, trusted);
    QCOMPARE(h.store->get("Home", "TrustedCertificate"), trusted);
}

QTEST_MAIN(TestAccount)
#include "tst_account.moc"
