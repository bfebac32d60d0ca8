// The settings store under fire: two programs saving into one file at the same
// moment, and files that a crash cut short, that hold garbage or that cannot be
// written. The store must lose no key and must never fall over while loading.

#include "settingsstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const char* const SaverSwitch = "--save-profile-repeatedly";
constexpr int SavesEach = 1000;
constexpr int SaverTimeoutMs = 60000;

// What the saver of `profile` writes in its save number `round`: every field
// changes from one round to the next, so the last value of each is unmistakable.
ProfileSettings roundRecord(const QString& profile, int round)
{
    ProfileSettings record;
    record.ProfileName = profile;
    record.ServerName = QStringLiteral("pop%1.%2.example.org").arg(round).arg(profile.toLower());
    record.UserName = QStringLiteral("%1-user-%2").arg(profile).arg(round);
    record.Password = QStringLiteral("pw-%1-%2").arg(profile.left(3)).arg(round);
    record.Interval = qint16(1 + round % 60);
    record.StartReader = quint8(round % 2);
    record.PlaySound = quint8((round + 1) % 2);
    record.NotifyOnce = quint8(round % 2);
    record.AlwaysOnTop = quint8((round + 1) % 2);
    record.NameInBar = QStringLiteral("%1, box %2").arg(profile).arg(round);
    record.MailReader = QStringLiteral("/usr/bin/reader --round=%1").arg(round);
    record.AskBefore = quint8(round % 2);
    record.SMSUserID = QStringLiteral("sms-%1").arg(round);
    record.SMSPassword = QStringLiteral("s&p+%1").arg(round);
    record.SMSMobile = QStringLiteral("+4179%1").arg(round, 7, 10, QLatin1Char('0'));
    record.SysTray = quint8((round + 1) % 2);
    return record;
}

// The child's side: saves `count` rounds of one profile as soon as the parent says go.
int saveRepeatedly(const QString& path, const QString& profile, int count)
{
    QSettings settings(path, QSettings::IniFormat);
    SettingsStore store(settings);
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    char go[16] = {};
    if (!std::fgets(go, sizeof go, stdin))
        return 3;
    for (int round = 1; round <= count; ++round) {
        if (!store.saveProfile(roundRecord(profile, round))) {
            std::fprintf(stderr, "save %d of %s failed, status %d\n", round, qPrintable(profile),
                         int(settings.status()));
            return 1;
        }
    }
    return 0;
}

const QStringList ProfileKeys{
    "ServerName",    "UserName",          "Password",      "NameInBar",  "MailReader",  "AskBefore",
    "SMSUserID",     "SMSPassword",       "SMSMobile",     "Interval",   "NotifyOnce",  "StartReader",
    "PlaySound",     "AlwaysOnTop",       "SysTray",       "Security",   "Port",        "TrustedCertificate",
    "Popup",         "PushURL",           "PasswordStore", "Protocol",   "Folder",      "Auth",
    "OAuthClientId", "OAuthAuthorizeUrl", "OAuthTokenUrl", "OAuthScope", "ShowSenders", "PushSenders"};

bool sameRecord(const ProfileSettings& a, const ProfileSettings& b)
{
    return a.ServerName == b.ServerName && a.UserName == b.UserName && a.Password == b.Password &&
           a.Interval == b.Interval && a.StartReader == b.StartReader && a.PlaySound == b.PlaySound &&
           a.NotifyOnce == b.NotifyOnce && a.AlwaysOnTop == b.AlwaysOnTop && a.NameInBar == b.NameInBar &&
           a.MailReader == b.MailReader && a.AskBefore == b.AskBefore && a.SMSUserID == b.SMSUserID &&
           a.SMSPassword == b.SMSPassword && a.SMSMobile == b.SMSMobile && a.SysTray == b.SysTray;
}

