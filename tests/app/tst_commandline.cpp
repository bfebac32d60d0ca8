#include "commandline.h"
#include "generalstuff.h"
#include "networkaccess.h"
#include "singleinstance.h"
#include "smsclient.h"
#include "smsgateway.h"
#include "trialoverrides.h"
#include "verboselog.h"

#include <QBuffer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The real program: on the offscreen screen with throw-away folders, or with
// no display at all, where creating the application would abort it.
QProcess* startProgram(QObject* parent, const QStringList& arguments, const QTemporaryDir* dir = nullptr)
{
    auto* process = new QProcess(parent);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", dir ? "offscreen" : "xcb");
    if (dir) {
        environment.insert("XDG_CONFIG_HOME", dir->filePath("config"));
        environment.insert("XDG_RUNTIME_DIR", dir->path());
    }
    process->setProcessEnvironment(environment);
    process->start(POSTOWL_BINARY, arguments);
    return process;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void answersWithoutDisplay_data();
    void answersWithoutDisplay();
    void oneRunPerProfile_data();
    void oneRunPerProfile();
    void secondStartRaisesTheRunningOne();
    void verboseLogNeverShowsThePassword_data();
    void verboseLogNeverShowsThePassword();
    void trialOverrides_data();
    void trialOverrides();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("verbose");
    QTest::addColumn<QString>("profile");

    const int run = int(CommandLine::Action::Run);
    QTest::newRow("none") << QStringList() << run << false << "DEFAULT";
    QTest::newRow("blank only") << QStringList{"  "} << run << false << "DEFAULT";
    QTest::newRow("with blanks around") << QStringList{" Home "} << run << false << "Home";
    QTest::newRow("two words are one profile")
        << QStringList{"Home", "Office"} << run << false << "Home Office";
    QTest::newRow("only blanks are trimmed") << QStringList{"\tHome "} << run << false << "\tHome";
    QTest::newRow("-h") << QStringList{"-h"} << int(CommandLine::Action::Help) << false << "";
    QTest::newRow("-v") << QStringList{"-v"} << int(CommandLine::Action::Version) << false << "";
    QTest::newRow("Qt's -reverse is a name") << QStringList{"-reverse"} << run << false << "-reverse";
    QTest::newRow("Qt's -style is a name")
        << QStringList{"-style", "fusion"} << run << false << "-style fusion";
    QTest::newRow("--help beside a name") << QStringList{"--help", "me"} << run << false << "--help me";
    QTest::newRow("--help with a blank") << QStringList{" --help"} << run << false << "--help";
    QTest::newRow("--verbose and a name")
        << QStringList{"--verbose", "Home", "Office"} << run << true << "Home Office";
    QTest::newRow("--verbose after the name")
        << QStringList{"Home", "--verbose"} << run << false << "Home --verbose";
}

void TestCommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(bool, verbose);
    QFETCH(QString, profile);

    const CommandLine commandLine = CommandLine::parse(arguments);
    QCOMPARE(int(commandLine.action), action);
    QCOMPARE(commandLine.verbose, verbose);
    if (action == int(CommandLine::Action::Run))
        QCOMPARE(commandLine.profileName, profile);
}

void TestCommandLine::answersWithoutDisplay_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QStringList>("expected");

    const QStringList usage{"Usage: postowl [--verbose] [profile name]\n",
                            "$XDG_CONFIG_HOME/POSTOWL/POSTOWL.conf", "POSTOWL_POP3_PORT", "POSTOWL_IMAP_PORT",
                            "POSTOWL_SMS_GATEWAY"};
    const QString version = QStringLiteral("postowl %1.%2.%3.%4\n")
                                .arg(POSTOWL_VERSION_MAJOR)
                                .arg(POSTOWL_VERSION_MINOR)
                                .arg(POSTOWL_VERSION_PATCH)
                                .arg(POSTOWL_VERSION_REVISION);
    QTest::newRow("--help") << "--help" << usage;
    QTest::newRow("--version") << "--version" << QStringList{version};
}

