#include "generalstuff.h"
#include "networkaccess.h"
#include "smsclient.h"
#include "smsgateway.h"
#include "standingateway.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {

const QByteArray PlainLoginBody = "returl=/sms/xsms.asp&username=alice&password=secret";
const QByteArray PlainSmsBody =
    "smsToNumbers=%2B419999999&smsMessage=You+have+3+item(s)+in+your+mailbox+for+"
    "profile+DEFAULT.+Bye+PostOwl&smsSig=1&smsSigDyna=PostOwl&lenLSig=8&lenSysSig=11";
const QString PlainSmsText =
    QStringLiteral("You have 3 item(s) in your mailbox for profile DEFAULT. Bye PostOwl");

const QByteArray LoginMarker = R"(name="returl" value="/sms/xsms.asp")";

// A run with an SMS account, a client and a gateway that knows the account.
struct Conversation
{
    Conversation()
    {
        run.ProfileSettings.ProfileName = QStringLiteral("DEFAULT");
        run.ProfileSettings.SMSUserID = QStringLiteral("alice");
        run.ProfileSettings.SMSPassword = QStringLiteral("secret");
        run.ProfileSettings.SMSMobile = QStringLiteral("+419999999");
        run.LastMessageCount = 3;
        gateway.setCredentials(QStringLiteral("alice"), QStringLiteral("secret"));
        if (!gateway.listen())
            qFatal("the stand-in gateway cannot listen");
        client.setGateway(gateway.host(), gateway.port());
    }

    // "GET /sms/xsms.asp", "POST /session.asp", ... as the gateway saw them.
    QStringList requestLines() const
    {
        QStringList lines;
        for (const StandInGateway::Request& request : gateway.requests())
            lines.append(QString::fromLatin1(request.method + ' ' + request.path));
        return lines;
    }

    GeneralStuff run;
    StandInGateway gateway;
    NetworkAccess network;
    SmsClient client{run, network};
};

// Sets POSTOWL_SMS_GATEWAY for one test and puts the old value back.

const QStringList FullConversation = {"GET /sms/xsms.asp", "POST /session.asp", "GET /sms/xsms.asp",
                                      "POST /sms/xsms.asp"};

} // namespace

class TestSmsClient : public QObject
{
    Q_OBJECT

private slots:
    void fullConversationLogsInAndPostsSms();
    void secondNotifyUsesKeptSession();
    void markers_data();
    void markers();
    void wrongCredentialsEndAfterLogin();
    void failuresEndSilently_data();
    void failuresEndSilently();
    void crossOriginRedirectDoesNotResendLogin();
    void bothMarkersInOnePagePostLoginFirst();
    void notifyDuringConversationStartsAfresh();
    void countIsReadWhenSmsIsComposed();
    void fieldsReachGatewayIntact_data();
    void fieldsReachGatewayIntact();
};

void TestSmsClient::fullConversationLogsInAndPostsSms()
{
    Conversation c;
    QSignalSpy ended(&c.client, &SmsClient::requestEnded);
    QCOMPARE(int(c.client.SmsState()), 0);

    c.client.SendSMSNotify();
    QCOMPARE(int(c.client.SmsState()), 1);
    QTRY_VERIFY(!c.client.isBusy());

    QCOMPARE(int(c.client.SmsState()), 3);
    QCOMPARE(c.requestLines(), FullConversation);
    const QList<StandInGateway::Request>& requests = c.gateway.requests();
    QVERIFY(requests.at(0).header("Content-Type").isNull());
    QVERIFY(requests.at(0).header("Cookie").isNull());
    QCOMPARE(requests.at(1).body, PlainLoginBody);
    QCOMPARE(requests.at(1).header("Content-Type"), "application/x-www-form-urlencoded");
    QCOMPARE(requests.at(3).body, PlainSmsBody);
    QCOMPARE(requests.at(3).header("Content-Type"), "application/x-www-form-urlencoded");
    QVERIFY(requests.at(3).header("Cookie").contains(StandInGateway::SessionCookieName));
    QCOMPARE(c.gateway.receivedSms(), QStringList{PlainSmsText});
    // The answer to the SMS shows the SMS form again; in state 3 it starts nothing.
    QCOMPARE(ended.count(), 3);
}

