// The passwords in the desktop keyring, against a real Secret Service
// (gnome-keyring-daemon on a private bus) and against a bus where no keyring
// answers. Run through with-keyring.sh, which says which by POSTOWL_TEST_KEYRING.
#include "fakeclock.h"
#include "fakedesktop.h"
#include "form1.h"
#include "generalstuff.h"
#include "mailcheckrig.h"
#include "scramblepassword.h"
#include "scriptedpop3server.h"
#include "settingsstore.h"

#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Pop3Password = QStringLiteral("a pass phrase longer than twenty-five"); // 37 characters
const QString SmsPassword = QStringLiteral("sms & secret");

// One run of the program over a settings file that outlives it, so that a
// second run can start where the first ended.
struct ProgramRun
{
    explicit ProgramRun(const QString& fileName)
    {
        settings = std::make_unique<QSettings>(fileName, QSettings::IniFormat);
        store = std::make_unique<SettingsStore>(*settings);
        form = std::make_unique<Form1>(run, *store, desktop, clock);
        form->mailCheck().setPort(server.port());
    }

    ScriptedPop3Server server;
    GeneralStuff run;
    FakeClock clock;
    FakeDesktop desktop;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<Form1> form;
};

template <typename T> T* control(QDialog& dialog, const char* name)
{
    return dialog.findChild<T*>(QLatin1String(name));
}

// What the keyring holds, asked from outside the program; the password goes
// through the pipe only, never on a command line. Null when there is none.
QString lookUp(const QString& entry)
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("server"),
                                               QStringLiteral("PostOwl"), QStringLiteral("user"), entry});
    if (!tool.waitForFinished(10000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return QString();
    return QString::fromUtf8(tool.readAllStandardOutput());
}

QByteArray fileText(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString stored(const QString& fileName, const QString& key)
{
    QSettings reread(fileName, QSettings::IniFormat);
    return SettingsStore(reread).get(QStringLiteral("Home"), key, QStringLiteral("absent"));
}

void writePlainProfile(const QString& fileName)
{
    QSettings settings(fileName, QSettings::IniFormat);
    SettingsStore store(settings);
    const QList<QPair<QString, QString>> keys{
        {"ServerName", "127.0.0.1"}, {"UserName", "alice"},     {"Password", ScramblePassword("s3cret")},
        {"Interval", "5"},           {"StartReader", "0"},      {"PlaySound", "0"},
        {"NotifyOnce", "1"},         {"SMSMobile", "+4179123"}, {"SMSPassword", ScramblePassword("smspw")}};
    for (const auto& [key, value] : keys)
        store.save(QStringLiteral("Home"), key, value);
}

// Opens the Account dialog from the menu and lets the test work in it.
bool inAccountDialog(ProgramRun& program, const std::function<void(QDialog&)>& work)
{
    bool shown = false;
    program.desktop.handleNextDialog([&](QDialog& dialog) {
        shown = true;
        work(dialog);
        control<QPushButton>(dialog, "Command2")->click();
        return dialog.result();
    });
    program.form->mnuAccount_Click();
    return shown;
}

bool keyringRunning()
{
    return qEnvironmentVariable("POSTOWL_TEST_KEYRING") == QLatin1String("running");
}

} // namespace

class TestKeyring : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstRunKeepsPasswordsInKeyring();
    void movingToKeyringAndBackKeepsBothPasswords();
    void unreachableKeyringAsksAndStoresNothing();
    void failedKeyringWriteChangesNothing();

private:
    QTemporaryDir m_dir;
};

void TestKeyring::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    const QString mode = qEnvironmentVariable("POSTOWL_TEST_KEYRING");
    if (mode != QLatin1String("running") && mode != QLatin1String("absent"))
        QSKIP("run through tests/app/with-keyring.sh, which brings the keyring");
}