QString describe(const ProfileSettings& r)
{
    return QStringList{r.ServerName,
                       r.UserName,
                       r.Password,
                       QString::number(r.Interval),
                       QString::number(r.StartReader),
                       QString::number(r.PlaySound),
                       QString::number(r.NotifyOnce),
                       QString::number(r.AlwaysOnTop),
                       r.NameInBar,
                       r.MailReader,
                       QString::number(r.AskBefore),
                       r.SMSUserID,
                       r.SMSPassword,
                       r.SMSMobile,
                       QString::number(r.SysTray)}
        .join(QStringLiteral(" | "));
}

ProfileSettings loaded(const SettingsStore& store, const QString& profile)
{
    ProfileSettings record;
    record.ProfileName = profile;
    store.loadProfile(record);
    return record;
}

bool writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// How a broken settings file is made.
enum class Setup { Contents, ReadOnlyFile, FolderInItsPlace, ParentIsAFile };

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestSettingsFire : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void twoProgramsSavingAtOnceLoseNoKey();
    void fileCutAnywhereKeepsItsWholeLines();
    void brokenFileNeverBreaksLoading_data();
    void brokenFileNeverBreaksLoading();
};

void TestSettingsFire::twoProgramsSavingAtOnceLoseNoKey()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("POSTOWL.conf"));
    const QStringList profiles{QStringLiteral("Home"), QStringLiteral("Work Office")};

    std::vector<std::unique_ptr<QProcess>> savers;
    for (const QString& profile : profiles) {
        auto saver = std::make_unique<QProcess>();
        saver->setProcessChannelMode(QProcess::SeparateChannels);
        saver->start(QCoreApplication::applicationFilePath(),
                     {QLatin1String(SaverSwitch), path, profile, QString::number(SavesEach)});
        QVERIFY2(saver->waitForStarted(5000), qPrintable(saver->errorString()));
        savers.push_back(std::move(saver));
    }
    // Both are up and have opened the store before either writes: they really overlap.
    for (auto& saver : savers) {
        while (!saver->canReadLine())
            QVERIFY2(saver->waitForReadyRead(5000), "a saver never said it was ready");
        QCOMPARE(saver->readLine(), QByteArray("ready\n"));
    }
    for (auto& saver : savers)
        saver->write("go\n");
    for (auto& saver : savers) {
        QVERIFY2(saver->waitForFinished(SaverTimeoutMs), "a saver did not finish");
        QVERIFY2(saver->exitStatus() == QProcess::NormalExit && saver->exitCode() == 0,
                 saver->readAllStandardError().constData());
    }

    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(settings.status(), QSettings::NoError);
    SettingsStore store(settings);
    for (const QString& profile : profiles) {
        settings.beginGroup(profile);
        QStringList keys = settings.childKeys();
        settings.endGroup();
        for (const QString& key : ProfileKeys)
            QVERIFY2(keys.contains(key), qPrintable(profile + QStringLiteral(": key lost: ") + key));

        const ProfileSettings last = roundRecord(profile, SavesEach);
        const ProfileSettings back = loaded(store, profile);
        QVERIFY2(sameRecord(back, last), qPrintable(profile + QStringLiteral(": ") + describe(back) +
                                                    QStringLiteral("\n  expected ") + describe(last)));
    }
}

