#include "mailcheckrig.h"
#include "scriptedpop3server.h"
#include "settingsstore.h"
#include "statuscolors.h"
#include "testcertificate.h"

#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using Response = ScriptedPop3Server::Response;
Q_DECLARE_METATYPE(ScriptedPop3Server::Response)

namespace {

const QString SocketErrorPrefix =
    QStringLiteral("The following TCP/IP communications error was reported: \r\n\r\n");

} // namespace

class TestPop3Conversation : public QObject
{
    Q_OBJECT

private slots:
    void statCount_data();
    void statCount();
    void conversation_data();
    void conversation();
    void sendsExactlyTheThreeCommands();
    void lineBreakInCredentialIsRefused_data();
    void lineBreakInCredentialIsRefused();
    void refusedConnection();
    void unresolvableHost();
    void greetingKeptFromFifthCharacter();
    void failedCheckLetsGoOfTheServerBeforeTheBox_data();
    void failedCheckLetsGoOfTheServerBeforeTheBox();
    void tls_data();
    void tls();
    void trustQuestionHoldsOffASecondCheck();

private:
    TestCertificate certificateFor(const QString& name);
    QHash<QString, TestCertificate> m_certificates;
};

void TestPop3Conversation::statCount_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("count");

    QTest::newRow("standard") << QByteArray("+OK 3 120\r\n") << 3;
    QTest::newRow("empty mailbox") << QByteArray("+OK 0 0\r\n") << 0;
    QTest::newRow("no second blank") << QByteArray("+OK 12\r\n") << 0;
    QTest::newRow("empty field") << QByteArray("+OK  5 120\r\n") << 0;
    QTest::newRow("fraction") << QByteArray("+OK 2.5 90\r\n") << 2;
    QTest::newRow("half rounds to even") << QByteArray("+OK 3.5 90\r\n") << 4;
    QTest::newRow("negative reply") << QByteArray("-ERR no such mailbox\r\n") << 0;
    QTest::newRow("bare +OK") << QByteArray("+OK\r\n") << 0;
    QTest::newRow("negative count") << QByteArray("+OK -1 0\r\n") << 0;
    QTest::newRow("above 16 bits shown as is") << QByteArray("+OK 40000 1\r\n") << 40000;
    QTest::newRow("does not fit at all") << QByteArray("+OK 99999999999 0\r\n") << 0;
    QTest::newRow("not a number") << QByteArray("+OK x y\r\n") << 0;
    QTest::newRow("number then letters") << QByteArray("+OK 7abc 1\r\n") << 7;
}

void TestPop3Conversation::statCount()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, count);
    QCOMPARE(Pop3Session::countFromStatReply(reply), count);
}

