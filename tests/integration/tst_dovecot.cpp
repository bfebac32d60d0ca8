// Mail checks against a real Dovecot on 127.0.0.1: what a real server says,
// not what a scripted one was told to say.

#include "dovecotserver.h"
#include "mailcheckrig.h"
#include "standinauthserver.h"
#include "statuscolors.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPushButton>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

constexpr int CheckTimeoutMs = 5000;
const QString NameInBar = QStringLiteral("Dovecot box");

// One run of the program around the real scheduler, watching the server's mailbox.
struct Run : MailCheckRig
{
    // The profile watches an IMAP folder on this port.
    void watchFolder(quint16 port)
    {
        run.ProfileSettings.Protocol = 1;
        check.setImapPort(port);
    }

    explicit Run(const DovecotServer& server) : MailCheckRig(server.port())
    {
        ProfileSettings& settings = run.ProfileSettings;
        settings.ProfileName = QStringLiteral("Integration");
        settings.UserName = server.userName();
        settings.Password = server.password();
        settings.Interval = 1;
        settings.PlaySound = 1;
        settings.NotifyOnce = 1;
        settings.NameInBar = NameInBar;
    }
};

// Passes the bytes of one connection on to the real server and keeps what
// the client sent: what anyone on the wire could read.
class Relay
{
public:
    explicit Relay(quint16 target)
    {
        m_listener.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_listener, &QTcpServer::newConnection, [this, target] {
            QTcpSocket* client = m_listener.nextPendingConnection();
            auto* server = new QTcpSocket(client);
            server->connectToHost(QHostAddress::LocalHost, target);
            QObject::connect(client, &QTcpSocket::readyRead, [this, client, server] {
                const QByteArray bytes = client->readAll();
                fromClient += bytes;
                server->write(bytes);
            });
            QObject::connect(server, &QTcpSocket::readyRead,
                             [client, server] { client->write(server->readAll()); });
            QObject::connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            QObject::connect(client, &QTcpSocket::disconnected, server, &QTcpSocket::disconnectFromHost);
        });
    }

    quint16 port() const { return m_listener.serverPort(); }
    QByteArray fromClient;

private:
    QTcpServer m_listener;
};

// A Dovecot that speaks IMAP too (and TLS, and checks tokens, where asked), started.
bool startImap(DovecotServer& server, bool tls = false, bool oauth = false)
{
    server.setImap(true);
    server.setTls(tls);
    server.setOAuth2(oauth);
    return server.start();
}

// The first line the server sends to anyone who connects.
QByteArray greetingOf(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000) || !socket.waitForReadyRead(2000))
        return QByteArray();
    return socket.readLine();
}

} // namespace

class tst_Dovecot : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void countsTheMailbox_data();
    void countsTheMailbox();
    void rejectedLoginClearsThePasswordAndAsksAgain_data();
    void rejectedLoginClearsThePasswordAndAsksAgain();
    void mailDeliveredBetweenTwoChecksRaisesTheCount();
    void lineBreakInCredentialsDeletesNothing_data();
    void lineBreakInCredentialsDeletesNothing();
    void stoppedServerIsAProblem();
    void checkOverTls_data();
    void checkOverTls();
    void tlsServesTheCertificateOfItsCa_data();
    void tlsServesTheCertificateOfItsCa();
    void signsInWithTheProvider_data();
    void signsInWithTheProvider();
    void imapCountsReadOnly_data();
    void imapCountsReadOnly();
    void imapIdleHearsADeliveryAndComesBackAfterAKick();
    void twoDeliveriesWhileIdlingNameBothSubjectsInOneNotification();

private:
    QString m_noImap; // why IMAP cannot be tried here, if it cannot
};

void tst_Dovecot::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    const QString reason = DovecotServer::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    m_noImap = DovecotServer::unavailableReason(true);
}

