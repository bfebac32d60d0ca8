// The real main window on a real X server (Xvfb), checking a real Dovecot:
// what the user would see after the first check, kept as a screenshot.

#include "dovecotserver.h"
#include "fakeclock.h"
#include "fakedesktop.h"
#include "form1.h"
#include "generalstuff.h"
#include "scramblepassword.h"
#include "temporarystore.h"

#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestRealWindow : public QObject
{
    Q_OBJECT

private slots:
    void screenshotAfterFirstCheck();
};

void TestRealWindow::screenshotAfterFirstCheck()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (run under xvfb-run)");
    if (!DovecotServer::unavailableReason().isEmpty())
        QSKIP(qPrintable(DovecotServer::unavailableReason()));
    QStandardPaths::setTestModeEnabled(true);

    DovecotServer dovecot(3);
    QVERIFY2(dovecot.start(), qPrintable(dovecot.errorString()));

    TemporaryStore files;
    SettingsStore& store = files.store;
    store.save("DEFAULT", "ServerName", "127.0.0.1");
    store.save("DEFAULT", "UserName", dovecot.userName());
    store.save("DEFAULT", "Password", ScramblePassword(dovecot.password()));
    store.save("DEFAULT", "Interval", "5");
    store.save("DEFAULT", "StartReader", "0");
    store.save("DEFAULT", "PlaySound", "0");
    store.save("DEFAULT", "NotifyOnce", "1");
    store.save("DEFAULT", "NameInBar", "Demo");
    store.save("DEFAULT", "WIN-X", "300");
    store.save("DEFAULT", "WIN-Y", "300");

    GeneralStuff run;
    FakeDesktop desktop;
    FakeClock clock;
    Form1 form(run, store, desktop, clock);
    form.mailCheck().setPort(dovecot.port());
    QVERIFY(form.Form_Load("DEFAULT"));
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    auto* status = form.findChild<QLabel*>("StatusText");
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString("3 message(s)"), 10000);
    QCOMPARE(form.windowTitle(), QString("Demo - 3 message(s)"));
    QTest::qWait(200); // let the X server paint what the window drew

    const QImage screen = form.screen()->grabWindow(0).toImage();
    const QPoint labelCorner = status->mapToGlobal(QPoint(2, 2));
    QCOMPARE(QColor(screen.pixel(labelCorner)), QColor(0, 255, 0));
    const QPoint menuPoint = form.menuBar()->mapToGlobal(QPoint(2, 2));
    QVERIFY(form.menuBar()->isVisible());
    // All five commands fit on the bar: none hides behind an overflow button.
    for (QAction* action : form.menuBar()->actions())
        QVERIFY2(form.menuBar()->actionGeometry(action).right() < form.menuBar()->width(),
                 qPrintable(action->text()));
    QVERIFY(QColor(screen.pixel(menuPoint)) != QColor(0, 255, 0));

    const QString artifacts = qEnvironmentVariable("POSTOWL_ARTIFACTS", QDir::tempPath());
    QDir().mkpath(artifacts);
    const QString file = QDir(artifacts).filePath("main-window.png");
    QVERIFY(form.grab().save(file));
    QVERIFY(screen.copy(form.frameGeometry().adjusted(-10, -10, 10, 10))
                .save(QDir(artifacts).filePath("main-window-screen.png")));
    qInfo("screenshot: %s", qPrintable(file));
    form.Form_Unload();
}

QTEST_MAIN(TestRealWindow)
#include "tst_realwindow.moc"
