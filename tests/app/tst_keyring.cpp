// The passwords in the desktop keyring: against a real gnome-keyring on a
// private bus, and against a bus where no keyring answers. with-keyring.sh
// starts either and says which in POSTOWL_TEST_KEYRING.
#include "fakeclock.h"
#include "fakedesktop.h"
#include "form1.h"
#include "generalstuff.h"
#include "mailcheckrig.h"
#include "passwordkeyring.h"
#include "programrun.h"
#include "scriptedpop3server.h"
#include "settingsstore.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString LongPassword = QStringLiteral("a pass phrase longer than twenty-five");

// What the keyring holds, asked from outside: the password comes through
// the pipe, never on a command line. Null when there is no such entry.
QString lookUp(const QString& entry)
{
    QProcess tool;
    tool.start("secret-tool", {"lookup", "server", "PostOwl", "user", entry});
    tool.waitForFinished();
    return tool.exitCode() == 0 ? QString::fromUtf8(tool.readAllStandardOutput()) : QString();
}

QByteArray fileText(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The Account dialog from the menu: work in it, Apply, Close. True when the
// save went through (Apply disabled again).
bool applyInDialog(ProgramRun& program, const std::function<void(QDialog&)>& work)
{
    bool saved = false;
    program.desktop.handleNextDialog([&](QDialog& dialog) {
        work(dialog);
        auto* apply = dialog.findChild<QPushButton*>("Command1");
        apply->click();
        saved = !apply->isEnabled();
        dialog.findChild<QPushButton*>("Command2")->click();
        return dialog.result();
    });
    program.form().mnuAccount_Click();
    return saved;
}

// With `silent`, a Secret Service on the bus that takes every call and never
// answers one; gone again, it leaves the calls to fail late.
struct SilentKeyring : QDBusVirtualObject
{
    explicit SilentKeyring(bool silent)
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "silent keyring");
        registered = !silent || (bus.registerVirtualObject("/", this, QDBusConnection::SubPath) &&
                                 bus.registerService("org.freedesktop.secrets"));
    }
    ~SilentKeyring() override { QDBusConnection::disconnectFromBus("silent keyring"); }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
    QString introspect(const QString&) const override { return {}; }

    bool registered = false;
};

void shortenDeadline(QObject& owner)
{
    owner.findChild<PasswordKeyring*>()->setDeadline(300);
}

// With passwordStore 1 the file still holds its scrambled copies, as after a
// hand edit: they must never stand in for the keyring's.
void writePlainProfile(const QString& fileName, quint8 passwordStore)
{
    QSettings settings(fileName, QSettings::IniFormat);
    ProfileSettings record;
    record.ProfileName = "Home";
    record.ServerName = "127.0.0.1";
    record.UserName = "alice";
    record.Password = "s3cret";
    record.SMSPassword = "smspw";
    SettingsStore store(settings);
    store.saveProfile(record);
    store.save("Home", "PasswordStore", QString::number(passwordStore));
}

} // namespace

class TestKeyring : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void keyringLeftForTheUserToTick();
    void keyringTakesPasswordsAndGivesThemBack();
    void noKeyringAsksAndStoresNothing_data() { unreachableKeyrings(); }
    void noKeyringAsksAndStoresNothing();
    void noKeyringWriteChangesNothing_data() { unreachableKeyrings(); }
    void noKeyringWriteChangesNothing();

private:
    static void unreachableKeyrings()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("no keyring") << false;
        QTest::newRow("keyring that never answers") << true;
    }

    QTemporaryDir m_dir;
};

void TestKeyring::init()
{
    QStandardPaths::setTestModeEnabled(true);
    const bool wantsKeyring = QByteArray(QTest::currentTestFunction()).startsWith("keyring");
    if (qEnvironmentVariable("POSTOWL_TEST_KEYRING") != QLatin1String(wantsKeyring ? "running" : "absent"))
        QSKIP("with-keyring.sh runs this with the other kind of bus");
}

void TestKeyring::keyringLeftForTheUserToTick()
{
    const QString fileName = m_dir.filePath("new.conf");
    ProgramRun program(fileName);
    bool tickedByItself = true;
    program.desktop.handleNextDialog([&](QDialog& dialog) {
        // Opening the dialog never wakes the keyring: a new profile starts in the file.
        auto* keyring = dialog.findChild<QCheckBox*>("KeyringCheck");
        tickedByItself = QTest::qWaitFor([&] { return keyring->isChecked(); }, 300);
        keyring->click();
        dialog.findChild<QLineEdit*>("Text1")->setText("127.0.0.1");
        dialog.findChild<QLineEdit*>("Text2")->setText("alice");
        dialog.findChild<QLineEdit*>("Text3")->setText(LongPassword);
        dialog.findChild<QPushButton*>("Command1")->click();
        return dialog.result();
    });
    QVERIFY(program.form().Form_Load("New"));
    QVERIFY(!tickedByItself);
    QTRY_VERIFY(program.sent(LongPassword));
    QCOMPARE(lookUp("New/POP3"), LongPassword);
    QVERIFY(!fileText(fileName).contains("pass phrase"));
}