void tst_Dovecot::countsTheMailbox_data()
{
    QTest::addColumn<int>("messages");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<int>("beeps");

    QTest::newRow("three messages") << 3 << "3 message(s)" << StatusColors::mailWaiting() << 1;
    QTest::newRow("one message") << 1 << "1 message(s)" << StatusColors::mailWaiting() << 1;
    QTest::newRow("empty mailbox") << 0 << "No messages" << StatusColors::failure() << 0;
}

void tst_Dovecot::countsTheMailbox()
{
    QFETCH(int, messages);
    QFETCH(QString, status);
    QFETCH(QColor, colour);
    QFETCH(int, beeps);

    DovecotServer server(messages);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const QByteArray greeting = greetingOf(server.port());
    QVERIFY2(greeting.startsWith("+OK "), greeting.constData());

    Run r(server);
    r.check.Timer1_Timer();
    QVERIFY(r.check.isChecking());
    QTRY_VERIFY_WITH_TIMEOUT(!r.check.isChecking(), CheckTimeoutMs);

    QCOMPARE(r.view.statusHistory, QStringList({"Starting", "Checking Mail", status}));
    QCOMPARE(r.view.statusColor, colour);
    QCOMPARE(r.view.title, NameInBar + " - " + status);
    QCOMPARE(r.view.mailIcon, messages > 0);
    QCOMPARE(r.run.LastMessageCount, messages);
    QCOMPARE(r.run.LastCheckTime, r.clock.now());
    // What the About box shows: the greeting from its fifth character on, line end included.
    QCOMPARE(r.run.ServerGreeting, QString::fromLatin1(greeting.mid(4)));
    QVERIFY(r.run.ServerGreeting.endsWith("\r\n"));
    QCOMPARE(r.desktop.beeps, beeps);
    QVERIFY2(r.desktop.messages.isEmpty(), qPrintable(r.desktop.messageTexts().join('|')));
    QVERIFY(r.check.isTicking());
    QCOMPARE(server.messagesOnDisk(), messages);
}

void tst_Dovecot::rejectedLoginClearsThePasswordAndAsksAgain_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("statusAfterTypedPassword");

    // Dovecot accepts any USER and turns an unknown user down only at PASS.
    QTest::newRow("wrong password") << "alice"
                                    << "wrong"
                                    << "3 message(s)";
    QTest::newRow("unknown user") << "bob"
                                  << "s3cret"
                                  << "Cannot logon";
}

void tst_Dovecot::rejectedLoginClearsThePasswordAndAsksAgain()
{
    QFETCH(QString, userName);
    QFETCH(QString, password);
    QFETCH(QString, statusAfterTypedPassword);

    DovecotServer server(3);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Run r(server);
    r.run.ProfileSettings.UserName = userName;
    r.run.ProfileSettings.Password = password;

    QVERIFY(r.tick());
    QCOMPARE(r.view.statusText, QStringLiteral("Cannot logon"));
    QCOMPARE(r.view.statusColor, StatusColors::failure());
    QCOMPARE(r.run.ProfileSettings.Password, QString());
    QVERIFY(r.run.LastCheckTime.isNull());
    QVERIFY(r.desktop.messages.isEmpty());
    QVERIFY(r.check.isTicking());

    // The next check asks for the password before it connects.
    r.desktop.handleNextDialog(typePassword(server.password()));
    r.check.Timer1_Timer();
    QCOMPARE(r.desktop.shownDialogs.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!r.check.isChecking(), CheckTimeoutMs);
    QCOMPARE(r.view.statusText, statusAfterTypedPassword);
}

void tst_Dovecot::mailDeliveredBetweenTwoChecksRaisesTheCount()
{
    DovecotServer server(3);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Run r(server);

    r.check.start();
    QTRY_COMPARE_WITH_TIMEOUT(r.view.title, NameInBar + " - 3 message(s)", CheckTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!r.check.isChecking(), CheckTimeoutMs);

    QVERIFY(server.deliverMessage(QStringLiteral("Arrived between two checks")));

    // Still the minute of the last check: an interval of one minute is not over.
    r.check.Timer1_Timer();
    QVERIFY(!r.check.isChecking());

    r.clock.advanceSeconds(60);
    r.check.Timer1_Timer();
    QVERIFY(r.check.isChecking());
    QTRY_COMPARE_WITH_TIMEOUT(r.view.title, NameInBar + " - 4 message(s)", CheckTimeoutMs);

    QCOMPARE(r.view.statusHistory.count(QStringLiteral("Checking Mail")), 2);
    QCOMPARE(r.run.LastMessageCount, 4);
    QCOMPARE(r.run.LastCheckTime, r.clock.now());
    QCOMPARE(r.desktop.beeps, 2);
}

