#include "autostartentry.h"
#include "scramblepassword.h"
#include "settingsstore.h"
#include "temporarystore.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A throw-away settings file; `lines` is written verbatim first, the way a
// user with a text editor would.

ProfileSettings loaded(const SettingsStore& store, const QString& profile = QStringLiteral("DEFAULT"))
{
    ProfileSettings record;
    record.ProfileName = profile;
    store.loadProfile(record);
    return record;
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void autostartExecLine_data();
    void autostartExecLine();
    void autostartFileNames();
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void absentAndEmptyKeys();
    void handEditedValues_data();
    void handEditedValues();
    void securityKeys_data();
    void securityKeys();
    void windowPosition_data();
    void windowPosition();
    void savedProfileReadsBack();
    void passwordOfBlanksIsNotUnscrambled();
    void profilesKeptApart_data();
    void profilesKeptApart();
    void backslashProfileStaysWhereItWas();
    void fileIsOwnerOnly();
    void unwritableFileIsReported();
    void garbageFileGivesDefaults();
};

void TestSettingsStore::absentAndEmptyKeys()
{
    TemporaryStore file("[DEFAULT]\nNameInBar=\n");
    QCOMPARE(file.store.get("DEFAULT", "NameInBar", "fallback"), QString(""));
    QVERIFY(!file.store.get("DEFAULT", "NameInBar", "fallback").isNull());
    QCOMPARE(file.store.get("DEFAULT", "MailReader", "fallback"), QString("fallback"));
    QCOMPARE(file.store.get("Other", "NameInBar", "fallback"), QString("fallback"));
    QCOMPARE(file.store.get("DEFAULT", "MailReader"), QString());

    // A new profile: everything keeps the start-up defaults.
    const ProfileSettings fresh = loaded(file.store, "Nobody");
    QCOMPARE(fresh.ServerName, QString());
    QCOMPARE(fresh.Interval, qint16(5));
    QCOMPARE(fresh.PlaySound, quint8(1));
    QCOMPARE(fresh.NotifyOnce, quint8(1));
    QCOMPARE(fresh.StartReader, quint8(0));
    QCOMPARE(fresh.Popup, quint8(0));
    QCOMPARE(fresh.PushURL, QString());
}

void TestSettingsStore::handEditedValues_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("playSound");
    QTest::addColumn<int>("askBefore");

    QTest::newRow("plain numbers") << QByteArray("Interval=7\nPlaySound=0\nAskBefore=1") << 7 << 0 << 1;
    QTest::newRow("blanks around numbers") << QByteArray("Interval=\" 12 \"\nPlaySound= 0") << 12 << 0 << 0;
    QTest::newRow("not numbers keep defaults")
        << QByteArray("Interval=soon\nPlaySound=yes\nAskBefore=x") << 5 << 1 << 0;
    QTest::newRow("fraction rounds half to even") << QByteArray("Interval=2.5") << 2 << 1 << 0;
    QTest::newRow("interval beyond 16 bits") << QByteArray("Interval=40000") << 5 << 1 << 0;
    QTest::newRow("negative interval kept") << QByteArray("Interval=-3") << -3 << 1 << 0;
    QTest::newRow("flag other than 0 or 1") << QByteArray("PlaySound=7\nAskBefore=-1") << 5 << 1 << 0;
    QTest::newRow("empty values") << QByteArray("Interval=\nPlaySound=\nAskBefore=") << 5 << 1 << 0;
    QTest::newRow("absent optional flags") << QByteArray("Interval=9") << 9 << 1 << 0;
}

void TestSettingsStore::handEditedValues()
{
    QFETCH(QByteArray, lines);
    QFETCH(int, interval);
    QFETCH(int, playSound);
    QFETCH(int, askBefore);

    TemporaryStore file("[DEFAULT]\nServerName=pop.example.org\n" + lines + "\n");
    const ProfileSettings record = loaded(file.store);
    QCOMPARE(record.ServerName, QString("pop.example.org"));
    QCOMPARE(int(record.Interval), interval);
    QCOMPARE(int(record.PlaySound), playSound);
    QCOMPARE(int(record.AskBefore), askBefore);
}

