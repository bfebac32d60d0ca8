#include "mailcheckrig.h"
#include "scriptedpop3server.h"
#include "statuscolors.h"

#include <QTcpServer>
#include <QtTest>

using Response = ScriptedPop3Server::Response;
Q_DECLARE_METATYPE(ScriptedPop3Server::Response)

namespace {

const QString SocketErrorPrefix = QStringLiteral("The following TCP/IP communications error was reported: \r\n\r\n");

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

    QTest::newRow("three messages") << Response::reply("+OK hi\r\n") << ok << ok << three
                                    << "3 message(s)" << green << false << true;
    QTest::newRow("empty mailbox") << Response::reply("+OK hi\r\n") << ok << ok << Response::reply("+OK 0 0\r\n")
                                   << "No messages" << red << false << true;
    QTest::newRow("greeting with -ERR still logs in") << Response::reply("-ERR busy\r\n") << ok << ok << three
                                                      << "3 message(s)" << green << false << true;
    QTest::newRow("-ERR at USER") << Response::reply("+OK hi\r\n") << Response::reply("-ERR who?\r\n") << ok
                                  << three << "Invalid UserID" << red << false << true;
    QTest::newRow("-ERR at PASS") << Response::reply("+OK hi\r\n") << ok << Response::reply("-ERR no\r\n")
                                  << three << "Cannot logon" << red << false << false;
    QTest::newRow("single + is positive") << Response::reply("+OK hi\r\n") << Response::reply("+\r\n")
                                          << Response::reply("+\r\n") << three << "3 message(s)" << green << false
                                          << true;
    QTest::newRow("-ERR at STAT") << Response::reply("+OK hi\r\n") << ok << ok
                                  << Response::reply("-ERR no such mailbox\r\n") << "No messages" << red << false
                                  << true;
    QTest::newRow("greeting split over two reads")
        << Response::split({"+OK hel", "lo there\r\n"}) << ok << ok << three << "3 message(s)" << green << false
        << true;
    QTest::newRow("STAT reply byte by byte") << Response::reply("+OK hi\r\n") << ok << ok
                                             << Response::byteByByte("+OK 3 120\r\n") << "3 message(s)" << green
                                             << false << true;
    QTest::newRow("bare LF line ends") << Response::reply("+OK hi\n") << Response::reply("+OK\n")
                                       << Response::reply("+OK\n") << Response::reply("+OK 3 120\n")
                                       << "3 message(s)" << green << false << true;
    QTest::newRow("two replies in one write: second answers USER")
        << Response::reply("+OK hi\r\n-ERR early\r\n") << ok << ok << three << "Invalid UserID" << red << false
        << true;
    QTest::newRow("empty line is negative") << Response::reply("+OK hi\r\n") << Response::reply("\r\n") << ok
                                            << three << "Invalid UserID" << red << false << true;
    QTest::newRow("count above 16 bits") << Response::reply("+OK hi\r\n") << ok << ok
                                         << Response::reply("+OK 40000 1\r\n") << "40000 message(s)" << green
                                         << false << true;
    QTest::newRow("STAT +OK alone") << Response::reply("+OK hi\r\n") << ok << ok << Response::reply("+OK\r\n")
                                    << "No messages" << red << false << true;
    QTest::newRow("STAT negative count") << Response::reply("+OK hi\r\n") << ok << ok
                                         << Response::reply("+OK -1 0\r\n") << "No messages" << red << false
                                         << true;
    QTest::newRow("STAT count beyond any int") << Response::reply("+OK hi\r\n") << ok << ok
                                               << Response::reply("+OK 99999999999 0\r\n") << "No messages"
                                               << red << false << true;
    QTest::newRow("STAT letters") << Response::reply("+OK hi\r\n") << ok << ok << Response::reply("+OK x y\r\n")
                                  << "No messages" << red << false << true;
    QTest::newRow("reply line over 512 octets")
        << Response::reply("+OK " + QByteArray(600, 'a') + "\r\n") << ok << ok << three << "Problem." << red
        << true << true;
    // Streamed faster than the stall time-out, for longer than a check may take:
    // only the length limit ends it.
    QTest::newRow("endless line without line end")
        << Response::split(QList<QByteArray>{"+OK "} + QList<QByteArray>(600, QByteArray(20, 'a')), 10) << ok
        << ok << three << "Problem." << red << true << true;
    QTest::newRow("garbage bytes") << Response::reply(QByteArray("\x00\xff\x01\x80garbage\r\n", 13))
                                   << Response::reply(QByteArray("\xfe\x00\r\n", 4)) << ok << three
                                   << "Invalid UserID" << red << false << true;
    QTest::newRow("stall before greeting") << Response::stall() << ok << ok << three << "Problem." << red << true
                                           << true;
    QTest::newRow("stall at USER") << Response::reply("+OK hi\r\n") << Response::stall() << ok << three
                                   << "Problem." << red << true << true;
    QTest::newRow("stall at STAT") << Response::reply("+OK hi\r\n") << ok << ok << Response::stall()
                                   << "Problem." << red << true << true;
    QTest::newRow("close before greeting") << Response::close() << ok << ok << three << "Problem." << red << true
                                           << true;
    QTest::newRow("close at PASS") << Response::reply("+OK hi\r\n") << ok << Response::close() << three
                                   << "Problem." << red << true << true;
    QTest::newRow("close at STAT") << Response::reply("+OK hi\r\n") << ok << ok << Response::close()
                                   << "Problem." << red << true << true;
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
    run.run.LastMessageCount = 7;

    QVERIFY(run.checkOnce());
    QCOMPARE(run.view.statusText, status);
    QCOMPARE(run.view.statusColor, color);
    QCOMPARE(run.desktop.messages.size(), messageBox ? 1 : 0);
    if (messageBox)
        QVERIFY(run.desktop.messages.first().text.startsWith(SocketErrorPrefix));
    const bool counted = status.endsWith(QStringLiteral("message(s)")) || status == QStringLiteral("No messages");
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
    run.run.ProfileSettings.Password = QStringLiteral("p\xe4ss word");

    QVERIFY(run.checkOnce());
    QCOMPARE(server.receivedBytes, QByteArray("USER  alice \r\nPASS p\xe4ss word\r\nSTAT\r\n"));
    QCOMPARE(run.check.Pop3State(), 4);
}

void TestPop3Conversation::lineBreakInCredentialIsRefused_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("CR LF in password") << "alice" << "s3cret\r\nDELE 1" << "Cannot logon" << QByteArray("USER alice\r\n");
    QTest::newRow("LF in password") << "alice" << "a\nb" << "Cannot logon" << QByteArray("USER alice\r\n");
    QTest::newRow("NUL in password") << "alice" << QString::fromLatin1("a\0b", 3) << "Cannot logon"
                                     << QByteArray("USER alice\r\n");
    QTest::newRow("CR in user name") << "alice\rSTAT" << "s3cret" << "Invalid UserID" << QByteArray();
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

QTEST_MAIN(TestPop3Conversation)
#include "tst_pop3conversation.moc"