void TestCommandLine::answersWithoutDisplay()
{
    QFETCH(QString, option);
    QFETCH(QStringList, expected);

    QProcess* process = startProgram(this, {option});
    QVERIFY(process->waitForFinished(10000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
    const QString output = QString::fromLocal8Bit(process->readAllStandardOutput());
    if (expected.size() == 1)
        QCOMPARE(output, expected.first());
    for (const QString& text : expected)
        QVERIFY2(output.contains(text), qPrintable(text));
}

void TestCommandLine::oneRunPerProfile_data()
{
    QTest::addColumn<int>("folderLength"); // 0: the throw-away folder itself
    QTest::addColumn<QString>("situation");

    QTest::newRow("runtime folder") << 0 << "";
    QTest::newRow("runtime folder of 150 bytes") << 150 << "";
    QTest::newRow("a client that stays silent is hung up on") << 0 << "silent client";
    QTest::newRow("crashed run's lock, its PID now another process's") << 0 << "reused pid";
}

void TestCommandLine::oneRunPerProfile()
{
    QFETCH(int, folderLength);
    QFETCH(QString, situation);
    QTemporaryDir dir;
    QString folder = dir.path();
    if (folderLength > 0)
        folder += '/' + QString(folderLength - folder.size() - 1, 'f');
    if (situation == "reused pid") {
        // The crashed run's PID names a living process of the same program
        // now (this one), which started at another time than the record says.
        QVERIFY(QDir().mkpath(folder));
        const SingleInstance crashed("../Home/Office", folder);
        QFile lock(crashed.lockFileName()), record(crashed.ownerFileName());
        QByteArray contents;
        {
            QLockFile held(lock.fileName());
            QVERIFY(held.tryLock(0) && lock.open(QIODevice::ReadOnly));
            contents = lock.readAll();
            lock.close();
        }
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(contents) && record.open(QIODevice::WriteOnly));
        record.write(QByteArray::number(QCoreApplication::applicationPid()) + "\n1\n../Home/Office\n");
    }
    // Hashed names: a profile that looks like a path stays in the folder.
    auto first = std::make_unique<SingleInstance>("../Home/Office", folder);
    QSignalSpy raised(first.get(), &SingleInstance::raiseRequested);
    QCOMPARE(first->claim(1000), SingleInstance::Claim::First);
    if (situation == "silent client") {
        QLocalSocket silent;
        silent.connectToServer(first->serverName());
        QVERIFY(silent.waitForConnected(1000));
        QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QLocalSocket::UnconnectedState, 5000);
    }
    QCOMPARE(QFileInfo(first->lockFileName()).absolutePath(), folder);

    QCOMPARE(SingleInstance("../Home/Office", folder).claim(2000), SingleInstance::Claim::OtherRaised);
    QCOMPARE(raised.count(), 1);
    QCOMPARE(SingleInstance("Home Office", folder).claim(), SingleInstance::Claim::First);

    first.reset();
    QCOMPARE(SingleInstance("../Home/Office", folder).claim(), SingleInstance::Claim::First);
}

void TestCommandLine::secondStartRaisesTheRunningOne()
{
    QTemporaryDir dir;
    const auto listening = [&] { return QDir(dir.path()).entryList({"*.socket"}, QDir::System).size(); };

    // The profile has no server yet: the first run waits in the Account dialog.
    QProcess* first = startProgram(this, {"Home", "Office"}, &dir);
    QTRY_COMPARE_WITH_TIMEOUT(listening(), 1, 10000);
    // Where the raise failed, a message box would wait for ever on this screen.
    QProcess* second = startProgram(this, {" Home Office "}, &dir);
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);

    // A run that crashed leaves its lock behind; the next run takes it over.
    first->kill();
    QVERIFY(first->waitForFinished(5000));
    QProcess* restarted = startProgram(this, {"Home Office"}, &dir);
    QVERIFY(restarted->waitForStarted(5000));
    // The lock names its holder: wait until the restarted run holds it.
    const auto holder = [&] {
        QFile lock(QDir(dir.path()).entryInfoList({"*.lock"}, QDir::Files).value(0).filePath());
        return lock.open(QIODevice::ReadOnly) ? lock.readLine().trimmed().toLongLong() : 0;
    };
    QTRY_COMPARE_WITH_TIMEOUT(holder(), restarted->processId(), 10000);
    QProcess* third = startProgram(this, {"Home Office"}, &dir);
    QVERIFY(third->waitForFinished(10000));
    QCOMPARE(third->exitCode(), 0);
    QCOMPARE(restarted->state(), QProcess::Running);
    restarted->kill();
    restarted->waitForFinished(5000);
}