void tst_Dovecot::lineBreakInCredentialsDeletesNothing_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("status");

    // Sent as they are, each of these makes Dovecot delete the first message:
    // the deletion is committed by the smuggled QUIT.
    QTest::newRow("password with CR LF") << "alice"
                                         << "s3cret\r\nDELE 1\r\nQUIT"
                                         << "Cannot logon";
    QTest::newRow("password with bare LF") << "alice"
                                           << "s3cret\nDELE 1\nQUIT"
                                           << "Cannot logon";
    QTest::newRow("user name with CR LF") << "alice\r\nPASS s3cret\r\nDELE 1\r\nQUIT"
                                          << "s3cret"
                                          << "Invalid UserID";
}

void tst_Dovecot::lineBreakInCredentialsDeletesNothing()
{
    QFETCH(QString, userName);
    QFETCH(QString, password);
    QFETCH(QString, status);

    DovecotServer server(3);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Run r(server);
    r.run.ProfileSettings.UserName = userName;
    r.run.ProfileSettings.Password = password;

    QVERIFY(r.tick());
    QCOMPARE(r.view.statusText, status);
    QVERIFY(r.run.LastCheckTime.isNull());

    r.run.ProfileSettings.UserName = server.userName();
    r.run.ProfileSettings.Password = server.password();
    r.check.checkNow();
    QTRY_VERIFY_WITH_TIMEOUT(!r.check.isChecking(), CheckTimeoutMs);
    QCOMPARE(r.view.statusText, QStringLiteral("3 message(s)"));
    QCOMPARE(server.messagesOnDisk(), 3);
}

void tst_Dovecot::stoppedServerIsAProblem()
{
    DovecotServer server(3);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Run r(server);
    server.stop();
    QVERIFY(!server.isRunning());

    QVERIFY(r.tick());

    QCOMPARE(r.desktop.messages.size(), 1);
    const FakeDesktop::Message& shown = r.desktop.messages.first();
    QCOMPARE(shown.icon, QMessageBox::Warning);
    QCOMPARE(shown.title, QStringLiteral("PostOwl 1.5"));
    const QString lead = QStringLiteral("The following TCP/IP communications error was reported: \r\n\r\n");
    QVERIFY2(shown.text.startsWith(lead) && shown.text.size() > lead.size(), qPrintable(shown.text));
    QCOMPARE(r.view.statusText, QStringLiteral("Problem."));
    QCOMPARE(r.view.statusColor, StatusColors::failure());
    QVERIFY(r.run.LastCheckTime.isNull());
    QVERIFY(r.check.isTicking());
}

void tst_Dovecot::checkOverTls_data()
{
    QTest::addColumn<int>("security");
    QTest::addColumn<bool>("selfSigned"); // then the user is asked and trusts it

    QTest::newRow("POP3S") << 2 << false;
    QTest::newRow("STLS") << 1 << false;
    QTest::newRow("POP3S, self-signed certificate trusted by the user") << 2 << true;
}