void TestPop3Conversation::conversation_data()
{
    QTest::addColumn<Response>("greeting");
    QTest::addColumn<Response>("user");
    QTest::addColumn<Response>("pass");
    QTest::addColumn<Response>("stat");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<bool>("messageBox");
    QTest::addColumn<bool>("passwordKept");

    const Response ok = Response::reply("+OK\r\n");
    const Response three = Response::reply("+OK 3 120\r\n");
    const QColor red = StatusColors::failure();
    const QColor green = StatusColors::mailWaiting();

    QTest::newRow("three messages") << Response::reply("+OK hi\r\n") << ok << ok << three << "3 message(s)"
                                    << green << false << true;
    QTest::newRow("empty mailbox") << Response::reply("+OK hi\r\n") << ok << ok
                                   << Response::reply("+OK 0 0\r\n") << "No messages" << red << false << true;
    QTest::newRow("greeting with -ERR still logs in")
        << Response::reply("-ERR busy\r\n") << ok << ok << three << "3 message(s)" << green << false << true;
    QTest::newRow("-ERR at USER") << Response::reply("+OK hi\r\n") << Response::reply("-ERR who?\r\n") << ok
                                  << three << "Invalid UserID" << red << false << true;
    QTest::newRow("-ERR at PASS") << Response::reply("+OK hi\r\n") << ok << Response::reply("-ERR no\r\n")
                                  << three << "Cannot logon" << red << false << false;
    QTest::newRow("single + is positive")
        << Response::reply("+OK hi\r\n") << Response::reply("+\r\n") << Response::reply("+\r\n") << three
        << "3 message(s)" << green << false << true;
    QTest::newRow("-ERR at STAT") << Response::reply("+OK hi\r\n") << ok << ok
                                  << Response::reply("-ERR no such mailbox\r\n") << "No messages" << red
                                  << false << true;
    QTest::newRow("greeting split over two reads") << Response::split({"+OK hel", "lo there\r\n"}) << ok << ok
                                                   << three << "3 message(s)" << green << false << true;
    QTest::newRow("STAT reply byte by byte")
        << Response::reply("+OK hi\r\n") << ok << ok << Response::byteByByte("+OK 3 120\r\n")
        << "3 message(s)" << green << false << true;
    QTest::newRow("bare LF line ends")
        << Response::reply("+OK hi\n") << Response::reply("+OK\n") << Response::reply("+OK\n")
        << Response::reply("+OK 3 120\n") << "3 message(s)" << green << false << true;
    QTest::newRow("two replies in one write: second answers USER")
        << Response::reply("+OK hi\r\n-ERR early\r\n") << ok << ok << three << "Invalid UserID" << red
        << false << true;
    QTest::newRow("empty line is negative") << Response::reply("+OK hi\r\n") << Response::reply("\r\n") << ok
                                            << three << "Invalid UserID" << red << false << true;
    QTest::newRow("count above 16 bits")
        << Response::reply("+OK hi\r\n") << ok << ok << Response::reply("+OK 40000 1\r\n")
        << "40000 message(s)" << green << false << true;
    QTest::newRow("STAT +OK alone") << Response::reply("+OK hi\r\n") << ok << ok << Response::reply("+OK\r\n")
                                    << "No messages" << red << false << true;
    QTest::newRow("STAT negative count")
        << Response::reply("+OK hi\r\n") << ok << ok << Response::reply("+OK -1 0\r\n") << "No messages"
        << red << false << true;
    QTest::newRow("STAT count beyond any int")
        << Response::reply("+OK hi\r\n") << ok << ok << Response::reply("+OK 99999999999 0\r\n")
        << "No messages" << red << false << true;
    QTest::newRow("STAT letters") << Response::reply("+OK hi\r\n") << ok << ok
                                  << Response::reply("+OK x y\r\n") << "No messages" << red << false << true;
    QTest::newRow("reply line over 512 octets") << Response::reply("+OK " + QByteArray(600, 'a') + "\r\n")
                                                << ok << ok << three << "Problem." << red << true << true;
    // Streamed faster than the stall time-out, for longer than a check may take:
    // only the length limit ends it.
    QTest::newRow("endless line without line end")
        << Response::split(QList<QByteArray>{"+OK "} + QList<QByteArray>(600, QByteArray(20, 'a')), 10) << ok
        << ok << three << "Problem." << red << true << true;
    QTest::newRow("garbage bytes") << Response::reply(QByteArray("\x00\xff\x01\x80garbage\r\n", 13))
                                   << Response::reply(QByteArray("\xfe\x00\r\n", 4)) << ok << three
                                   << "Invalid UserID" << red << false << true;
    QTest::newRow("stall before greeting")
        << Response::stall() << ok << ok << three << "Problem." << red << true << true;
    QTest::newRow("stall at USER") << Response::reply("+OK hi\r\n") << Response::stall() << ok << three
                                   << "Problem." << red << true << true;
    QTest::newRow("stall at STAT") << Response::reply("+OK hi\r\n") << ok << ok << Response::stall()
                                   << "Problem." << red << true << true;
    QTest::newRow("close before greeting")
        << Response::close() << ok << ok << three << "Problem." << red << true << true;
    QTest::newRow("close at PASS") << Response::reply("+OK hi\r\n") << ok << Response::close() << three
                                   << "Problem." << red << true << true;
    QTest::newRow("close at STAT") << Response::reply("+OK hi\r\n") << ok << ok << Response::close()
                                   << "Problem." << red << true << true;
    // Every byte comes before the stall timer runs out, but the whole check takes too long.
    QTest::newRow("one byte at a time past the deadline")
        << Response::byteByByte("+OK " + QByteArray(40, 'a') + "\r\n", 100) << ok << ok << three << "Problem."
        << red << true << true;
    QTest::newRow("reset at USER") << Response::reply("+OK hi\r\n") << Response::reset() << ok << three
                                   << "Problem." << red << true << true;
}

