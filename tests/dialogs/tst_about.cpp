#include "about.h"
#include "fakedesktop.h"
#include "generalstuff.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QStandardPaths>
#include <QTest>

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void statusLines_data();
    void statusLines();
    void everyOpeningComposesAnew();
    void greetingShowsAsPlainText();
    void greetingTellsHowTheCheckWasCarried_data();
    void greetingTellsHowTheCheckWasCarried();
    void versionComesFromTheBuild();
    void window();
    void hover_data();
    void hover();
    void reopeningForgetsTheHighlight();
    void linkClicks_data();
    void linkClicks();
    void screenshot();

private:
    // Looked up by object name, as the form names them.
    static QLabel* label(const About& about, const char* name)
    {
        auto* found = about.findChild<QLabel*>(QLatin1String(name));
        if (!found)
            qFatal("About has no label %s", name);
        return found;
    }
    static QColor linkColour(const QLabel* link) { return link->palette().color(link->foregroundRole()); }
    static void moveOver(QWidget* widget)
    {
        const QPoint centre = widget->rect().center();
        QMouseEvent move(QEvent::MouseMove, centre, widget->mapToGlobal(centre), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }
};

void TestAbout::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestAbout::statusLines_data()
{
    QTest::addColumn<QString>("greeting");
    QTest::addColumn<QDateTime>("lastCheck");
    QTest::addColumn<int>("interval");
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<QString>("nextLine");

    QTest::newRow("before any check") << QString() << QDateTime() << 5 << "No mail check performed"
                                      << "";
    // A watched IMAP folder (interval -1 here: idling; -2: reconnecting) has no next time.
    QTest::newRow("idling") << "Dovecot ready." << QDateTime(QDate(2026, 12, 8), QTime(9, 5, 33)) << -1
                            << "Last mail check at 2026-12-08 09:05:33"
                            << "Next mail check when the server tells of new mail";
    QTest::newRow("reconnecting") << "Dovecot ready." << QDateTime(QDate(2026, 12, 8), QTime(9, 5, 33)) << -2
                                  << "Last mail check at 2026-12-08 09:05:33"
                                  << "Reconnecting: The remote host closed the connection";
    QTest::newRow("after a completed check")
        << "Dovecot ready.\r\n"
        << QDateTime(QDate(2026, 12, 8), QTime(9, 5, 33)) << 5 << "Last mail check at 2026-12-08 09:05:33"
        << "Next mail check at 2026-12-08 09:10:33";
    QTest::newRow("next check after midnight")
        << "Dovecot ready.\r\n"
        << QDateTime(QDate(2026, 6, 14), QTime(23, 58, 0)) << 5 << "Last mail check at 2026-06-14 23:58:00"
        << "Next mail check at 2026-06-15 00:03:00";
    QTest::newRow("next check in the next year")
        << "ready" << QDateTime(QDate(2026, 12, 31), QTime(23, 58, 59)) << 5
        << "Last mail check at 2026-12-31 23:58:59"
        << "Next mail check at 2027-01-01 00:03:59";
    QTest::newRow("leap day") << "ready" << QDateTime(QDate(2028, 2, 28), QTime(23, 30, 0)) << 60
                              << "Last mail check at 2028-02-28 23:30:00"
                              << "Next mail check at 2028-02-29 00:30:00";
    // 32767 minutes: past what a 16-bit count of seconds or an int of
    // milliseconds would hold.
    QTest::newRow("longest interval") << "ready" << QDateTime(QDate(2026, 1, 1), QTime(12, 0, 0)) << 32767
                                      << "Last mail check at 2026-01-01 12:00:00"
                                      << "Next mail check at 2026-01-24 06:07:00";
    // A Refresh zeroes LastCheckTime; when its check then fails after the
    // greeting, the greeting stays while the check lines say none was made.
    QTest::newRow("refresh, then the check failed")
        << "POP3 server at mail.example ready <1896.697170952@mail.example>\r\n"
        << QDateTime() << 5 << "No mail check performed"
        << "";
}