void TestSettingsStore::securityKeys_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<int>("security");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("trusted");
    // The key --verbose names as not understood.
    QTest::addColumn<QString>("noted");

    // Absent: the plain conversation on its standard port, as before these keys existed.
    QTest::newRow("absent") << QByteArray() << 0 << 0 << ""
                            << "";
    QTest::newRow("stored") << QByteArray("Security=2\nPort=2995\nTrustedCertificate=ab:cd") << 2 << 2995
                            << "ab:cd"
                            << "";
    // Damaged: TLS from the first byte, never the password in the clear.
    QTest::newRow("security beyond 2 reads as TLS") << QByteArray("Security=99") << 2 << 0 << ""
                                                    << "Security";
    QTest::newRow("security not a number") << QByteArray("Security=TLS") << 2 << 0 << ""
                                           << "Security";
    QTest::newRow("negative security") << QByteArray("Security=-1") << 2 << 0 << ""
                                       << "Security";
    QTest::newRow("security with a tail") << QByteArray("Security=2x") << 2 << 0 << ""
                                          << "Security";
    QTest::newRow("port beyond 16 bits") << QByteArray("Security=1\nPort=70000") << 1 << 0 << ""
                                         << "Port";
    QTest::newRow("negative port") << QByteArray("Port=-110") << 0 << 0 << ""
                                   << "Port";
}

void TestSettingsStore::securityKeys()
{
    QFETCH(QByteArray, lines);
    QFETCH(int, security);
    QFETCH(int, port);
    QFETCH(QString, trusted);
    QFETCH(QString, noted);

    TemporaryStore file("[DEFAULT]\nServerName=pop.example.org\n" + lines + "\n");
    ProfileSettings record;
    record.ProfileName = QStringLiteral("DEFAULT");
    const QStringList notUnderstood = file.store.loadProfile(record);
    QCOMPARE(int(record.Security), security);
    QCOMPARE(int(record.Port), port);
    QCOMPARE(record.TrustedCertificate, trusted);
    QCOMPARE(notUnderstood.size(), noted.isEmpty() ? 0 : 1);
    if (!noted.isEmpty())
        QVERIFY2(notUnderstood.first().startsWith(noted + "=\""), qPrintable(notUnderstood.first()));
}

void TestSettingsStore::windowPosition_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");

    QTest::newRow("absent") << QByteArray() << -1 << -1;
    QTest::newRow("stored") << QByteArray("WIN-X=1440\nWIN-Y=0") << 1440 << 0;
    QTest::newRow("negative is not set") << QByteArray("WIN-X=-15\nWIN-Y=-1") << -1 << -1;
    QTest::newRow("beyond 16 bits is not set") << QByteArray("WIN-X=40000\nWIN-Y=32767") << -1 << 32767;
    QTest::newRow("not a number") << QByteArray("WIN-X=left\nWIN-Y=1e3") << -1 << 1000;
}

void TestSettingsStore::windowPosition()
{
    QFETCH(QByteArray, lines);
    QFETCH(int, x);
    QFETCH(int, y);

    TemporaryStore file("[DEFAULT]\n" + lines + "\n");
    const SettingsStore::WindowPosition position = file.store.readWindowPosition("DEFAULT");
    QCOMPARE(position.x, x);
    QCOMPARE(position.y, y);
}