void tst_Dovecot::checkOverTls()
{
    QFETCH(int, security);
    QFETCH(bool, selfSigned);
    if (!QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");

    DovecotServer server(3);
    server.setTls(true);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    if (selfSigned)
        QVERIFY2(server.serveSelfSignedCertificate(), qPrintable(server.errorString()));
    Relay relay(security == 2 ? server.tlsPort() : server.port());

    Run r(server);
    r.check.setPort(relay.port());
    r.run.ProfileSettings.Security = quint8(security);
    // The test's CA stands in for the system's; the program trusts no other.
    r.check.addCaCertificates(QSslCertificate::fromPath(server.caCertificatePath()));
    if (selfSigned)
        r.desktop.answerNext(QMessageBox::Yes);
    QVERIFY(r.checkOnce());

    QCOMPARE(r.view.statusText, QStringLiteral("3 message(s)"));
    QVERIFY2(r.run.ServerTransport.startsWith(QStringLiteral("TLS 1.")), qPrintable(r.run.ServerTransport));
    QCOMPARE(r.desktop.messages.size(), selfSigned ? 1 : 0);
    if (selfSigned)
        QCOMPARE(r.run.ProfileSettings.TrustedCertificate,
                 MailConnection::fingerprint(
                     QSslCertificate::fromPath(server.selfSignedCertificatePath()).value(0)));
    // Nothing of the login crosses the wire in the clear.
    QVERIFY(!relay.fromClient.isEmpty());
    QCOMPARE(relay.fromClient.startsWith("STLS\r\n"), security == 1);
    QVERIFY(!relay.fromClient.contains("PASS"));
    QVERIFY(!relay.fromClient.contains("USER"));
    QVERIFY(!relay.fromClient.contains(server.password().toLatin1()));
}

void tst_Dovecot::tlsServesTheCertificateOfItsCa_data()
{
    QTest::addColumn<bool>("startTls");
    QTest::addColumn<bool>("selfSigned");

    QTest::newRow("POP3S") << false << false;
    QTest::newRow("STLS on the plain port") << true << false;
    QTest::newRow("POP3S, certificate changed to a self-signed one") << false << true;
}

void tst_Dovecot::tlsServesTheCertificateOfItsCa()
{
    QFETCH(bool, startTls);
    QFETCH(bool, selfSigned);
    if (!QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");

    DovecotServer server(3);
    server.setTls(true);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QVERIFY(server.tlsPort() != 0 && server.tlsPort() != server.port());
    if (selfSigned)
        QVERIFY2(server.serveSelfSignedCertificate(), qPrintable(server.errorString()));

    // Only the throw-away CA is trusted, none of the system's.
    QSslSocket socket;
    QSslConfiguration configuration = socket.sslConfiguration();
    configuration.setCaCertificates(QSslCertificate::fromPath(server.caCertificatePath()));
    socket.setSslConfiguration(configuration);
    if (startTls) {
        socket.connectToHost(QStringLiteral("127.0.0.1"), server.port());
        QVERIFY(socket.waitForReadyRead(2000));
        QVERIFY(socket.readLine().startsWith("+OK "));
        socket.write("STLS\r\n");
        QVERIFY(socket.waitForReadyRead(2000));
        QVERIFY(socket.readLine().startsWith("+OK"));
        socket.startClientEncryption();
    } else {
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server.tlsPort());
    }
    const bool encrypted = socket.waitForEncrypted(5000);

    const QString served = selfSigned ? server.selfSignedCertificatePath() : server.serverCertificatePath();
    QCOMPARE(socket.peerCertificate(), QSslCertificate::fromPath(served).value(0));
    if (selfSigned) {
        QVERIFY(!encrypted);
        QVERIFY(socket.sslHandshakeErrors().contains(
            QSslError(QSslError::SelfSignedCertificate, socket.peerCertificate())));
        return;
    }
    QVERIFY2(encrypted, qPrintable(socket.errorString()));
    if (!startTls) {
        QVERIFY(socket.waitForReadyRead(2000));
        QVERIFY(socket.readLine().startsWith("+OK "));
    }
    // A login and STAT inside TLS.
    socket.write(
        QStringLiteral("USER %1\r\nPASS %2\r\nSTAT\r\n").arg(server.userName(), server.password()).toUtf8());
    QByteArray replies;
    while (replies.count('\n') < 3 && socket.waitForReadyRead(2000))
        replies += socket.readAll();
    const QByteArray stat = replies.split('\n').value(2);
    QVERIFY2(stat.startsWith("+OK 3 "), replies.constData());
}

void tst_Dovecot::signsInWithTheProvider_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("refreshToken"); // what the keyring held at start
    QTest::addColumn<bool>("badlySigned");     // tokens the mail server must refuse
    QTest::addColumn<QString>("tokenError");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("tokenRequests");

    const QString counted = QStringLiteral("3 message(s)");
    const QString refused = QStringLiteral("Cannot logon");
    QTest::newRow("IMAPS, signed in in the browser") << 1 << "" << false << "" << counted << 1;
    QTest::newRow("IMAPS, refreshed without a browser") << 1 << "kept" << false << "" << counted << 1;
    QTest::newRow("POP3S, refreshed without a browser") << 0 << "kept" << false << "" << counted << 1;
    // Refused although fresh from the provider: no second refresh, and the user is told.
    QTest::newRow("IMAPS, bad token refused") << 1 << "kept" << true << "" << refused << 1;
    QTest::newRow("POP3S, bad token refused") << 0 << "kept" << true << "" << refused << 1;
    QTest::newRow("IMAPS, invalid_grant asks to sign in")
        << 1 << "kept" << false << "invalid_grant" << refused << 1;
}