void TestCommandLine::verboseLogNeverShowsThePassword_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("written");

    QTest::newRow("command") << "PASS s3cret"
                             << "PASS ****";
    QTest::newRow("with a direction") << "> pass s3cret word"
                                      << "> PASS ****";
    QTest::newRow("already masked") << "C: PASS ****"
                                    << "C: PASS ****";
    QTest::newRow("reply") << "+OK 3 4200"
                           << "+OK 3 4200";
    QTest::newRow("line end dropped") << "USER alice\r\n"
                                      << "USER alice";
    QTest::newRow("terminal escape") << "-ERR \x1b[2Jgone"
                                     << "-ERR \\x1b[2Jgone";
    QTest::newRow("C1 control sequence introducer")
        << QStringLiteral("-ERR \u009b2Jgone") << "-ERR \\x9b2Jgone";
    QTest::newRow("C1 operating system command")
        << QStringLiteral("+OK \u009d0;owned\u0007 ready") << "+OK \\x9d0;owned\\x07 ready";
    QTest::newRow("bidi override, accents and emoji kept")
        << QStringLiteral("+OK B\u00fcro \U0001f989 \u202egnp") << "+OK Büro 🦉 \\u{202e}gnp";
}

void TestCommandLine::verboseLogNeverShowsThePassword()
{
    QFETCH(QString, line);
    QFETCH(QString, written);

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    VerboseLog(buffer).write(line);
    QCOMPARE(QString::fromUtf8(buffer.data()), written + '\n');
}

void TestCommandLine::trialOverrides_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QByteArray>("value");
    // The POP3 port as a number, or the SMS gateway's page and shown host.
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("expectedName");
    QTest::addColumn<bool>("warned");

    const QByteArray pop3 = "POSTOWL_POP3_PORT";
    QTest::newRow("port unset") << pop3 << QByteArray() << "0"
                                << "" << false;
    QTest::newRow("a port") << pop3 << QByteArray(" 2110 ") << "2110"
                            << "" << false;
    QTest::newRow("no number") << pop3 << QByteArray("abc") << "0"
                               << "" << true;
    QTest::newRow("hexadecimal") << pop3 << QByteArray("0x10") << "0"
                                 << "" << true;
    QTest::newRow("beyond 65535") << pop3 << QByteArray("70000") << "0"
                                  << "" << true;

    const QByteArray sms = "POSTOWL_SMS_GATEWAY";
    const QString own = QStringLiteral("http://sms.postowl.example/sms/xsms.asp");
    const QString ownName = QStringLiteral("sms.postowl.example");
    QTest::newRow("gateway not set") << sms << QByteArray() << own << ownName << false;
    QTest::newRow("host and port") << sms << QByteArray("127.0.0.1:8080")
                                   << "http://127.0.0.1:8080/sms/xsms.asp"
                                   << "127.0.0.1" << false;
    QTest::newRow("host alone") << sms << QByteArray(" gw.test ") << "http://gw.test/sms/xsms.asp"
                                << "gw.test" << false;
    QTest::newRow("IPv6 with port") << sms << QByteArray("[::1]:8081") << "http://[::1]:8081/sms/xsms.asp"
                                    << "::1" << false;
    QTest::newRow("port not a number") << sms << QByteArray("gw.test:http") << own << ownName << true;
    QTest::newRow("port zero") << sms << QByteArray("gw.test:0") << own << ownName << true;
    QTest::newRow("with a path") << sms << QByteArray("gw.test/x") << own << ownName << true;
}

void TestCommandLine::trialOverrides()
{
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, value);
    QFETCH(QString, expected);
    QFETCH(QString, expectedName);
    QFETCH(bool, warned);

    for (const char* name : {"POSTOWL_POP3_PORT", "POSTOWL_IMAP_PORT", "POSTOWL_SMS_GATEWAY"})
        qunsetenv(name);
    if (!value.isNull())
        qputenv(variable.constData(), value);
    // A malformed override is said once on standard error, a sound one never.
    if (warned)
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^PostOwl: " + QString::fromLatin1(variable) + "="));
    QTest::failOnWarning(QRegularExpression("."));
    const TrialOverrides overrides = TrialOverrides::fromEnvironment();
    qunsetenv(variable.constData());

    if (expectedName.isEmpty()) {
        QCOMPARE(QString::number(variable.contains("IMAP") ? overrides.imapPort : overrides.pop3Port),
                 expected);
        return;
    }
    GeneralStuff run;
    NetworkAccess network;
    SmsClient client(run, network);
    client.setGateway(overrides.smsHost, overrides.smsPort);
    QCOMPARE(client.gatewayHost(), expectedName);
    const quint16 port = overrides.smsHost.isEmpty() ? SmsGatewayPort : overrides.smsPort;
    QCOMPARE(smsGatewayUrl(client.gatewayHost(), port, QStringLiteral("/sms/xsms.asp")).toString(), expected);
}

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