void TestSettingsFire::fileCutAnywhereKeepsItsWholeLines()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("POSTOWL.conf"));
    {
        QSettings settings(path, QSettings::IniFormat);
        SettingsStore store(settings);
        ProfileSettings record = roundRecord(QStringLiteral("DEFAULT"), 7);
        // Values the file has to quote or escape, so cuts land inside quotes and escapes too.
        record.NameInBar = QStringLiteral(" Home, \"inbox\"; main ");
        record.Password = QStringLiteral("s\tcret\\x");
        QVERIFY(store.saveProfile(record));
        QVERIFY(store.saveWindowPosition(QStringLiteral("DEFAULT"), 1440, 300));
        QVERIFY(store.saveProfile(roundRecord(QStringLiteral("Home"), 3)));
    }
    const QByteArray whole = readFile(path);
    QVERIFY(whole.size() > 300);

    // Where each key's line starts and ends (its line break included), and what the whole file gives.
    struct Line
    {
        QString section;
        QString key;
        qsizetype start;
        qsizetype end;
        QString value;
    };
    QList<Line> lines;
    {
        QSettings complete(path, QSettings::IniFormat);
        SettingsStore store(complete);
        QString section;
        qsizetype start = 0;
        while (start < whole.size()) {
            qsizetype end = whole.indexOf('\n', start);
            end = end < 0 ? whole.size() : end + 1;
            const QByteArray text = whole.mid(start, end - start).trimmed();
            if (text.startsWith('[')) {
                section = QString::fromLatin1(text.mid(1, text.size() - 2));
            } else if (text.contains('=')) {
                const QString key = QString::fromLatin1(text.left(text.indexOf('=')));
                lines.append({section, key, start, end, store.get(section, key)});
            }
            start = end;
        }
    }
    QCOMPARE(lines.size(), 2 * ProfileKeys.size() + 2);

    const QString absent = QStringLiteral("<absent>");
    for (qsizetype cut = 0; cut <= whole.size(); ++cut) {
        QVERIFY(writeFile(path, whole.left(cut)));
        QSettings settings(path, QSettings::IniFormat);
        SettingsStore store(settings);
        // Whatever half line the cut left, loading takes it in its stride.
        loaded(store, QStringLiteral("DEFAULT"));
        loaded(store, QStringLiteral("Home"));
        store.readWindowPosition(QStringLiteral("DEFAULT"));
        for (const Line& line : lines) {
            const QString value = store.get(line.section, line.key, absent);
            if (cut >= line.end)
                QVERIFY2(value == line.value, qPrintable(QStringLiteral("cut at %1: %2/%3 reads %4")
                                                             .arg(cut)
                                                             .arg(line.section, line.key, value)));
            else if (cut <= line.start)
                QVERIFY2(value == absent, qPrintable(QStringLiteral("cut at %1: %2/%3 reads %4")
                                                         .arg(cut)
                                                         .arg(line.section, line.key, value)));
        }
    }
}

void TestSettingsFire::brokenFileNeverBreaksLoading_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("keepsStoredProfile");
    QTest::addColumn<bool>("writable");

    QByteArray garbage(8192, Qt::Uninitialized);
    QRandomGenerator random(20261208);
    for (char& byte : garbage)
        byte = char(random.bounded(256));
    // Keep the random bytes from spelling a section or key by chance.
    garbage.replace('[', '\x01').replace('=', '\x02');

    const QByteArray profile = "[DEFAULT]\nServerName=pop.example.org\nInterval=9\nPlaySound=0\n";
    QByteArray utf16("\xff\xfe", 2);
    for (char c : profile)
        utf16.append(c).append('\0');

    QTest::newRow("binary garbage") << Setup::Contents << garbage << false << true;
    QTest::newRow("garbage after the profile") << Setup::Contents << profile + garbage << true << true;
    QTest::newRow("section header cut short") << Setup::Contents << QByteArray("[DEFAU") << false << true;
    QTest::newRow("saved by an editor as UTF-16") << Setup::Contents << utf16 << false << true;
    // A lone quote or a backslash at a line end reads on into the lines below,
    // hiding the profiles there: a save must not write the file without them.
    const QByteArray work = "[Work]\nServerName=pop.work\n";
    QTest::newRow("lone quote hides the next profile")
        << Setup::Contents << profile + "NameInBar=\"Home\n" + work << true << false;
    QTest::newRow("lone quote hides this profile")
        << Setup::Contents << "[Home]\nNameInBar=\"x\n" + profile + work << false << false;
    QTest::newRow("backslash at a line end hides the next profile")
        << Setup::Contents << "[Home]\nMailReader=C:\\\n" + profile << false << false;
    QTest::newRow("group names written in every way are seen")
        << Setup::Contents
        << profile + "[Home%20Office]\nServerName=a\n[ Work ]\nServerName=b\n[%General]\nServerName=c\n"
                     "[general]\nx=1\n[Caf%E9]\nServerName=d\n[B\xc3\xbcro]\nServerName=e\n"
                     "[a\\b]\nServerName=f\n[%U0100]\nServerName=g\n[Empty]\n; [Commented]\n"
        << true << true;
    QTest::newRow("read-only file") << Setup::ReadOnlyFile << profile << true << false;
    QTest::newRow("folder in the file's place") << Setup::FolderInItsPlace << QByteArray() << false << false;
    QTest::newRow("parent folder is a file") << Setup::ParentIsAFile << QByteArray() << false << false;
}