void tst_Dovecot::signsInWithTheProvider()
{
    QFETCH(int, protocol);
    QFETCH(QString, refreshToken);
    QFETCH(bool, badlySigned);
    QFETCH(QString, tokenError);
    QFETCH(QString, status);
    QFETCH(int, tokenRequests);
    if (!m_noImap.isEmpty())
        QSKIP(qPrintable(m_noImap));
    DovecotServer server(3);
    QVERIFY2(startImap(server, true, true), qPrintable(server.errorString()));
    StandInAuthServer provider;
    QVERIFY(provider.listen());
    provider.minter = [&](qint64 lifetime) {
        return badlySigned ? server.badlySignedOAuthToken(int(lifetime)) : server.oauthToken(int(lifetime));
    };
    provider.refreshToken = refreshToken;
    provider.tokenError = tokenError;

    Run r(server);
    ProfileSettings& settings = r.run.ProfileSettings;
    settings.Protocol = quint8(protocol);
    settings.Security = 2;
    settings.Password.clear();
    settings.Auth = 1;
    settings.OAuthClientId = provider.clientId;
    settings.OAuthAuthorizeUrl = provider.url("/authorize").toString();
    settings.OAuthTokenUrl = provider.url("/token").toString();
    r.run.OAuthRefreshToken = refreshToken;
    (protocol == 1 ? r.check.setImapPort(server.imapsPort()) : r.check.setPort(server.tlsPort()));
    r.check.addCaCertificates(QSslCertificate::fromPath(server.caCertificatePath()));
    // The browser: fetches the provider's page and follows it back to PostOwl.
    QNetworkAccessManager browser;
    r.desktop.whenUrlOpened = [&](const QUrl& url) { browser.get(QNetworkRequest(url)); };
    if (refreshToken.isEmpty() || !tokenError.isEmpty())
        r.desktop.answerNext(tokenError.isEmpty() ? QMessageBox::Yes : QMessageBox::No);

    QStringList dialogue;
    QObject::connect(&r.check, &MailCheck::dialogue, [&](const QString& line) { dialogue.append(line); });
    QVERIFY(r.checkOnce());
    QCOMPARE(r.view.statusText, status);
    QCOMPARE(provider.tokenRequests.size(), tokenRequests);
    // The verbose log shows the mechanism, never the token.
    QCOMPARE(dialogue.filter(QStringLiteral("XOAUTH2 ****")).size() +
                     dialogue.filter("OAUTHBEARER ****").size() >
                 0,
             tokenError.isEmpty());
    QVERIFY(provider.lastAccessToken.isEmpty() ||
            !dialogue.join(QLatin1Char(10)).contains(provider.lastAccessToken.left(40)));
    QCOMPARE(r.desktop.openedUrls.size(), refreshToken.isEmpty() ? 1 : 0);
    if (!tokenError.isEmpty())
        QVERIFY(r.desktop.messages.first().text.startsWith(
            QStringLiteral("Sign in to 127.0.0.1 in your web browser?")));
    if (status != QStringLiteral("3 message(s)"))
        return;
    // Every new refresh token replaces the stored one.
    QCOMPARE(r.run.OAuthRefreshToken, provider.refreshToken);
    QVERIFY(r.run.OAuthRefreshToken != refreshToken);
    // An hour later the token has expired: refreshed, and still no browser.
    r.clock.advanceSeconds(2 * 3600);
    r.check.stop();
    QVERIFY(r.checkOnce());
    QCOMPARE(r.view.statusText, status);
    QCOMPARE(provider.tokenRequests.size(), tokenRequests + 1);
    QCOMPARE(r.desktop.openedUrls.size(), refreshToken.isEmpty() ? 1 : 0);
}