void TestAbout::statusLines()
{
    QFETCH(QString, greeting);
    QFETCH(QDateTime, lastCheck);
    QFETCH(int, interval);
    QFETCH(QString, lastLine);
    QFETCH(QString, nextLine);

    GeneralStuff run;
    run.ServerGreeting = greeting;
    run.LastCheckTime = lastCheck;
    run.ProfileSettings.Interval = qint16(interval);
    run.AwaitingNotice = interval == -1;
    if (interval == -2)
        run.ConnectionNote = QStringLiteral("Reconnecting: The remote host closed the connection");
    FakeDesktop desktop;
    About about(run, desktop);
    about.show();

    QCOMPARE(label(about, "Label2")->text(), QStringLiteral("PostOwl 1.5"));
    QCOMPARE(label(about, "Label6")->text(), greeting);
    QCOMPARE(label(about, "Label7")->text(), lastLine);
    QCOMPARE(label(about, "Label8")->text(), nextLine);
}

void TestAbout::everyOpeningComposesAnew()
{
    GeneralStuff run;
    FakeDesktop desktop;
    About about(run, desktop);
    about.show();
    QCOMPARE(label(about, "Label7")->text(), QStringLiteral("No mail check performed"));
    about.hide();

    // A check completes while the box is closed, then the interval is changed
    // in the Account dialog: the next opening shows both.
    run.ServerGreeting = QStringLiteral("ready\r\n");
    run.LastCheckTime = QDateTime(QDate(2026, 3, 2), QTime(10, 0, 0));
    run.ProfileSettings.Interval = 5;
    about.show();
    QCOMPARE(label(about, "Label6")->text(), QStringLiteral("ready\r\n"));
    QCOMPARE(label(about, "Label8")->text(), QStringLiteral("Next mail check at 2026-03-02 10:05:00"));
    about.hide();

    run.ProfileSettings.Interval = 45;
    about.show();
    QCOMPARE(label(about, "Label7")->text(), QStringLiteral("Last mail check at 2026-03-02 10:00:00"));
    QCOMPARE(label(about, "Label8")->text(), QStringLiteral("Next mail check at 2026-03-02 10:45:00"));
}

void TestAbout::greetingTellsHowTheCheckWasCarried_data()
{
    QTest::addColumn<QString>("greeting");
    QTest::addColumn<QString>("transport");
    QTest::addColumn<QString>("shown");
    // The protocol goes before the line end, which the label's one line would cut off.
    QTest::newRow("TLS 1.3") << "Dovecot ready.\r\n"
                             << "TLS 1.3"
                             << "Dovecot ready. (TLS 1.3)\r\n";
    QTest::newRow("bare LF") << "ready\n"
                             << "TLS 1.2"
                             << "ready (TLS 1.2)\n";
    QTest::newRow("plain") << "Dovecot ready.\r\n"
                           << ""
                           << "Dovecot ready.\r\n";
}

void TestAbout::greetingTellsHowTheCheckWasCarried()
{
    QFETCH(QString, greeting);
    QFETCH(QString, transport);
    QFETCH(QString, shown);
    GeneralStuff run;
    run.ServerGreeting = greeting;
    run.ServerTransport = transport;
    FakeDesktop desktop;
    About about(run, desktop);
    about.show();
    QCOMPARE(label(about, "Label6")->text(), shown);
}

void TestAbout::greetingShowsAsPlainText()
{
    // The greeting comes from whatever server the profile names; markup in it
    // is shown, not obeyed.
    GeneralStuff run;
    run.ServerGreeting = QStringLiteral("<img src=\"http://tracker.example/x.gif\"><b>hi</b>\r\n");
    FakeDesktop desktop;
    About about(run, desktop);
    about.show();
    QCOMPARE(label(about, "Label6")->textFormat(), Qt::PlainText);
    QCOMPARE(label(about, "Label6")->text(), run.ServerGreeting);
}