void TestSmsClient::secondNotifyUsesKeptSession()
{
    Conversation c;
    c.client.SendSMSNotify();
    QTRY_VERIFY(!c.client.isBusy());
    QCOMPARE(int(c.client.SmsState()), 3);

    c.run.LastMessageCount = 5;
    c.client.SendSMSNotify();
    QCOMPARE(int(c.client.SmsState()), 1);
    QTRY_VERIFY(!c.client.isBusy());

    QCOMPARE(int(c.client.SmsState()), 3);
    const QStringList again = {"GET /sms/xsms.asp", "POST /sms/xsms.asp"};
    QCOMPARE(c.requestLines(), FullConversation + again);
    QCOMPARE(c.gateway.receivedSms().size(), 2);
    QVERIFY(c.gateway.receivedSms().at(1).startsWith(QLatin1String("You have 5 item(s)")));
}

void TestSmsClient::markers_data()
{
    QTest::addColumn<QByteArray>("loginPage");
    QTest::addColumn<QByteArray>("smsPage");
    QTest::addColumn<int>("expectedState");

    const QByteArray login = StandInGateway::DefaultLoginPage;
    const QByteArray sms = StandInGateway::DefaultSmsPage;
    const auto markerAt = [](qsizetype offset) {
        return QByteArray(offset, 'x') + LoginMarker + ">" + QByteArray(5000, 'y');
    };
    const qsizetype limit = SmsClient::ResponseReadLimit;

    QTest::newRow("login field in capitals")
        << QByteArray(R"(<INPUT TYPE="HIDDEN" NAME="RETURL" VALUE="/SMS/XSMS.ASP">)") << sms << 3;
    QTest::newRow("login field with single quotes")
        << QByteArray(R"(<input type="hidden" name='returl' value='/sms/xsms.asp'>)") << sms << 1;
    QTest::newRow("login field with an extra blank")
        << QByteArray(R"(<input type="hidden" name="returl"  value="/sms/xsms.asp">)") << sms << 1;
    QTest::newRow("login field with the value first")
        << QByteArray(R"(<input type="hidden" value="/sms/xsms.asp" name="returl">)") << sms << 1;
    QTest::newRow("login marker ending at the read limit")
        << markerAt(limit - LoginMarker.size()) << sms << 3;
    QTest::newRow("login marker crossing the read limit")
        << markerAt(limit - LoginMarker.size() + 1) << sms << 1;
    QTest::newRow("login marker far past the read limit") << markerAt(3 * limit) << sms << 1;
    QTest::newRow("10 MB page, marker at its end") << markerAt(10 * 1024 * 1024) << sms << 1;
    QTest::newRow("sms form in capitals")
        << login << QByteArray(R"(<FORM ACTION="XSMS.ASP" METHOD="POST">)") << 3;
    QTest::newRow("sms form with single quotes") << login << QByteArray(R"(<form action='xsms.asp'>)") << 2;
    QTest::newRow("sms form with an extra blank") << login << QByteArray(R"(<form  action="xsms.asp">)") << 2;
    QTest::newRow("sms form with the method first")
        << login << QByteArray(R"(<form method="post" action="xsms.asp">)") << 2;
}

void TestSmsClient::markers()
{
    QFETCH(QByteArray, loginPage);
    QFETCH(QByteArray, smsPage);
    QFETCH(int, expectedState);

    Conversation c;
    c.gateway.setLoginPage(loginPage);
    c.gateway.setSmsPage(smsPage);
    c.client.SendSMSNotify();
    QTRY_VERIFY(!c.client.isBusy());

    QCOMPARE(int(c.client.SmsState()), expectedState);
    QCOMPARE(c.requestLines(), FullConversation.mid(0, expectedState == 1 ? 1 : expectedState == 2 ? 3 : 4));
    QCOMPARE(c.gateway.receivedSms().size(), expectedState == 3 ? 1 : 0);
}

void TestSmsClient::wrongCredentialsEndAfterLogin()
{
    Conversation c;
    c.gateway.setCredentials(QStringLiteral("alice"), QStringLiteral("another"));
    c.client.SendSMSNotify();
    QTRY_VERIFY(!c.client.isBusy());
    QCOMPARE(int(c.client.SmsState()), 2);
    QCOMPARE(c.requestLines(), FullConversation.mid(0, 2));

    // The next notification tries the same login once more.
    c.client.SendSMSNotify();
    QTRY_VERIFY(!c.client.isBusy());
    QCOMPARE(int(c.client.SmsState()), 2);
    QCOMPARE(c.requestLines(), FullConversation.mid(0, 2) + FullConversation.mid(0, 2));
    QVERIFY(c.gateway.receivedSms().isEmpty());
}

enum class Fault { GatewayDown, ErrorPage, NeverAnswers, LoginFormAsError, Drips };
Q_DECLARE_METATYPE(Fault)