void tst_Dovecot::imapCountsReadOnly_data()
{
    QTest::addColumn<int>("security");
    QTest::newRow("IMAP") << 0;
    QTest::newRow("IMAP with STARTTLS") << 1;
    QTest::newRow("IMAPS") << 2;
}

void tst_Dovecot::imapCountsReadOnly()
{
    QFETCH(int, security);
    if (!m_noImap.isEmpty())
        QSKIP(qPrintable(m_noImap));
    DovecotServer server(3);
    QVERIFY2(startImap(server, true), qPrintable(server.errorString()));
    Relay relay(security == 2 ? server.imapsPort() : server.imapPort());

    Run r(server);
    r.watchFolder(relay.port());
    r.run.ProfileSettings.Security = quint8(security);
    r.check.addCaCertificates(QSslCertificate::fromPath(server.caCertificatePath()));
    QVERIFY(r.checkOnce());

    QCOMPARE(r.view.statusText, QStringLiteral("3 message(s)"));
    QCOMPARE(r.run.ServerTransport.startsWith(QStringLiteral("TLS 1.")), security != 0);
    // Counted, and every message is as unseen as it was.
    QCOMPARE(server.unseenOnDisk(), 3);
    // With TLS nothing of the login crosses the wire in the clear.
    QCOMPARE(relay.fromClient.startsWith("a1 STARTTLS\r\n"), security == 1);
    QCOMPARE(relay.fromClient.contains(server.password().toLatin1()), false);
    QCOMPARE(relay.fromClient.contains("AUTHENTICATE"), security == 0);
    r.check.stop();
}

