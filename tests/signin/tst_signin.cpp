#include "fakedesktop.h"
#include "networkaccess.h"
#include "oauthflow.h"
#include "standinauthserver.h"
#include "tokenrefresher.h"

#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

namespace {

// A stand-in provider, the flow, and a "browser" that fetches what the flow
// opens and follows the provider's redirect back to the listener.
struct SignInRig
{
    SignInRig()
    {
        if (!server.listen())
            qFatal("the stand-in authorization server cannot listen");
        config = {
            server.clientId, {}, server.url("/authorize"), server.url("/token"), "https://mail/ offline+"};
        browser.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        desktop.whenUrlOpened = [this](const QUrl& url) { visit(url); };
    }

    void visit(const QUrl& url, std::function<void()> then = nullptr)
    {
        QNetworkReply* reply = browser.get(QNetworkRequest(url));
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply, then] {
            pageStatuses.append(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
            reply->deleteLater();
            if (then)
                then();
        });
    }

    StandInAuthServer server;
    NetworkAccess network;
    QNetworkAccessManager browser;
    FakeDesktop desktop;
    OAuthFlow flow{network, desktop};
    QSignalSpy signedIn{&flow, &OAuthFlow::signedIn};
    QSignalSpy failed{&flow, &OAuthFlow::failed};
    OAuthConfig config;
    QList<int> pageStatuses;
};

} // namespace

class TestSignIn : public QObject
{
    Q_OBJECT

private slots:
    void signIn_data();
    void signIn();
    void refresh_data();
    void refresh();
};

void TestSignIn::signIn_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QList<int>>("pageStatuses"); // as the browser saw them
    QTest::addColumn<QString>("message");         // empty: signed in

    QTest::newRow("signed in, verifier matches challenge") << QString() << QList<int>{200} << QString();
    QTest::newRow("client secret sent when set") << "secret" << QList<int>{200} << QString();
    QTest::newRow("only 127.0.0.1, wrong state refused, right one signs in")
        << "forged state" << QList<int>{400, 200} << QString();
    QTest::newRow("error in redirect shown") << "redirect error" << QList<int>{200} << "(access_denied)";
    QTest::newRow("token error shown")
        << "token error" << QList<int>{200} << "(invalid_client: Client unknown)";
    QTest::newRow("browser never comes back") << "no browser" << QList<int>{} << "not come back in time";
}

void TestSignIn::signIn()
{
    QFETCH(QString, fault);
    SignInRig rig;
    if (fault == "secret")
        rig.config.clientSecret = QStringLiteral("not+so secret");
    if (fault == "redirect error")
        rig.server.redirectError = QStringLiteral("access_denied");
    if (fault == "token error")
        rig.server.tokenError = QStringLiteral("invalid_client");
    rig.server.tokenErrorDescription = QStringLiteral("Client\r\nunknown");
    if (fault == "no browser")
        rig.desktop.whenUrlOpened = nullptr;
    rig.flow.setTimeout(fault == "no browser" ? 200 : 10000);
    if (fault == "forged state") {
        rig.desktop.whenUrlOpened = [&rig](const QUrl& url) {
            QUrl forged(QUrlQuery(url).queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
            // Another address of this machine: a listener on every interface would take it.
            QTcpSocket elsewhere;
            elsewhere.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), quint16(forged.port()));
            QVERIFY(!elsewhere.waitForConnected(5000));
            forged.setQuery(QStringLiteral("code=forged&state=wrong"));
            rig.visit(forged, [&rig, url] {
                QCOMPARE(rig.signedIn.count() + rig.failed.count(), 0);
                rig.visit(url);
            });
        };
    }

    rig.flow.start(rig.config);
    QTRY_COMPARE_WITH_TIMEOUT(rig.signedIn.count() + rig.failed.count(), 1, 10000);
    QFETCH(QList<int>, pageStatuses);
    QTRY_COMPARE(rig.pageStatuses, pageStatuses);
    QFETCH(QString, message);
    const QString shown = rig.failed.value(0).value(0).toString();
    QVERIFY2(message.isEmpty() ? shown.isEmpty() : shown.contains(message), qPrintable(shown));
    if (!message.isEmpty())
        return;
    const OAuthTokens tokens = rig.signedIn.value(0).value(0).value<OAuthTokens>();
    QCOMPARE(tokens.accessToken, rig.server.lastAccessToken);
    QCOMPARE(tokens.refreshToken, rig.server.refreshToken);
    const QUrlQuery opened(rig.desktop.openedUrls.value(0));
    QCOMPARE(opened.queryItemValue(QStringLiteral("scope"), QUrl::FullyDecoded), rig.config.scope);
    const StandInAuthServer::Fields request = rig.server.tokenRequests.value(0);
    QCOMPARE(request.value(QStringLiteral("code_verifier")).size(), 43);
    QCOMPARE(request.value(QStringLiteral("client_secret"), "none"),
             fault == "secret" ? rig.config.clientSecret : "none");
}