void TestPop3Conversation::conversation()
{
    QFETCH(Response, greeting);
    QFETCH(Response, user);
    QFETCH(Response, pass);
    QFETCH(Response, stat);
    QFETCH(QString, status);
    QFETCH(QColor, color);
    QFETCH(bool, messageBox);
    QFETCH(bool, passwordKept);

    ScriptedPop3Server server;
    server.greeting = greeting;
    server.replies.insert("USER", user);
    server.replies.insert("PASS", pass);
    server.replies.insert("STAT", stat);
    MailCheckRig run(server.port());
    run.check.setStallTimeout(300);
    run.check.setDeadline(1500);
    run.run.LastMessageCount = 7;

    QVERIFY(run.checkOnce());
    QCOMPARE(run.view.statusText, status);
    QCOMPARE(run.view.statusColor, color);
    QCOMPARE(run.desktop.messages.size(), messageBox ? 1 : 0);
    if (messageBox)
        QVERIFY(run.desktop.messages.first().text.startsWith(SocketErrorPrefix));
    const bool counted =
        status.endsWith(QStringLiteral("message(s)")) || status == QStringLiteral("No messages");
    QCOMPARE(!run.run.LastCheckTime.isNull(), counted);
    // A failed check leaves the previous count for the notify-once test.
    if (!counted)
        QCOMPARE(run.run.LastMessageCount, 7);
    // The next tick comes within five seconds; after a failure it checks at once.
    QCOMPARE(run.check.tickInterval(), 5000);
    QCOMPARE(run.run.ProfileSettings.Password.isEmpty(), !passwordKept);
    QVERIFY(run.check.isTicking());
    QVERIFY(!server.receivedBytes.contains("QUIT"));

    // Nothing is left hanging: the next check connects again.
    run.run.ProfileSettings.Password = QStringLiteral("s3cret");
    const int before = server.connections;
    run.check.checkNow();
    QTRY_VERIFY(server.connections > before);
}

void TestPop3Conversation::sendsExactlyTheThreeCommands()
{
    ScriptedPop3Server server;
    server.replies.insert("STAT", Response::reply("+OK 2 90\r\n"));
    MailCheckRig run(server.port());
    run.run.ProfileSettings.UserName = QStringLiteral(" alice ");
    QSignalSpy dialogue(&run.check, &MailCheck::dialogue);
    run.run.ProfileSettings.Password = QStringLiteral("p\xe4ss word");

    QVERIFY(run.checkOnce());
    // A verbose log shows the dialogue, never the password.
    QStringList lines;
    for (const QList<QVariant>& signal : dialogue)
        lines.append(signal.first().toString());
    QCOMPARE(lines, QStringList({"+OK PostOwl test server ready", "USER  alice ", "+OK", "PASS ****", "+OK",
                                 "STAT", "+OK 2 90"}));
    QCOMPARE(server.receivedBytes, QByteArray("USER  alice \r\nPASS p\xe4ss word\r\nSTAT\r\n"));
    QCOMPARE(run.check.Pop3State(), Pop3Session::State::StatSent);
}