void TestAbout::versionComesFromTheBuild()
{
    GeneralStuff run;
    FakeDesktop desktop;
    About about(run, desktop);
    about.show();
    const QString expected = QStringLiteral("Rev ") + QString::number(POSTOWL_VERSION_MAJOR) + '.' +
                             QString::number(POSTOWL_VERSION_MINOR) + '.' +
                             QString::number(POSTOWL_VERSION_REVISION);
    QCOMPARE(label(about, "Label11")->text(), expected);
    QCOMPARE(expected, QStringLiteral("Rev 1.5.10"));
}

void TestAbout::window()
{
    GeneralStuff run;
    FakeDesktop desktop;
    About about(run, desktop);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));

    QCOMPARE(about.windowTitle(), QStringLiteral("About PostOwl"));
    QCOMPARE(about.size(), QSize(386, 208));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QCOMPARE(about.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(!(about.windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowContextHelpButtonHint)));
    // Centred give or take the title bar, whose size the platform decides.
    const QPoint offCentre = about.geometry().center() - about.screen()->availableGeometry().center();
    QVERIFY2(qAbs(offCentre.x()) <= 8 && qAbs(offCentre.y()) <= 30,
             qPrintable(QStringLiteral("%1, %2").arg(offCentre.x()).arg(offCentre.y())));

    const QPixmap owl = label(about, "Picture1")->pixmap();
    QCOMPARE(owl.size(), QSize(85, 190));

    // The web link lies over "Visit us at" and gets the pointer there.
    QCOMPARE(about.childAt(label(about, "Label9")->geometry().center()), label(about, "Label9"));
    QCOMPARE(about.childAt(label(about, "Label4")->geometry().topLeft() + QPoint(2, 2)),
             label(about, "Label4"));
}

void TestAbout::hover_data()
{
    // Where the pointer went, in order, and whether each link is blue after.
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<bool>("webBlue");
    QTest::addColumn<bool>("mailBlue");

    QTest::newRow("nothing yet") << QStringList() << false << false;
    QTest::newRow("over the web link") << QStringList{"Label9"} << true << false;
    QTest::newRow("over the mail link") << QStringList{"Label10"} << false << true;
    QTest::newRow("web link, then mail link") << QStringList{"Label9", "Label10"} << false << true;
    QTest::newRow("mail link, then web link") << QStringList{"Label10", "Label9"} << true << false;
    QTest::newRow("web link, then Visit us at") << QStringList{"Label9", "Label4"} << false << false;
    QTest::newRow("mail link, then Send mail to") << QStringList{"Label10", "Label5"} << false << false;
    QTest::newRow("web link, then the background") << QStringList{"Label9", "About"} << false << false;
    QTest::newRow("mail link, then the background") << QStringList{"Label10", "About"} << false << false;
    // Elements without a handler leave the colours alone.
    QTest::newRow("web link, then the picture") << QStringList{"Label9", "Picture1"} << true << false;
    QTest::newRow("web link, then the title") << QStringList{"Label9", "Label2"} << true << false;
    QTest::newRow("mail link, then the version") << QStringList{"Label10", "Label11"} << false << true;
    QTest::newRow("web link, then the status lines")
        << QStringList{"Label9", "Label6", "Label7", "Label8"} << true << false;
    // Straight out of the window: stays blue until the pointer comes back.
    QTest::newRow("web link, then out of the window") << QStringList{"Label9", "leave"} << true << false;
    QTest::newRow("web link, out, back over the background")
        << QStringList{"Label9", "leave", "About"} << false << false;
    QTest::newRow("entering the web link") << QStringList{"enter:Label9"} << true << false;
    QTest::newRow("entering Send mail to") << QStringList{"Label10", "enter:Label5"} << false << false;
}