void TestSignIn::refresh_data()
{
    QTest::addColumn<qint64>("lifetime");
    QTest::addColumn<qint64>("advance");
    QTest::addColumn<int>("refusals");
    QTest::addColumn<int>("refreshes");
    QTest::addColumn<QString>("outcome");

    QTest::newRow("more than 5 min left: token held") << 3600LL << 3299LL << 0 << 0 << "token";
    QTest::newRow("5 min left: refreshed, rotated refresh token stored")
        << 3600LL << 3300LL << 0 << 1 << "token";
    QTest::newRow("short token before half life: held") << 300LL << 149LL << 0 << 0 << "token";
    QTest::newRow("short token at half life: refreshed") << 300LL << 150LL << 0 << 1 << "token";
    QTest::newRow("refused: refreshed once") << 3600LL << 0LL << 1 << 1 << "token";
    QTest::newRow("refused right after refresh: not again") << 3600LL << 0LL << 2 << 1 << "failed";
    QTest::newRow("invalid_grant: sign in again") << 3600LL << 3300LL << 0 << 1 << "again";
}

void TestSignIn::refresh()
{
    QFETCH(qint64, lifetime);
    QFETCH(qint64, advance);
    QFETCH(int, refusals);
    QFETCH(QString, outcome);
    SignInRig rig;
    rig.server.lastAccessToken = QStringLiteral("signed-in access token");
    rig.server.refreshToken = QStringLiteral("signed-in refresh token");
    QDateTime now(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC);
    QStringList stored;
    TokenRefresher refresher(rig.network);
    refresher.setConfig(rig.config);
    refresher.setClock([&now] { return now; });
    refresher.setStoreRefreshToken([&stored](const QString& token) { stored.append(token); });
    refresher.takeTokens({rig.server.lastAccessToken, lifetime, rig.server.refreshToken});
    rig.server.tokenError = outcome == "again" ? QStringLiteral("invalid_grant") : QString();
    now = now.addSecs(advance);

    QSignalSpy ready(&refresher, &TokenRefresher::accessTokenReady);
    QSignalSpy again(&refresher, &TokenRefresher::signInRequired);
    QSignalSpy failed(&refresher, &TokenRefresher::failed);
    refresher.requestAccessToken();
    for (int answers = 1; answers <= 1 + refusals; ++answers) {
        QTRY_COMPARE(ready.count() + again.count() + failed.count(), answers);
        if (answers <= refusals)
            refresher.tokenRefused();
    }

    QFETCH(int, refreshes);
    QCOMPARE(rig.server.tokenRequests.size(), refreshes);
    QCOMPARE(again.count(), outcome == "again" ? 1 : 0);
    QCOMPARE(failed.count(), outcome == "failed" ? 1 : 0);
    if (outcome != "token")
        return;
    QCOMPARE(ready.last().first().toString(), rig.server.lastAccessToken);
    QCOMPARE(stored.size(), 1 + refreshes);
    QCOMPARE(stored.last(), rig.server.refreshToken);
}

QTEST_MAIN(TestSignIn)
#include "tst_signin.moc"