void TestPop3Conversation::lineBreakInCredentialIsRefused_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("CR LF in password") << "alice"
                                       << "s3cret\r\nDELE 1"
                                       << "Cannot logon" << QByteArray("USER alice\r\n");
    QTest::newRow("LF in password") << "alice"
                                    << "a\nb"
                                    << "Cannot logon" << QByteArray("USER alice\r\n");
    QTest::newRow("NUL in password") << "alice" << QString::fromLatin1("a\0b", 3) << "Cannot logon"
                                     << QByteArray("USER alice\r\n");
    QTest::newRow("CR in user name") << "alice\rSTAT"
                                     << "s3cret"
                                     << "Invalid UserID" << QByteArray();
}

void TestPop3Conversation::lineBreakInCredentialIsRefused()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, status);
    QFETCH(QByteArray, sent);

    ScriptedPop3Server server;
    MailCheckRig run(server.port());
    run.run.ProfileSettings.UserName = user;
    run.run.ProfileSettings.Password = password;
    QVERIFY(run.checkOnce());
    QCOMPARE(run.view.statusText, status);
    QCOMPARE(server.receivedBytes, sent);
}

void TestPop3Conversation::refusedConnection()
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    MailCheckRig run(closedPort);
    QVERIFY(run.checkOnce());
    QCOMPARE(run.view.statusText, QStringLiteral("Problem."));
    QCOMPARE(run.desktop.messages.size(), 1);
    QCOMPARE(run.desktop.messages.first().icon, QMessageBox::Warning);
    QCOMPARE(run.desktop.messages.first().title, QStringLiteral("PostOwl 1.5"));
    QCOMPARE(run.desktop.messages.first().text, SocketErrorPrefix + QStringLiteral("Connection refused"));
    QVERIFY(run.run.LastCheckTime.isNull());
}

void TestPop3Conversation::unresolvableHost()
{
    MailCheckRig run(110, QStringLiteral("no-such-host.invalid"));
    QVERIFY(run.checkOnce());
    QCOMPARE(run.view.statusText, QStringLiteral("Problem."));
    QCOMPARE(run.desktop.messages.size(), 1);
    QVERIFY(run.desktop.messages.first().text.size() > SocketErrorPrefix.size());
}

void TestPop3Conversation::greetingKeptFromFifthCharacter()
{
    ScriptedPop3Server server;
    server.greeting = Response::reply("+OK ready\r\n");
    MailCheckRig run(server.port());
    QVERIFY(run.checkOnce());
    QCOMPARE(run.run.ServerGreeting, QStringLiteral("ready\r\n"));

    server.greeting = Response::reply("+OK\r\n");
    QVERIFY(run.checkOnce());
    QCOMPARE(run.run.ServerGreeting, QStringLiteral("\n"));
}

void TestPop3Conversation::failedCheckLetsGoOfTheServerBeforeTheBox_data()
{
    QTest::addColumn<Response>("greeting");
    QTest::newRow("line too long") << Response::reply("+OK " + QByteArray(600, 'a'));
    QTest::newRow("stall") << Response::stall();
}

void TestPop3Conversation::failedCheckLetsGoOfTheServerBeforeTheBox()
{
    QFETCH(Response, greeting);
    ScriptedPop3Server server;
    server.greeting = greeting;
    MailCheckRig run(server.port());
    run.check.setStallTimeout(300);
    bool letGo = false;
    run.desktop.whileOpen = [&](const FakeDesktop::Message&) {
        letGo = QTest::qWaitFor([&] { return server.disconnections > 0; }, 2000);
    };
    QVERIFY(run.checkOnce());
    QCOMPARE(run.desktop.messages.size(), 1);
    QVERIFY(letGo);
}

TestCertificate TestPop3Conversation::certificateFor(const QString& name)
{
    if (!m_certificates.contains(name))
        m_certificates.insert(name, TestCertificate::make(name));
    return m_certificates.value(name);
}

