// New mail told on the desktop and pushed to a phone: the desktop
// notification over a private session bus, the push against the stand-in
// HTTP server on 127.0.0.1, both as the main window wires them.

#include "desktopnotifier.h"
#include "fakeclock.h"
#include "fakedesktop.h"
#include "form1.h"
#include "generalstuff.h"
#include "programrun.h"
#include "pushclient.h"
#include "settingsstore.h"
#include "standingateway.h"
#include "standinnotifications.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// One run of the program: its main window with a recording desktop.
struct NotifyRun : ProgramRun
{
    NotifyRun()
    {
        run.ProfileSettings.ProfileName = QStringLiteral("DEFAULT");
        run.ProfileSettings.Popup = 1;
    }
};

bool sessionBus()
{
    return QDBusConnection::sessionBus().isConnected();
}

// The smallest rectangle holding every pixel that is not black.
QRect drawnArea(const QImage& image)
{
    QRect area;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffff) != 0)
                area |= QRect(x, y, 1, 1);
    return area;
}

} // namespace

class TestNotify : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void desktopNotificationReplacedAndChosen();
    void unansweredServiceIsAskedOnce();
    void bodyEscapedOnlyForMarkup_data();
    void bodyEscapedOnlyForMarkup();
    void push_data();
    void push();
    void switchedOffSendsNothing();
    void screenshotUnderNotificationDaemon();
};

void TestNotify::desktopNotificationReplacedAndChosen()
{
    if (!sessionBus())
        QSKIP("needs a session bus (run under dbus-run-session)");
    StandInNotifications service;
    QVERIFY(service.registered());
    NotifyRun r;
    r.run.ProfileSettings.MailReader = QStringLiteral("mutt -f inbox");
    QSignalSpy shown(&r.form().desktopNotifier(), &DesktopNotifier::shown);

    r.form().announceNewMail(QStringLiteral("Home - 3 message(s)"), QString(), false);
    QVERIFY(shown.wait());
    QCOMPARE(service.calls.size(), 1);
    const StandInNotifications::Call& first = service.calls.first();
    QCOMPARE(first.appName, QStringLiteral("PostOwl"));
    QCOMPARE(first.summary, QStringLiteral("PostOwl"));
    QCOMPARE(first.body, QStringLiteral("Home - 3 message(s)"));
    QCOMPARE(first.replacesId, 0u);
    QVERIFY(first.actions.contains(QStringLiteral("default")));
    QCOMPARE(first.imageSize, QSize(32, 32));
    QCOMPARE(first.hints.value("desktop-entry").toString(), QStringLiteral("example.postowl.PostOwl"));
    QCOMPARE(first.hints.value("category").toString(), QStringLiteral("email.arrived"));
    const uint id = shown.first().first().toUInt();

    // The next one takes the first one's place instead of stacking; with
    // the senders the count becomes its summary.
    r.form().announceNewMail(QStringLiteral("Home - 4 message(s)"), QStringLiteral("Ann - Hi"), false);
    QVERIFY(shown.wait());
    QCOMPARE(service.calls.at(1).replacesId, id);
    QCOMPARE(service.calls.at(1).summary, QStringLiteral("Home - 4 message(s)"));
    QCOMPARE(service.calls.at(1).body, QStringLiteral("Ann - Hi"));

    // Another program's notification chosen is none of ours; ours starts the reader.
    service.invoke(id + 1, QStringLiteral("default"));
    service.invoke(id, QStringLiteral("default"));
    QTRY_COMPARE(r.desktop.startedPrograms, QStringList{QStringLiteral("mutt -f inbox")});

    // Without a reader it brings the window.
    r.run.ProfileSettings.MailReader.clear();
    QVERIFY(!r.form().isVisible());
    service.invoke(id, QStringLiteral("default"));
    QTRY_VERIFY(r.form().isVisible());
    QCOMPARE(r.desktop.startedPrograms.size(), 1);
}

void TestNotify::unansweredServiceIsAskedOnce()
{
    if (!sessionBus())
        QSKIP("needs a session bus (run under dbus-run-session)");
    DesktopNotifier notifier;
    QSignalSpy unanswered(&notifier, &DesktopNotifier::unanswered);
    notifier.show(QStringLiteral("PostOwl"), QStringLiteral("Home - 1 message(s)"), {});
    QVERIFY(unanswered.wait());

    // A service that turns up later is not asked: the next one goes straight
    // to the fallback.
    StandInNotifications service;
    QVERIFY(service.registered());
    notifier.show(QStringLiteral("PostOwl"), QStringLiteral("Home - 2 message(s)"), {});
    QCOMPARE(unanswered.size(), 2);
    QCOMPARE(unanswered.last().at(1).toString(), QStringLiteral("Home - 2 message(s)"));
    QVERIFY(service.calls.isEmpty());
}