void TestKeyring::keyringTakesPasswordsAndGivesThemBack()
{
    const QString fileName = m_dir.filePath("moving.conf");
    writePlainProfile(fileName, 0);
    auto flip = [](QDialog& dialog) { dialog.findChild<QCheckBox*>("KeyringCheck")->click(); };
    {
        ProgramRun first(fileName);
        QVERIFY(first.form().Form_Load("Home"));
        QVERIFY(applyInDialog(first, flip));
    }
    QCOMPARE(lookUp("Home/POP3"), QStringLiteral("s3cret"));
    QCOMPARE(lookUp("Home/SMS"), QStringLiteral("smspw"));
    const QByteArray text = fileText(fileName);
    QVERIFY(text.contains("\nPassword=\n") && text.contains("\nSMSPassword=\n") &&
            text.contains("PasswordStore=1"));

    // Start again: the check sends the keyring's password without asking.
    ProgramRun second(fileName);
    QVERIFY(second.form().Form_Load("Home"));
    QTRY_VERIFY(second.sent("s3cret"));
    QVERIFY(second.desktop.shownDialogs.isEmpty());

    // Back to the file while the file cannot be written (a hand edit hides a
    // profile, so PostOwl leaves the file alone): the keyring keeps its copy.
    const QByteArray intact = fileText(fileName);
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::Append));
    file.write("[Damaged]\nNote=\"a lone quote\n[Hidden]\nServerName=x\n");
    file.close();
    QVERIFY(!applyInDialog(second, flip));
    QCOMPARE(lookUp("Home/POP3"), QStringLiteral("s3cret"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(intact);
    file.close();
    second.desktop.messages.clear();
    second.run.ProfileSettings.PasswordStore = 1;

    QString shown;
    QVERIFY(applyInDialog(second, [&](QDialog& dialog) {
        shown = dialog.findChild<QLineEdit*>("Text3")->text();
        flip(dialog);
    }));
    QCOMPARE(shown, QStringLiteral("s3cret"));
    QVERIFY(second.desktop.messages.isEmpty());
    QVERIFY(lookUp("Home/POP3").isNull() && lookUp("Home/SMS").isNull());
    ProfileSettings back;
    back.ProfileName = "Home";
    second.files->store.loadProfile(back);
    QCOMPARE(back.PasswordStore, quint8(0));
    QCOMPARE(back.Password, QStringLiteral("s3cret"));
    QCOMPARE(back.SMSPassword, QStringLiteral("smspw"));
}

void TestKeyring::noKeyringAsksAndStoresNothing()
{
    QFETCH(bool, silent);
    SilentKeyring keyring(silent);
    QVERIFY(keyring.registered);
    const QString fileName = m_dir.filePath("unreachable.conf");
    writePlainProfile(fileName, 1);
    ProgramRun program(fileName);
    shortenDeadline(program.form());
    qsizetype messagesBeforePrompt = -1;
    program.desktop.handleNextDialog([&](QDialog& dialog) {
        messagesBeforePrompt = program.desktop.messages.size();
        return typePassword("typed")(dialog);
    });
    QVERIFY(program.form().Form_Load("Home"));
    QTRY_VERIFY(program.sent("typed"));
    QCOMPARE(messagesBeforePrompt, 1);
    QCOMPARE(program.desktop.messages.size(), 1);
    const FakeDesktop::Message& message = program.desktop.messages.first();
    QCOMPARE(message.icon, QMessageBox::Information);
    QVERIFY(message.text.startsWith("The desktop keyring could not be reached: ") &&
            message.text.endsWith("\r\nPostOwl will ask for the password."));
    QVERIFY2(program.run.ProfileSettings.SMSPassword.isEmpty(), "no fall-back on the file's copy");
    QVERIFY(!fileText(fileName).contains("typed"));
}

void TestKeyring::noKeyringWriteChangesNothing()
{
    QFETCH(bool, silent);
    SilentKeyring keyring(silent);
    QVERIFY(keyring.registered);
    const QString fileName = m_dir.filePath("failing.conf");
    writePlainProfile(fileName, 0);
    ProgramRun program(fileName);
    QVERIFY(program.form().Form_Load("Home"));
    const QByteArray before = fileText(fileName);
    QElapsedTimer applying;
    applying.start();
    QVERIFY(!applyInDialog(program, [](QDialog& dialog) {
        shortenDeadline(dialog);
        dialog.findChild<QLineEdit*>("Text2")->setText("bob");
        dialog.findChild<QCheckBox*>("KeyringCheck")->click();
    }));
    QVERIFY2(applying.elapsed() < 5000, "Apply waited beyond the keyring's deadline");
    QCOMPARE(program.desktop.messages.size(), 1);
    QCOMPARE(program.desktop.messages.first().icon, QMessageBox::Warning);
    QVERIFY(program.desktop.messages.first().text.startsWith(
        "The desktop keyring could not save the passwords: "));
    QCOMPARE(fileText(fileName), before);
    QCOMPARE(program.run.ProfileSettings.UserName, QStringLiteral("alice"));
    QCOMPARE(program.run.ProfileSettings.Password, QStringLiteral("s3cret"));
}

QTEST_MAIN(TestKeyring)
#include "tst_keyring.moc"