void TestSettingsStore::savedProfileReadsBack()
{
    TemporaryStore file;
    ProfileSettings record;
    record.ProfileName = QStringLiteral("Home Office");
    record.ServerName = QStringLiteral(" pop.example.org ");
    record.UserName = QStringLiteral("alice, bob");
    record.Password = QStringLiteral("q2 secret");
    record.Interval = 12;
    record.StartReader = 1;
    record.PlaySound = 0;
    record.NotifyOnce = 0;
    record.AlwaysOnTop = 1;
    record.NameInBar = QStringLiteral("@home");
    record.MailReader = QStringLiteral("/usr/bin/reader --inbox");
    record.AskBefore = 1;
    record.SMSUserID = QStringLiteral("me");
    record.SMSPassword = QStringLiteral("p&ss+word");
    record.SMSMobile = QStringLiteral("+41 79 123");
    record.SysTray = 1;
    record.Security = 1;
    record.Port = 1100;
    record.TrustedCertificate = QStringLiteral("0a:ff");
    QVERIFY(file.store.saveProfile(record));
    QVERIFY(file.store.saveWindowPosition(record.ProfileName, 1440, 300));

    // Read back by a fresh store, as the next start would.
    QSettings reread(file.fileName(), QSettings::IniFormat);
    SettingsStore next(reread);
    QCOMPARE(next.get(record.ProfileName, "Password"), ScramblePassword(record.Password));
    QCOMPARE(next.get(record.ProfileName, "Interval"), QString("12"));
    QCOMPARE(next.get(record.ProfileName, "WIN-X"), QString("1440"));
    const ProfileSettings back = loaded(next, record.ProfileName);
    QCOMPARE(back.ServerName, record.ServerName);
    QCOMPARE(back.UserName, record.UserName);
    QCOMPARE(back.Password, record.Password);
    QCOMPARE(back.Interval, record.Interval);
    QCOMPARE(back.StartReader, record.StartReader);
    QCOMPARE(back.PlaySound, record.PlaySound);
    QCOMPARE(back.NotifyOnce, record.NotifyOnce);
    QCOMPARE(back.AlwaysOnTop, record.AlwaysOnTop);
    QCOMPARE(back.NameInBar, record.NameInBar);
    QCOMPARE(back.MailReader, record.MailReader);
    QCOMPARE(back.AskBefore, record.AskBefore);
    QCOMPARE(back.SMSUserID, record.SMSUserID);
    QCOMPARE(back.SMSPassword, record.SMSPassword);
    QCOMPARE(back.SMSMobile, record.SMSMobile);
    QCOMPARE(back.SysTray, record.SysTray);
    QCOMPARE(back.Security, record.Security);
    QCOMPARE(back.Port, record.Port);
    QCOMPARE(back.TrustedCertificate, record.TrustedCertificate);
}

void TestSettingsStore::passwordOfBlanksIsNotUnscrambled()
{
    TemporaryStore file("[DEFAULT]\nPassword=\"   \"\nSMSPassword=\n");
    const ProfileSettings record = loaded(file.store);
    QCOMPARE(record.Password, QString("   "));
    QCOMPARE(record.SMSPassword, QString());
}

void TestSettingsStore::profilesKeptApart_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");

    const auto row = [](const char* name, const QString& first, const QString& second) {
        QTest::newRow(name) << first << second;
    };
    row("two names", "Home", "Work");
    row("slash in front", "x", "/x");
    row("slash behind", "x", "x/");
    row("slash inside", "a", "a/b");
    row("backslash inside", "a", "a\\b");
    row("slash and backslash", "a/b", "a\\b");
    row("slash and its escape", "a%2Fb", "a/b");
    row("percent and slash", "a%/b", "a%25/b");
    row("percent only", "50%", "50%25");
}

void TestSettingsStore::profilesKeptApart()
{
    QFETCH(QString, first);
    QFETCH(QString, second);

    TemporaryStore file;
    QVERIFY(file.store.save(first, "ServerName", "pop.first"));
    QVERIFY(file.store.save(second, "ServerName", "pop.second"));
    QVERIFY(file.store.saveWindowPosition(first, 15, 30));
    QSettings reread(file.fileName(), QSettings::IniFormat);
    SettingsStore next(reread);
    QCOMPARE(next.readServerName(first), QString("pop.first"));
    QCOMPARE(next.readServerName(second), QString("pop.second"));
    QCOMPARE(next.readWindowPosition(second).x, -1);
    QCOMPARE(next.readWindowPosition(first).y, 30);
    // A name without a slash or backslash keeps the group it always had, and
    // no other profile nests inside it.
    for (const QString& name : {first, second}) {
        if (name.contains('/') || name.contains('\\'))
            continue;
        QCOMPARE(reread.value(name + "/ServerName").toString(), next.readServerName(name));
        reread.beginGroup(name);
        QCOMPARE(reread.childGroups(), QStringList());
        reread.endGroup();
    }
}

void TestSettingsStore::backslashProfileStaysWhereItWas()
{
#ifdef Q_OS_WIN
    QSKIP("Qt reads a backslash in a group name as a separator here");
#endif
    // How Qt has always written the group of the profile "a\b".
    TemporaryStore file("[a%5Cb]\nServerName=pop.old\n");
    QCOMPARE(file.store.readServerName("a\\b"), QString("pop.old"));
}