void TestPop3Conversation::tls_data()
{
    QTest::addColumn<int>("security");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("certifiedName"); // the name the server's certificate is made for
    QTest::addColumn<bool>("caTrusted");        // its certificate is known to the client as an authority
    QTest::addColumn<QString>("pinned");        // "", "presented" or "other"
    QTest::addColumn<Response>("stls");
    QTest::addColumn<int>("answer"); // to the trust question; NoButton: no question expected
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("received");

    const QString local = QStringLiteral("127.0.0.1");
    const Response ok = Response::reply("+OK Begin TLS\r\n");
    const QByteArray login = "USER alice\r\nPASS s3cret\r\nSTAT\r\n";
    const int none = QMessageBox::NoButton;
    const int yes = QMessageBox::Yes;
    const int no = QMessageBox::No;

    QTest::newRow("POP3S verified") << 2 << local << local << true << "" << ok << none << "3 message(s)"
                                    << login;
    QTest::newRow("STLS verified") << 1 << local << local << true << "" << ok << none << "3 message(s)"
                                   << "STLS\r\n" + login;
    QTest::newRow("STLS refused: no login in the clear")
        << 1 << local << local << true << "" << Response::reply("-ERR not here\r\n") << none << "Problem."
        << QByteArray("STLS\r\n");
    QTest::newRow("POP3S self-signed, No")
        << 2 << local << local << false << "" << ok << no << "Problem." << QByteArray();
    QTest::newRow("POP3S self-signed, Yes")
        << 2 << local << local << false << "" << ok << yes << "3 message(s)" << login;
    // The first connection ends before the login; the second one, trusting, logs in.
    QTest::newRow("STLS self-signed, Yes")
        << 1 << local << local << false << "" << ok << yes << "3 message(s)"
        << "STLS\r\nSTLS\r\n" + login;
    QTest::newRow("STLS self-signed, No")
        << 1 << local << local << false << "" << ok << no << "Problem." << QByteArray("STLS\r\n");
    QTest::newRow("wrong name, No") << 2 << local << "mail.example.org" << true << "" << ok << no
                                    << "Problem." << QByteArray();
    QTest::newRow("pinned certificate")
        << 2 << local << local << false << "presented" << ok << none << "3 message(s)" << login;
    QTest::newRow("pinned certificate with the wrong name")
        << 2 << local << "mail.example.org" << false << "presented" << ok << none << "3 message(s)" << login;
    QTest::newRow("changed certificate, No")
        << 2 << local << local << false << "other" << ok << no << "Problem." << QByteArray();
    QTest::newRow("IPv6 literal, name checked without brackets")
        << 2 << "[::1]"
        << "::1" << true << "" << ok << none << "3 message(s)" << login;
}