void TestNotify::bodyEscapedOnlyForMarkup_data()
{
    QTest::addColumn<QStringList>("capabilities");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("soundName"); // the new-mail sound asked for

    const QString name = QStringLiteral("Tom & Jerry <home> - 1 message(s)");
    QTest::newRow("plain text service") << QStringList{"body"} << name << "";
    QTest::newRow("body-markup announced")
        << QStringList{"body", "body-markup"} << "Tom &amp; Jerry &lt;home&gt; - 1 message(s)"
        << "";
    QTest::newRow("sound announced") << QStringList{"body", "sound"} << name << "message-new-email";
}

void TestNotify::bodyEscapedOnlyForMarkup()
{
    QFETCH(QStringList, capabilities);
    QFETCH(QString, body);
    QFETCH(QString, soundName);
    if (!sessionBus())
        QSKIP("needs a session bus (run under dbus-run-session)");
    StandInNotifications service;
    QVERIFY(service.registered());
    service.capabilities = capabilities;
    DesktopNotifier notifier;
    QSignalSpy shown(&notifier, &DesktopNotifier::shown);

    for (int i = 0; i < 2; ++i)
        notifier.show(QStringLiteral("A & <b>"), QStringLiteral("Tom & Jerry <home> - 1 message(s)"), {},
                      true);
    QTRY_COMPARE(shown.size(), 2);
    QCOMPARE(notifier.playsSound(), !soundName.isEmpty());
    QCOMPARE(service.calls.at(1).hints.value("sound-name").toString(), soundName);
    QCOMPARE(service.capabilityQuestions, 1);
    QCOMPARE(service.calls.at(1).summary, QStringLiteral("A & <b>"));
    QCOMPARE(service.calls.at(1).body, body);
}

void TestNotify::push_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("requests");

    QTest::newRow("delivered") << "" << 1;
    QTest::newRow("server error") << "500" << 1;
    QTest::newRow("connection refused") << "refused" << 0;
    QTest::newRow("redirect to another origin") << "redirect" << 1;
    QTest::newRow("answer that never ends") << "endless" << 1;
    QTest::newRow("senders asked for") << "senders" << 1;
}

void TestNotify::push()
{
    QFETCH(QString, fault);
    QFETCH(int, requests);

    NotifyRun r;
    StandInGateway server;
    StandInGateway elsewhere;
    QVERIFY(server.listen() && elsewhere.listen());
    server.acceptPosts("/postowl");
    elsewhere.acceptPosts("/postowl");
    QString url = server.url(QStringLiteral("/postowl")).toString();
    if (fault == QLatin1String("500")) {
        server.setStatusOverride(500);
    } else if (fault == QLatin1String("redirect")) {
        server.setRedirect("/postowl", elsewhere.url(QStringLiteral("/postowl")));
    } else if (fault == QLatin1String("endless")) {
        server.setEndlessBody(true);
    } else if (fault == QLatin1String("refused")) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        url = QStringLiteral("http://127.0.0.1:%1/postowl").arg(closed.serverPort());
    }
    r.run.ProfileSettings.Popup = 0;
    r.run.ProfileSettings.PushURL = url;
    // A subject leaves the machine only when the user asked for it.
    r.run.ProfileSettings.PushSenders = fault == QLatin1String("senders") ? 1 : 0;
    QSignalSpy ended(&r.form().pushClient(), &PushClient::pushEnded);

    const QString text = QStringLiteral("Büro - 3 message(s)");
    r.form().announceNewMail(text, QStringLiteral("Ann - Hi"), false);
    QVERIFY(ended.wait());
    QCOMPARE(server.requests().size(), requests);
    if (requests) {
        const StandInGateway::Request& request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/postowl"));
        QCOMPARE(request.body, (r.run.ProfileSettings.PushSenders ? text + "\nAnn - Hi" : text).toUtf8());
        QCOMPARE(request.header("Title"), QByteArray("PostOwl"));
        QCOMPARE(request.header("Content-Type"), QByteArray("text/plain; charset=utf-8"));
    }
    QVERIFY2(elsewhere.requests().isEmpty(), "a redirect to another origin was followed");
    QVERIFY(r.desktop.messages.isEmpty());
    QCOMPARE(ended.size(), 1); // no retry
}