void TestSettingsStore::fileIsOwnerOnly()
{
    const mode_t previous = umask(022);
    TemporaryStore file;
    QVERIFY(file.store.save("DEFAULT", "ServerName", "pop.example.org"));
    umask(previous);
    QCOMPARE(QFile::permissions(file.fileName()) &
                 (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
             QFile::Permissions());
    QVERIFY(QFile::permissions(file.fileName()) & QFile::ReadOwner);

    // A file some earlier program left readable by everyone is tightened by the next save.
    TemporaryStore existing("[DEFAULT]\nServerName=a\n");
    QVERIFY(QFile::setPermissions(existing.fileName(), QFile::ReadOwner | QFile::WriteOwner |
                                                           QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(existing.store.save("DEFAULT", "ServerName", "b"));
    struct stat status = {};
    QCOMPARE(stat(QFile::encodeName(existing.fileName()).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, mode_t(0600));
}

void TestSettingsStore::unwritableFileIsReported()
{
    TemporaryStore file("[DEFAULT]\nServerName=a\n");
    if (geteuid() == 0) {
        // root writes read-only files anyway; a folder in the file's place stops everyone.
        QFile::remove(file.fileName());
        QVERIFY(QDir().mkdir(file.fileName()));
    } else {
        QFile::setPermissions(file.fileName(), QFile::ReadOwner);
    }
    QVERIFY(!file.store.save("DEFAULT", "ServerName", "b"));
    ProfileSettings record;
    record.ProfileName = QStringLiteral("DEFAULT");
    QVERIFY(!file.store.saveProfile(record));
}

void TestSettingsStore::garbageFileGivesDefaults()
{
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 37 + 11) % 256));
    TemporaryStore file(garbage);
    const ProfileSettings record = loaded(file.store);
    QCOMPARE(record.Interval, qint16(5));
    QVERIFY(file.store.readWindowPosition("DEFAULT").x >= -1);
    QVERIFY(file.store.save("DEFAULT", "ServerName", "after"));
    QCOMPARE(file.store.readServerName("DEFAULT"), QString("after"));
}

void TestSettingsStore::autostartExecLine_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("exec"); // quoted for Exec, then escaped as a string value

    QTest::newRow("plain") << "postowl"
                           << "Home"
                           << "postowl Home";
    QTest::newRow("blank") << "postowl"
                           << "Home Office"
                           << R"(postowl "Home Office")";
    QTest::newRow("quotes") << "postowl"
                            << R"(it's "mine")"
                            << R"(postowl "it's \\"mine\\"")";
    QTest::newRow("percent and dollar") << "postowl"
                                        << "50% $HOME"
                                        << R"(postowl "50%% \\$HOME")";
    QTest::newRow("backslash") << "postowl"
                               << R"(C:\mail)"
                               << R"(postowl "C:\\\\mail")";
    QTest::newRow("backtick") << "postowl"
                              << "a`b"
                              << R"(postowl "a\\`b")";
    QTest::newRow("line break") << "postowl"
                                << "two\nlines"
                                << R"(postowl "two\nlines")";
    QTest::newRow("percent alone") << "postowl"
                                   << "100%"
                                   << "postowl 100%%";
    // The program reads these as options; blanks around a name are dropped.
    QTest::newRow("--help") << "postowl"
                            << "--help"
                            << R"(postowl " --help")";
    QTest::newRow("-reverse") << "postowl"
                              << "-reverse"
                              << R"(postowl " -reverse")";
    QTest::newRow("program with a blank") << "/opt/my mail/postowl"
                                          << "Home"
                                          << R"("/opt/my mail/postowl" Home)";
}

void TestSettingsStore::autostartExecLine()
{
    QFETCH(QString, program);
    QFETCH(QString, profile);
    QFETCH(QString, exec);
    QCOMPARE(AutostartEntry::execValue(program, profile), exec);
}

void TestSettingsStore::autostartFileNames()
{
    const QStringList profiles{"Home",    "Home Office", "Home%20Office", "../.bashrc",
                               ".hidden", "a/b",         "a%2Fb",         "Büro"};
    QSet<QString> names;
    for (const QString& profile : profiles) {
        const QString name = AutostartEntry::fileName(profile);
        QVERIFY2(!name.contains(u'/') && name.startsWith(QStringLiteral("postowl-")), qPrintable(name));
        names.insert(name);
    }
    QCOMPARE(names.size(), profiles.size());
    QCOMPARE(AutostartEntry::fileName(QStringLiteral("Home Office")),
             QStringLiteral("postowl-Home%20Office.desktop"));
}

QTEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