void TestKeyring::firstRunKeepsPasswordsInKeyring()
{
    if (!keyringRunning())
        QSKIP("needs the keyring");
    const QString fileName = m_dir.filePath(QStringLiteral("first-run.conf"));
    {
        ProgramRun first(fileName);
        bool tickedByItself = false;
        first.desktop.handleNextDialog([&](QDialog& dialog) {
            // A new profile: the box ticks itself once the keyring has answered.
            tickedByItself =
                QTest::qWaitFor([&] { return control<QCheckBox>(dialog, "KeyringCheck")->isChecked(); });
            control<QLineEdit>(dialog, "Text1")->setText(QStringLiteral("127.0.0.1"));
            control<QLineEdit>(dialog, "Text2")->setText(QStringLiteral("alice"));
            control<QLineEdit>(dialog, "Text3")->setText(Pop3Password);
            control<QLineEdit>(dialog, "Text9")->setText(QStringLiteral("+4179123"));
            control<QLineEdit>(dialog, "Text8")->setText(SmsPassword);
            control<QPushButton>(dialog, "Command1")->click();
            control<QPushButton>(dialog, "Command2")->click();
            return dialog.result();
        });
        QVERIFY(first.form->Form_Load(QStringLiteral("Home")));
        QVERIFY(tickedByItself);
        QTRY_VERIFY(first.server.receivedLines.contains("PASS " + Pop3Password.toUtf8() + "\r\n"));
        QVERIFY(first.desktop.messages.isEmpty());
    }

    QCOMPARE(lookUp(QStringLiteral("Home/POP3")), Pop3Password);
    QCOMPARE(lookUp(QStringLiteral("Home/SMS")), SmsPassword);
    const QByteArray text = fileText(fileName);
    QVERIFY(text.contains("PasswordStore=1"));
    for (const QString& password : {Pop3Password, SmsPassword}) {
        QVERIFY(!text.contains(password.toUtf8()));
        QVERIFY(!text.contains(ScramblePassword(password.left(25)).toUtf8()));
    }
    QCOMPARE(stored(fileName, QStringLiteral("Password")), QString());
    QCOMPARE(stored(fileName, QStringLiteral("SMSPassword")), QString());

    // Start again: the check sends the keyring's password without asking.
    ProgramRun second(fileName);
    QVERIFY(second.form->Form_Load(QStringLiteral("Home")));
    QTRY_VERIFY(second.server.receivedLines.contains("PASS " + Pop3Password.toUtf8() + "\r\n"));
    QCOMPARE(second.run.ProfileSettings.SMSPassword, SmsPassword);
    QVERIFY(second.desktop.shownDialogs.isEmpty());

    // The dialog shows the keyring's password; an emptied field deletes its entry.
    QString shown;
    QVERIFY(inAccountDialog(second, [&](QDialog& dialog) {
        shown = control<QLineEdit>(dialog, "Text3")->text();
        control<QLineEdit>(dialog, "Text8")->clear();
        control<QPushButton>(dialog, "Command1")->click();
    }));
    QCOMPARE(shown, Pop3Password);
    QVERIFY(lookUp(QStringLiteral("Home/SMS")).isNull());
    QCOMPARE(lookUp(QStringLiteral("Home/POP3")), Pop3Password);
}

void TestKeyring::movingToKeyringAndBackKeepsBothPasswords()
{
    if (!keyringRunning())
        QSKIP("needs the keyring");
    const QString fileName = m_dir.filePath(QStringLiteral("moving.conf"));
    writePlainProfile(fileName);
    ProgramRun program(fileName);
    QVERIFY(program.form->Form_Load(QStringLiteral("Home")));

    QVERIFY(inAccountDialog(program, [](QDialog& dialog) {
        control<QCheckBox>(dialog, "KeyringCheck")->click();
        control<QPushButton>(dialog, "Command1")->click();
    }));
    QVERIFY(program.desktop.messages.isEmpty());
    QCOMPARE(lookUp(QStringLiteral("Home/POP3")), QStringLiteral("s3cret"));
    QCOMPARE(lookUp(QStringLiteral("Home/SMS")), QStringLiteral("smspw"));
    QCOMPARE(stored(fileName, QStringLiteral("PasswordStore")), QStringLiteral("1"));
    QCOMPARE(stored(fileName, QStringLiteral("Password")), QString());
    QCOMPARE(stored(fileName, QStringLiteral("SMSPassword")), QString());

    QVERIFY(inAccountDialog(program, [](QDialog& dialog) {
        control<QCheckBox>(dialog, "KeyringCheck")->click();
        control<QPushButton>(dialog, "Command1")->click();
    }));
    QVERIFY(program.desktop.messages.isEmpty());
    QCOMPARE(stored(fileName, QStringLiteral("PasswordStore")), QStringLiteral("0"));
    QCOMPARE(stored(fileName, QStringLiteral("Password")), ScramblePassword(QStringLiteral("s3cret")));
    QCOMPARE(stored(fileName, QStringLiteral("SMSPassword")), ScramblePassword(QStringLiteral("smspw")));
    QVERIFY(lookUp(QStringLiteral("Home/POP3")).isNull());
    QVERIFY(lookUp(QStringLiteral("Home/SMS")).isNull());
}