void TestSettingsFire::brokenFileNeverBreaksLoading()
{
    QFETCH(Setup, setup);
    QFETCH(QByteArray, contents);
    QFETCH(bool, keepsStoredProfile);
    QFETCH(bool, writable);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(QStringLiteral("POSTOWL.conf"));
    switch (setup) {
    case Setup::Contents:
        QVERIFY(writeFile(path, contents));
        break;
    case Setup::ReadOnlyFile:
        // root writes into read-only files all the same; the other rows stop root too.
        if (geteuid() == 0)
            QSKIP("root ignores file modes");
        QVERIFY(writeFile(path, contents));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        break;
    case Setup::FolderInItsPlace:
        QVERIFY(QDir().mkdir(path));
        break;
    case Setup::ParentIsAFile:
        QVERIFY(writeFile(dir.filePath(QStringLiteral("POSTOWL")), "not a folder\n"));
        path = dir.filePath(QStringLiteral("POSTOWL/POSTOWL.conf"));
        break;
    }
    const QByteArray before = readFile(path);

    QSettings settings(path, QSettings::IniFormat);
    SettingsStore store(settings);
    const QStringList groupsBefore = settings.childGroups();
    const ProfileSettings record = loaded(store, QStringLiteral("DEFAULT"));
    QCOMPARE(record.ServerName, keepsStoredProfile ? QStringLiteral("pop.example.org") : QString());
    QCOMPARE(record.Interval, qint16(keepsStoredProfile ? 9 : 5));
    QCOMPARE(record.PlaySound, quint8(keepsStoredProfile ? 0 : 1));
    QCOMPARE(record.NotifyOnce, quint8(1));
    QCOMPARE(record.UserName, QString());
    QCOMPARE(record.Password, QString());
    QCOMPARE(record.SysTray, quint8(0));
    QCOMPARE(store.readWindowPosition(QStringLiteral("DEFAULT")).x, -1);

    // The Account dialog's save must say whether it got through, and where it
    // could, the next start reads what it wrote.
    ProfileSettings applied = roundRecord(QStringLiteral("DEFAULT"), 1);
    // A save that rewrote a damaged file whole counts as a save.
    QCOMPARE(store.saveProfile(applied), writable);
    QCOMPARE(store.save(QStringLiteral("DEFAULT"), QStringLiteral("WIN-X"), QStringLiteral("15")), writable);
    // A file that could be written but was not says why, naming itself.
    QCOMPARE(store.lastRefusal().contains(path), setup == Setup::Contents && !writable);
    if (writable) {
        QSettings reread(path, QSettings::IniFormat);
        for (const QString& group : groupsBefore)
            QVERIFY2(reread.childGroups().contains(group), qPrintable(group));
        SettingsStore next(reread);
        QVERIFY2(sameRecord(loaded(next, QStringLiteral("DEFAULT")), applied),
                 qPrintable(describe(loaded(next, QStringLiteral("DEFAULT")))));
        QCOMPARE(next.readWindowPosition(QStringLiteral("DEFAULT")).x, 15);
    } else {
        QCOMPARE(readFile(path), before);
    }
}

int main(int argc, char* argv[])
{
    // The test runs itself a second time as one of the competing savers.
    if (argc == 5 && std::strcmp(argv[1], SaverSwitch) == 0) {
        QCoreApplication application(argc, argv);
        bool ok = false;
        const int count = QString::fromLocal8Bit(argv[4]).toInt(&ok);
        return ok ? saveRepeatedly(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), count)
                  : 2;
    }
    QCoreApplication application(argc, argv);
    TestSettingsFire test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsfire.moc"