void TestAbout::hover()
{
    QFETCH(QStringList, path);
    QFETCH(bool, webBlue);
    QFETCH(bool, mailBlue);

    GeneralStuff run;
    FakeDesktop desktop;
    About about(run, desktop);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));

    for (const QString& step : path) {
        if (step == QLatin1String("leave")) {
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(&about, &leave);
        } else if (step.startsWith(QLatin1String("enter:"))) {
            auto* target = about.findChild<QWidget*>(step.mid(6));
            QVERIFY(target);
            const QPointF inside(2, 2);
            QEnterEvent enter(inside, inside, target->mapToGlobal(inside));
            QApplication::sendEvent(target, &enter);
        } else {
            QWidget* target = step == QLatin1String("About") ? &about : about.findChild<QWidget*>(step);
            QVERIFY2(target, qPrintable(step));
            if (target == &about) {
                // A spot of bare background, between the picture and the labels.
                const QPoint spot(100, 60);
                QCOMPARE(about.childAt(spot), nullptr);
                QMouseEvent move(QEvent::MouseMove, spot, about.mapToGlobal(spot), Qt::NoButton, Qt::NoButton,
                                 Qt::NoModifier);
                QApplication::sendEvent(&about, &move);
            } else {
                moveOver(target);
            }
        }
    }

    const QColor blue(0, 0, 255);
    const QColor normal = about.palette().color(QPalette::ButtonText);
    QVERIFY(normal != blue);
    QCOMPARE(linkColour(label(about, "Label9")), webBlue ? blue : normal);
    QCOMPARE(linkColour(label(about, "Label10")), mailBlue ? blue : normal);
}

void TestAbout::reopeningForgetsTheHighlight()
{
    GeneralStuff run;
    FakeDesktop desktop;
    About about(run, desktop);
    about.show();
    moveOver(label(about, "Label9"));
    QCOMPARE(linkColour(label(about, "Label9")), QColor(0, 0, 255));
    about.hide();
    about.show();
    QCOMPARE(linkColour(label(about, "Label9")), about.palette().color(QPalette::ButtonText));
}

void TestAbout::linkClicks_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QList<QUrl>>("opened");

    QTest::newRow("web link") << "Label9" << Qt::LeftButton
                              << QList<QUrl>{QUrl("http://www.postowl.example/")};
    QTest::newRow("mail link") << "Label10" << Qt::LeftButton
                               << QList<QUrl>{QUrl("mailto:owl@postowl.example")};
    QTest::newRow("web link, right button") << "Label9" << Qt::RightButton << QList<QUrl>();
    QTest::newRow("Visit us at") << "Label4" << Qt::LeftButton << QList<QUrl>();
    QTest::newRow("Send mail to") << "Label5" << Qt::LeftButton << QList<QUrl>();
    QTest::newRow("picture") << "Picture1" << Qt::LeftButton << QList<QUrl>();
}

void TestAbout::linkClicks()
{
    QFETCH(QString, label);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QList<QUrl>, opened);

    GeneralStuff run;
    FakeDesktop desktop;
    About about(run, desktop);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));

    auto* target = about.findChild<QLabel*>(label);
    QVERIFY(target);
    QTest::mouseClick(target, button);
    QCOMPARE(desktop.openedUrls, opened);
    QVERIFY(about.isVisible());
    QVERIFY(desktop.messages.isEmpty());
}

void TestAbout::screenshot()
{
    const QString artifacts = qEnvironmentVariable("POSTOWL_ARTIFACTS");
    if (artifacts.isEmpty())
        QSKIP("POSTOWL_ARTIFACTS is not set");

    GeneralStuff run;
    run.ServerGreeting = QStringLiteral("Dovecot (Debian) ready.\r\n");
    run.LastCheckTime = QDateTime(QDate(2026, 12, 8), QTime(9, 5, 33));
    run.ProfileSettings.Interval = 5;
    FakeDesktop desktop;
    About about(run, desktop);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    moveOver(label(about, "Label9"));

    QVERIFY(QDir().mkpath(artifacts));
    const QString file = QDir(artifacts).filePath(QStringLiteral("about.png"));
    QFile::remove(file);
    QVERIFY(about.grab().save(file));
    QVERIFY(QFileInfo(file).size() > 0);
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