void TestKeyring::unreachableKeyringAsksAndStoresNothing()
{
    if (keyringRunning())
        QSKIP("needs a bus without a keyring");
    const QString fileName = m_dir.filePath(QStringLiteral("unreachable.conf"));
    writePlainProfile(fileName);
    {
        QSettings settings(fileName, QSettings::IniFormat);
        settings.setValue(QStringLiteral("Home/PasswordStore"), QStringLiteral("1"));
        settings.setValue(QStringLiteral("Home/Password"), QString());
    }
    ProgramRun program(fileName);
    int messagesBeforePrompt = -1;
    program.desktop.handleNextDialog([&](QDialog& dialog) {
        messagesBeforePrompt = program.desktop.messages.size();
        return typePassword(QStringLiteral("typed"))(dialog);
    });
    QVERIFY(program.form->Form_Load(QStringLiteral("Home")));
    QTRY_VERIFY(program.server.receivedLines.contains("PASS typed\r\n"));
    QCOMPARE(messagesBeforePrompt, 1);
    QCOMPARE(program.desktop.messages.size(), 1);
    const FakeDesktop::Message& message = program.desktop.messages.first();
    QCOMPARE(message.icon, QMessageBox::Information);
    QCOMPARE(message.title, QStringLiteral("PostOwl 1.5"));
    QVERIFY2(message.text.startsWith(QLatin1String("The desktop keyring could not be reached: ")),
             qPrintable(message.text));
    QVERIFY(message.text.endsWith(QLatin1String("\r\nPostOwl will ask for the password.")));
    QVERIFY(!fileText(fileName).contains("typed"));
    QVERIFY2(program.run.ProfileSettings.SMSPassword.isEmpty(), "no fall-back on the file's copy");
}

void TestKeyring::failedKeyringWriteChangesNothing()
{
    if (keyringRunning())
        QSKIP("needs a bus without a keyring");
    const QString fileName = m_dir.filePath(QStringLiteral("failing.conf"));
    writePlainProfile(fileName);
    ProgramRun program(fileName);
    QVERIFY(program.form->Form_Load(QStringLiteral("Home")));
    const QByteArray before = fileText(fileName);

    bool applyStillEnabled = false;
    QVERIFY(inAccountDialog(program, [&](QDialog& dialog) {
        control<QLineEdit>(dialog, "Text2")->setText(QStringLiteral("bob"));
        control<QCheckBox>(dialog, "KeyringCheck")->click();
        control<QPushButton>(dialog, "Command1")->click();
        applyStillEnabled = control<QPushButton>(dialog, "Command1")->isEnabled();
    }));
    QVERIFY(applyStillEnabled);
    QCOMPARE(program.desktop.messages.size(), 1);
    QCOMPARE(program.desktop.messages.first().icon, QMessageBox::Warning);
    QVERIFY(program.desktop.messages.first().text.startsWith(
        QLatin1String("The desktop keyring could not save the passwords: ")));
    QCOMPARE(fileText(fileName), before);
    QCOMPARE(program.run.ProfileSettings.UserName, QStringLiteral("alice"));
    QCOMPARE(program.run.ProfileSettings.PasswordStore, quint8(0));
    QCOMPARE(program.run.ProfileSettings.Password, QStringLiteral("s3cret"));
}

QTEST_MAIN(TestKeyring)
#include "tst_keyring.moc"