void tst_Dovecot::imapIdleHearsADeliveryAndComesBackAfterAKick()
{
    if (!m_noImap.isEmpty())
        QSKIP(qPrintable(m_noImap));
    DovecotServer server(3);
    QVERIFY2(startImap(server), qPrintable(server.errorString()));
    Run r(server);
    r.watchFolder(server.imapPort());
    ImapWatcher::Timings quick;
    quick.firstRetryMs = 200;
    r.check.imapWatcher().setTimings(quick);
    int logins = 0;
    QObject::connect(&r.check, &MailCheck::dialogue, [&](const QString& line) {
        logins += line.startsWith(QStringLiteral("a1 AUTHENTICATE")) ? 1 : 0;
    });
    QVERIFY(r.checkOnce());
    QCOMPARE(r.view.title, NameInBar + QStringLiteral(" - 3 message(s)"));
    QTRY_VERIFY(r.check.imapWatcher().isIdling());

    // The server's notice, not a poll, brings it within seconds.
    QElapsedTimer noticed;
    noticed.start();
    QVERIFY(server.deliverMessage(QStringLiteral("While idling")));
    QTRY_COMPARE_WITH_TIMEOUT(r.view.title, NameInBar + QStringLiteral(" - 4 message(s)"), 5000);
    QVERIFY2(noticed.elapsed() < 5000, qPrintable(QString::number(noticed.elapsed())));
    QCOMPARE(r.view.announcements.size(), 2);
    QCOMPARE(server.unseenOnDisk(), 4);
    QCOMPARE(logins, 1); // all of it on the one connection

    // Kicked out: back by itself, quietly, and watching again.
    QVERIFY(server.kick());
    QTRY_VERIFY(r.run.ConnectionNote.startsWith(QStringLiteral("Reconnecting: ")));
    QCOMPARE(r.view.statusText, QStringLiteral("4 message(s)"));
    QTRY_VERIFY_WITH_TIMEOUT(r.check.imapWatcher().isIdling() && r.run.ConnectionNote.isEmpty(), 5000);
    QVERIFY(server.deliverMessage(QStringLiteral("After the kick")));
    QTRY_COMPARE_WITH_TIMEOUT(r.view.title, NameInBar + QStringLiteral(" - 5 message(s)"), 5000);
    QVERIFY(r.desktop.messages.isEmpty());
    QCOMPARE(logins, 2);

    // While the Account dialog is open nothing is shown; closing it shows what came.
    QTRY_VERIFY(r.check.imapWatcher().isIdling());
    r.check.pause();
    bool counted = false; // the folder counted again, and idling again after it
    bool idlingAfter = false;
    QObject::connect(&r.check, &MailCheck::dialogue, [&](const QString& line) {
        idlingAfter = idlingAfter || (counted && line.startsWith(QStringLiteral("+ ")));
        counted = counted || line.contains(QStringLiteral("COUNT 6"));
    });
    QVERIFY(server.deliverMessage(QStringLiteral("While the dialog is open")));
    QTRY_VERIFY_WITH_TIMEOUT(idlingAfter, 5000);
    QCOMPARE(r.view.title, NameInBar + QStringLiteral(" - 5 message(s)"));
    r.check.resume();
    QTRY_COMPARE(r.view.title, NameInBar + QStringLiteral(" - 6 message(s)"));

    // Back from sleep (the wall clock jumped past the monotonic one): connected anew at once.
    r.clock.advanceSeconds(120);
    r.check.Timer1_Timer();
    QTRY_COMPARE(logins, 3);
    r.check.stop();
}

void tst_Dovecot::twoDeliveriesWhileIdlingNameBothSubjectsInOneNotification()
{
    if (!m_noImap.isEmpty())
        QSKIP(qPrintable(m_noImap));
    DovecotServer server(3);
    QVERIFY2(startImap(server), qPrintable(server.errorString()));

    Run r(server);
    r.watchFolder(server.imapPort());
    ProfileSettings& settings = r.run.ProfileSettings;
    settings.Security = 0;
    settings.ShowSenders = 1;
    settings.Popup = 1;
    r.check.checkNow();
    QTRY_VERIFY_WITH_TIMEOUT(r.check.imapWatcher().isIdling(), CheckTimeoutMs);
    const int before = r.view.announcements.size();

    QVERIFY(server.deliverMessage(QStringLiteral("=?UTF-8?Q?Caf=C3=A9_at_noon?="),
                                  QStringLiteral("Ann Example <ann@example.org>")));
    QVERIFY(server.deliverMessage(QStringLiteral("Minutes"), QStringLiteral("bob@example.org")));
    QTRY_COMPARE_WITH_TIMEOUT(r.view.announcements.size(), before + 1, CheckTimeoutMs);
    QCOMPARE(r.view.announcements.last(), NameInBar + QStringLiteral(" - 5 message(s)"));
    QCOMPARE(r.view.announcedSenders.last(), QStringLiteral("bob@example.org \u2014 Minutes\n"
                                                            "Ann Example \u2014 Caf\u00e9 at noon"));
    // Idling again after the count: the second delivery made no notification of its own.
    QTRY_VERIFY_WITH_TIMEOUT(r.check.imapWatcher().isIdling(), CheckTimeoutMs);
    QCOMPARE(r.view.announcements.size(), before + 1);
    QCOMPARE(server.unseenOnDisk(), 5);
}

QTEST_MAIN(tst_Dovecot)
#include "tst_dovecot.moc"