void TestSmsClient::failuresEndSilently_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("expectedState");
    QTest::addColumn<int>("expectedRequests");

    QTest::newRow("gateway down") << Fault::GatewayDown << 1 << 0;
    QTest::newRow("503 error page") << Fault::ErrorPage << 1 << 1;
    QTest::newRow("never answers") << Fault::NeverAnswers << 1 << 1;
    // An error page is still a page: a 401 showing the login form gets the login.
    QTest::newRow("login form sent as 401") << Fault::LoginFormAsError << 2 << 2;
    // Each byte restarts the transfer time-out; the request's deadline ends it all the same.
    QTest::newRow("answer dripping in byte by byte") << Fault::Drips << 1 << 1;
}

void TestSmsClient::failuresEndSilently()
{
    QFETCH(Fault, fault);
    QFETCH(int, expectedState);
    QFETCH(int, expectedRequests);

    Conversation c;
    c.client.setTransferTimeout(300);
    c.network.setRequestDeadline(1000);
    switch (fault) {
    case Fault::GatewayDown: {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        c.client.setGateway(closed.serverAddress().toString(), closed.serverPort());
        break; // the port is closed again when `closed` goes
    }
    case Fault::ErrorPage:
        c.gateway.setStatusOverride(503, "<html><body>Down for maintenance</body></html>");
        break;
    case Fault::NeverAnswers:
        c.gateway.setSilent(true);
        break;
    case Fault::LoginFormAsError:
        c.gateway.setStatusOverride(401);
        break;
    case Fault::Drips:
        c.gateway.setDripInterval(20);
        break;
    }
    QSignalSpy ended(&c.client, &SmsClient::requestEnded);
    c.client.SendSMSNotify();
    QTRY_VERIFY(!c.client.isBusy());

    QCOMPARE(int(c.client.SmsState()), expectedState);
    QCOMPARE(c.gateway.requests().size(), expectedRequests);
    QCOMPARE(ended.count(), expectedState);
    QVERIFY(c.gateway.receivedSms().isEmpty());
}

void TestSmsClient::crossOriginRedirectDoesNotResendLogin()
{
    Conversation c;
    StandInGateway elsewhere;
    QVERIFY(elsewhere.listen());
    c.gateway.setRedirect("/session.asp", elsewhere.url(QStringLiteral("/session.asp")), 307);

    c.client.SendSMSNotify();
    QTRY_VERIFY(!c.client.isBusy());

    QCOMPARE(c.requestLines(), FullConversation.mid(0, 2));
    QVERIFY(elsewhere.requests().isEmpty());
    QCOMPARE(int(c.client.SmsState()), 2);
}

void TestSmsClient::bothMarkersInOnePagePostLoginFirst()
{
    Conversation c;
    c.gateway.setLoginPage(StandInGateway::DefaultLoginPage + StandInGateway::DefaultSmsPage);
    c.client.SendSMSNotify();
    QTRY_VERIFY(!c.client.isBusy());

    QCOMPARE(c.requestLines(), FullConversation);
    QCOMPARE(c.gateway.receivedSms(), QStringList{PlainSmsText});
    QCOMPARE(int(c.client.SmsState()), 3);
}

void TestSmsClient::notifyDuringConversationStartsAfresh()
{
    Conversation c;
    c.gateway.setSilent(true);
    c.client.SendSMSNotify();
    QTRY_COMPARE(c.gateway.requests().size(), 1);
    QVERIFY(c.client.isBusy());

    c.gateway.setSilent(false);
    QSignalSpy ended(&c.client, &SmsClient::requestEnded);
    c.client.SendSMSNotify();
    QCOMPARE(int(c.client.SmsState()), 1);
    QTRY_VERIFY(!c.client.isBusy());

    QCOMPARE(c.requestLines(), QStringList{"GET /sms/xsms.asp"} + FullConversation);
    QTRY_COMPARE(c.gateway.abandonedRequests(), 1); // the first GET was cancelled, not left hanging
    QCOMPARE(c.gateway.receivedSms(), QStringList{PlainSmsText});
    QCOMPARE(ended.count(), 3);
    QCOMPARE(int(c.client.SmsState()), 3);
}

void TestSmsClient::countIsReadWhenSmsIsComposed()
{
    Conversation c;
    // The check records its count while the conversation is already running.
    connect(&c.gateway, &StandInGateway::requestReceived, &c.gateway, [&c] {
        if (c.gateway.requests().size() == 2)
            c.run.LastMessageCount = 7;
    });
    c.client.SendSMSNotify();
    QTRY_VERIFY(!c.client.isBusy());
    QCOMPARE(
        c.gateway.receivedSms(),
        QStringList{QStringLiteral("You have 7 item(s) in your mailbox for profile DEFAULT. Bye PostOwl")});
}