void TestNotify::switchedOffSendsNothing()
{
    if (!sessionBus())
        QSKIP("needs a session bus (run under dbus-run-session)");
    StandInNotifications service;
    QVERIFY(service.registered());
    StandInGateway server;
    QVERIFY(server.listen());
    server.acceptPosts("/postowl");
    NotifyRun r;
    r.run.ProfileSettings.Popup = 0;
    r.form().announceNewMail(QStringLiteral("off"), QString(), false);

    // Switched on again, only the second one arrives: the first sent nothing.
    r.run.ProfileSettings.Popup = 1;
    r.run.ProfileSettings.PushURL = server.url(QStringLiteral("/postowl")).toString();
    r.form().announceNewMail(QStringLiteral("on"), QString(), false);
    QTRY_COMPARE(service.calls.size(), 1);
    QTRY_COMPARE(server.requests().size(), 1);
    QCOMPARE(service.calls.first().body, QStringLiteral("on"));
    QCOMPARE(server.requests().first().body, QByteArray("on"));
}

void TestNotify::screenshotUnderNotificationDaemon()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (run under xvfb-run)");
    const QString dunst = QStandardPaths::findExecutable(QStringLiteral("dunst"));
    if (dunst.isEmpty() || !sessionBus())
        QSKIP("needs dunst and a session bus");

    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("dunstrc"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[global]\nwidth = 360\norigin = top-left\noffset = 10x10\nfont = Sans 10\n"
               "frame_width = 1\nframe_color = \"#aaaaaa\"\nmin_icon_size = 32\nmax_icon_size = 32\n"
               "[urgency_normal]\nbackground = \"#303030\"\nforeground = \"#ffffff\"\ntimeout = 0\n");
    file.close();
    QProcess daemon;
    daemon.start(dunst, {QStringLiteral("-config"), config});
    QVERIFY(daemon.waitForStarted());
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    QTRY_VERIFY_WITH_TIMEOUT(bus->isServiceRegistered(QLatin1String(DesktopNotifier::Service)), 10000);

    QScreen* screen = QGuiApplication::primaryScreen();
    QVERIFY(drawnArea(screen->grabWindow(0).toImage()).isEmpty());
    NotifyRun r;
    // As a watched IMAP folder shows it: the count over the newest senders.
    r.form().announceNewMail(
        QStringLiteral("Home - 4 message(s)"),
        QStringLiteral("Ann Example \u2014 Caf\u00e9 at noon\nbob@example.org \u2014 Minutes\n"
                       "\u0411\u043e\u0440\u0438\u0441 \u2014 Hi\nand 1 more"),
        false);
    QTRY_VERIFY_WITH_TIMEOUT(drawnArea(screen->grabWindow(0).toImage()).width() > 100, 10000);
    QTest::qWait(300); // let the daemon finish painting
    const QImage shot = screen->grabWindow(0).toImage();
    const QRect area = drawnArea(shot);
    const QImage notification = shot.copy(area.adjusted(-4, -4, 4, 4));

    // The mailbox's red flag came with the notification.
    bool red = false;
    for (int y = 0; y < notification.height() && !red; ++y)
        for (int x = 0; x < notification.width() && !red; ++x) {
            const QColor pixel = notification.pixelColor(x, y);
            red = pixel.red() > 150 && pixel.green() < 90 && pixel.blue() < 90;
        }
    const QString artifacts = qEnvironmentVariable("POSTOWL_ARTIFACTS", QDir::tempPath());
    QVERIFY(QDir().mkpath(artifacts));
    const QString path = QDir(artifacts).filePath(QStringLiteral("desktop-notification.png"));
    QVERIFY(notification.save(path));
    qInfo("screenshot: %s (%dx%d)", qPrintable(path), notification.width(), notification.height());
    QVERIFY2(red, "no icon in the notification");
    QVERIFY2(area.height() > 60, "the four lines of senders are not all there");

    daemon.terminate();
    daemon.waitForFinished();
}

QTEST_MAIN(TestNotify)
#include "tst_notify.moc"