void TestPop3Conversation::tls()
{
    QFETCH(int, security);
    QFETCH(QString, host);
    QFETCH(QString, certifiedName);
    QFETCH(bool, caTrusted);
    QFETCH(QString, pinned);
    QFETCH(Response, stls);
    QFETCH(int, answer);
    QFETCH(QString, status);
    QFETCH(QByteArray, received);

    const TestCertificate presented = certificateFor(certifiedName);
    QVERIFY2(!presented.certificate.isNull(), "openssl could not make a certificate");
    const QString presentedFingerprint = MailConnection::fingerprint(presented.certificate);

    const bool ipv6 = host.startsWith('[');
    ScriptedPop3Server server(nullptr,
                              QHostAddress(ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost));
    if (!server.isListening())
        QSKIP("no IPv6 loopback here");
    server.tls = security == 2 ? ScriptedPop3Server::Tls::Implicit : ScriptedPop3Server::Tls::StartTls;
    server.certificate = presented.certificate;
    server.key = presented.key;
    server.replies.insert("STLS", stls);
    server.replies.insert("STAT", Response::reply("+OK 3 120\r\n"));

    MailCheckRig run(server.port(), host);
    SettingsStore& store = run.settings.store;
    ProfileSettings& settings = run.run.ProfileSettings;
    settings.Security = quint8(security);
    if (pinned == QStringLiteral("presented"))
        settings.TrustedCertificate = presentedFingerprint;
    else if (pinned == QStringLiteral("other"))
        settings.TrustedCertificate =
            MailConnection::fingerprint(certificateFor("other.example").certificate);
    const QString pinnedBefore = settings.TrustedCertificate;
    if (caTrusted)
        run.check.addCaCertificates({presented.certificate});
    if (answer != QMessageBox::NoButton)
        run.desktop.answerNext(QMessageBox::StandardButton(answer));

    QVERIFY(run.checkOnce());
    QCOMPARE(run.view.statusText, status);
    QCOMPARE(server.receivedBytes, received);
    QCOMPARE(run.run.ServerTransport.startsWith(QStringLiteral("TLS 1.")),
             status != QStringLiteral("Problem."));

    if (answer == QMessageBox::NoButton) {
        if (status == QStringLiteral("Problem."))
            QVERIFY(run.desktop.messages.value(0).text.endsWith(QStringLiteral("The server refused STLS.")));
        else
            QVERIFY2(run.desktop.messages.isEmpty(), qPrintable(run.desktop.messageTexts().join('|')));
        return;
    }
    QCOMPARE(run.desktop.messages.size(), 1);
    const FakeDesktop::Message question = run.desktop.messages.first();
    QCOMPARE(question.icon, QMessageBox::Question);
    QCOMPARE(question.title, QStringLiteral("PostOwl 1.5"));
    QCOMPARE(question.defaultButton, QMessageBox::No);
    const QString changed =
        QStringLiteral("The certificate of the POP3 server %1 has changed.\r\n").arg(host);
    QCOMPARE(question.text.startsWith(changed), !pinnedBefore.isEmpty());
    QVERIFY(question.text.contains(QStringLiteral("The POP3 server %1 presented a certificate that cannot be "
                                                  "trusted:\r\n\r\n")
                                       .arg(host)));
    // Two lines of 16 pairs: the line never breaks inside a pair.
    const QString fingerprintLines =
        QString(presentedFingerprint).replace(16 * 3 - 1, 1, QStringLiteral("\r\n"));
    QVERIFY(question.text.endsWith(
        QStringLiteral("\r\nSHA-256 fingerprint:\r\n%1\r\n\r\nTrust this certificate for "
                       "profile DEFAULT ?")
            .arg(fingerprintLines)));

    if (answer == QMessageBox::Yes) {
        QCOMPARE(settings.TrustedCertificate, presentedFingerprint);
        QCOMPARE(store.get("DEFAULT", "TrustedCertificate"), presentedFingerprint);
        return;
    }
    // No: nothing is kept, and No holds: the checks of the next Interval
    // minutes meet the certificate without asking; Refresh asks again.
    QCOMPARE(settings.TrustedCertificate, pinnedBefore);
    QVERIFY(store.get("DEFAULT", "TrustedCertificate").isEmpty());
    QVERIFY(run.tick());
    QCOMPARE(run.desktop.messages.size(), 1);
    QCOMPARE(run.view.statusText, QStringLiteral("Problem."));
    run.desktop.answerNext(QMessageBox::No);
    QVERIFY(run.checkOnce());
    QCOMPARE(run.desktop.messages.size(), 2);
}

void TestPop3Conversation::trustQuestionHoldsOffASecondCheck()
{
    const TestCertificate presented = certificateFor(QStringLiteral("127.0.0.1"));
    ScriptedPop3Server server;
    server.tls = ScriptedPop3Server::Tls::Implicit;
    server.certificate = presented.certificate;
    server.key = presented.key;
    MailCheckRig run(server.port());
    run.run.ProfileSettings.Security = 2;
    run.desktop.answerNextWith([&](const FakeDesktop::Message&) {
        // Refresh and a tick while the question is open start nothing, so nothing asks again.
        run.check.checkNow();
        run.check.Timer1_Timer();
        QTest::qWait(200);
        return QMessageBox::No;
    });
    QVERIFY(run.checkOnce());
    QCOMPARE(server.connections, 1);
    QCOMPARE(run.desktop.messages.size(), 1);
    QCOMPARE(run.view.statusText, QStringLiteral("Problem."));
}

QTEST_MAIN(TestPop3Conversation)
#include "tst_pop3conversation.moc"