void TestSmsClient::fieldsReachGatewayIntact_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("mobile");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("loginBody"); // exact, when not empty
    QTest::addColumn<QByteArray>("smsBody");   // exact, when not empty
    QTest::addColumn<QString>("message");

    // Rows vary the plain inputs alice / secret / +419999999 / DEFAULT / 3.
    const auto row = [](const char* name, const QString& user, const QString& password, const QString& mobile,
                        const QString& profile, int count, const QByteArray& login, const QByteArray& sms,
                        const QString& message) {
        QTest::newRow(name) << user << password << mobile << profile << count << login << sms << message;
    };
    const QString alice = QStringLiteral("alice"), secret = QStringLiteral("secret");
    const QString number = QStringLiteral("+419999999"), defaultProfile = QStringLiteral("DEFAULT");
    const QString messageFor =
        QStringLiteral("You have %1 item(s) in your mailbox for profile %2. Bye PostOwl");

    row("plain", alice, secret, number, defaultProfile, 3, PlainLoginBody, PlainSmsBody, PlainSmsText);
    row("test SMS before any check", alice, secret, number, defaultProfile, 0, {},
        QByteArray(PlainSmsBody).replace("+3+", "+0+"), messageFor.arg(0).arg(defaultProfile));
    row("password with & + = and %41", alice, "p&ss+w=rd%41", number, defaultProfile, 3,
        "returl=/sms/xsms.asp&username=alice&password=p%26ss%2Bw%3Drd%2541", {}, PlainSmsText);
    row("user name with a blank", "alice smith", secret, number, defaultProfile, 3,
        "returl=/sms/xsms.asp&username=alice%20smith&password=secret", {}, PlainSmsText);
    row("empty account", "", "", number, defaultProfile, 3, "returl=/sms/xsms.asp&username=&password=", {},
        PlainSmsText);
    row("profile with a blank and &", alice, secret, number, "Home & Work", 3, {},
        "smsToNumbers=%2B419999999&smsMessage=You+have+3+item(s)+in+your+mailbox+for+profile+"
        "Home%20%26%20Work.+Bye+PostOwl&smsSig=1&smsSigDyna=PostOwl&lenLSig=8&lenSysSig=11",
        messageFor.arg(3).arg("Home & Work"));
    row("profile with a non-ASCII letter", alice, secret, number, QStringLiteral("B\u00fcro"), 3, {}, {},
        messageFor.arg(3).arg(QStringLiteral("B\u00fcro")));
    row("number with blanks", alice, secret, "+41 99 999 99 99", defaultProfile, 3, {},
        QByteArray(PlainSmsBody).replace("%2B419999999", "%2B41%2099%20999%2099%2099"), PlainSmsText);
}

void TestSmsClient::fieldsReachGatewayIntact()
{
    QFETCH(QString, userName);
    QFETCH(QString, password);
    QFETCH(QString, mobile);
    QFETCH(QString, profile);
    QFETCH(int, count);
    QFETCH(QByteArray, loginBody);
    QFETCH(QByteArray, smsBody);
    QFETCH(QString, message);

    Conversation c;
    c.run.ProfileSettings.SMSUserID = userName;
    c.run.ProfileSettings.SMSPassword = password;
    c.run.ProfileSettings.SMSMobile = mobile;
    c.run.ProfileSettings.ProfileName = profile;
    c.run.LastMessageCount = count;
    c.gateway.setCredentials(userName, password);
    c.client.SendSMSNotify();
    QTRY_VERIFY(!c.client.isBusy());

    QCOMPARE(c.requestLines(), FullConversation);
    const StandInGateway::Request login = c.gateway.requests().at(1);
    const StandInGateway::Request sms = c.gateway.requests().at(3);
    if (!loginBody.isEmpty())
        QCOMPARE(login.body, loginBody);
    if (!smsBody.isEmpty())
        QCOMPARE(sms.body, smsBody);
    QCOMPARE(login.body.count('&'), 2);
    QCOMPARE(login.field("returl"), QStringLiteral("/sms/xsms.asp"));
    QCOMPARE(login.field("username"), userName);
    QCOMPARE(login.field("password"), password);
    QCOMPARE(sms.body.count('&'), 5);
    QCOMPARE(sms.field("smsToNumbers"), mobile);
    QCOMPARE(sms.field("smsMessage"), message);
    QCOMPARE(sms.field("smsSig"), QStringLiteral("1"));
    QCOMPARE(sms.field("smsSigDyna"), QStringLiteral("PostOwl"));
    QCOMPARE(sms.field("lenLSig"), QStringLiteral("8"));
    QCOMPARE(sms.field("lenSysSig"), QStringLiteral("11"));
}

QTEST_MAIN(TestSmsClient)
#include "tst_smsclient.moc"
