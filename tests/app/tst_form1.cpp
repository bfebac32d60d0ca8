#include "deferredstyleicons.h"
#include "fakeclock.h"
#include "fakedesktop.h"
#include "form1.h"
#include "generalstuff.h"
#include "programrun.h"
#include "qtdesktop.h"
#include "scramblepassword.h"
#include "scriptedpop3server.h"
#include "settingsstore.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

Q_DECLARE_METATYPE(QSystemTrayIcon::ActivationReason)

namespace {

QLabel* statusText(Form1& form)
{
    return form.findChild<QLabel*>("StatusText");
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void profileWithoutServerEndsWithMessage();
    void noCheckBehindNoConfigurationMessage();
    void startUpChecksAndTitleFollows();
    void serverAppliedAtStartUpStartsChecks();
    void accountDialogPausesChecksButRunningOneCompletes();
    void menuBar();
    void trayClicks_data();
    void trayClicks();
    void trayClicksIgnoredWhileReaderQuestionOpen();
    void trayClicksIgnoredWhileModalWindowOpen();
    void tooltipCutTo63Characters();
    void closeBoxHides_data();
    void closeBoxHides();
    void startInTray_data();
    void startInTray();
    void exitNoKeepsChecking();
    void exitYesSavesPositionInTwips();
    void terminateSignalEndsLikeExit();
    void endingMinimisedKeepsStoredPosition();
    void storedPositionOffScreenIgnored_data();
    void storedPositionOffScreenIgnored();
    void mailboxMenuFollowsReader();
    void readerReallyStartsWithArgument_data();
    void readerReallyStartsWithArgument();
    void messageBoxShowsMarkupAsText();
    void alwaysOnTop();
};

void TestForm1::profileWithoutServerEndsWithMessage()
{
    ProgramRun program;
    program.files->store.save("Home Office", "UserName", "left over");
    ProfileSettings shown;
    program.desktop.handleNextDialog([&](QDialog& dialog) {
        shown = program.run.ProfileSettings;
        return dialog.result();
    });
    QSignalSpy unloaded(&program.form(), &Form1::unloaded);
    QVERIFY(!program.form().Form_Load("Home Office"));
    QCOMPARE(program.desktop.shownDialogs, QStringList("Account"));
    // The dialog saw only the start-up defaults.
    QCOMPARE(shown.Interval, qint16(5));
    QCOMPARE(shown.UserName, QString());
    QCOMPARE(program.desktop.messages.size(), 1);
    const FakeDesktop::Message& message = program.desktop.messages.first();
    QCOMPARE(message.text, QString("No valid configuration for profile Home Office found."));
    QCOMPARE(message.icon, QMessageBox::Warning);
    QCOMPARE(message.title, QString("PostOwl 1.5"));
    QCOMPARE(unloaded.count(), 1);
    // Never shown, never placed: written as "not set" for the desktop to place next time.
    QCOMPARE(program.stored("Home Office", "WIN-X"), QString("-1"));
    QCOMPARE(program.stored("Home Office", "WIN-Y"), QString("-1"));
    QVERIFY(!program.form().mailCheck().isTicking());
}

void TestForm1::noCheckBehindNoConfigurationMessage()
{
    ProgramRun program;
    // The start-up dialog is closed without a server, which resumes checks.
    program.desktop.handleNextDialog([](QDialog& dialog) {
        dialog.findChild<QPushButton*>("Command2")->click();
        return dialog.result();
    });
    bool ticking = true;
    QString status = "not asked";
    program.desktop.whileOpen = [&](const FakeDesktop::Message&) {
        ticking = program.form().mailCheck().isTicking();
        // Longer than the first tick (100 ms) of a run that checks.
        QTest::qWait(300);
        status = statusText(program.form())->text();
    };
    QVERIFY(!program.form().Form_Load("DEFAULT"));
    QCOMPARE(program.desktop.messages.size(), 1);
    QVERIFY(!ticking);
    QCOMPARE(status, QString());
    QCOMPARE(program.desktop.shownDialogs, QStringList("Account"));
    QCOMPARE(program.server.connections, 0);
}

void TestForm1::startUpChecksAndTitleFollows()
{
    ProgramRun program;
    program.server.replies.insert("STAT", ScriptedPop3Server::Response::reply("+OK 3 120\r\n"));
    program.writeProfile("DEFAULT");
    Form1& form = program.form();
    QSignalSpy notes(&form, &Form1::verboseNote);
    QVERIFY(form.Form_Load("DEFAULT"));
    QCOMPARE(form.windowTitle(), QString("Home"));
    QCOMPARE(form.trayIcon().toolTip(), QString("Home"));
    QVERIFY(form.isVisible());
    QTRY_COMPARE(statusText(form)->text(), QString("3 message(s)"));
    QCOMPARE(form.windowTitle(), QString("Home - 3 message(s)"));
    QCOMPARE(form.trayIcon().toolTip(), QString("Home - 3 message(s)"));
    QCOMPARE(statusText(form)->palette().color(QPalette::Window), QColor(0, 255, 0));
    QVERIFY(!form.windowIcon().isNull());
    QCOMPARE(program.desktop.beeps, 1);
    QCOMPARE(program.server.receivedLines.at(1), QByteArray("PASS s3cret\r\n"));
    // The first paint is said once, for the bench's cold start.
    form.repaint();
    QCOMPARE(notes.count(), 1);
    QCOMPARE(notes.at(0).at(0).toString(), QString("Window shown"));
}

void TestForm1::serverAppliedAtStartUpStartsChecks()
{
    ProgramRun program;
    program.desktop.handleNextDialog([](QDialog& dialog) {
        dialog.findChild<QLineEdit*>("Text1")->setText("127.0.0.1");
        dialog.findChild<QLineEdit*>("Text2")->setText("alice");
        dialog.findChild<QLineEdit*>("Text3")->setText("s3cret");
        dialog.findChild<QPushButton*>("Command1")->click();
        dialog.findChild<QPushButton*>("Command2")->click();
        return dialog.result();
    });
    Form1& form = program.form();
    QVERIFY(form.Form_Load("New"));
    QVERIFY(program.desktop.messages.isEmpty());
    QTRY_COMPARE(program.server.connections, 1);
    QTRY_COMPARE(statusText(form)->text(), QString("No messages"));
    QCOMPARE(program.server.receivedLines.value(1), QByteArray("PASS s3cret\r\n"));
    QCOMPARE(program.stored("New", "Password"), ScramblePassword("s3cret"));
}

void TestForm1::accountDialogPausesChecksButRunningOneCompletes()
{
    ProgramRun program;
    // A slow server: the first check is still under way when the dialog opens.
    program.server.greeting = ScriptedPop3Server::Response::split({"", "+OK slow\r\n"}, 300);
    program.writeProfile("DEFAULT", "AlwaysOnTop=1");
    Form1& form = program.form();
    QVERIFY(form.Form_Load("DEFAULT"));
    QTRY_VERIFY(form.mailCheck().isChecking());

    bool paused = false;
    bool topMostDropped = false;
    bool completedWhileOpen = false;
    bool timerResumedByCheck = false;
    program.desktop.handleNextDialog([&](QDialog& dialog) {
        paused = !form.mailCheck().isTicking();
        topMostDropped = !form.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        completedWhileOpen = QTest::qWaitFor([&] { return statusText(form)->text() == "No messages"; }, 5000);
        timerResumedByCheck = form.mailCheck().isTicking();
        dialog.findChild<QPushButton*>("Command2")->click();
        return dialog.result();
    });
    form.mnuAccount_Click();
    QVERIFY(paused);
    QVERIFY(topMostDropped);
    QVERIFY(completedWhileOpen);
    QVERIFY(timerResumedByCheck);
    QVERIFY(form.mailCheck().isTicking());
    QVERIFY(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

void TestForm1::menuBar()
{
    ProgramRun program;
    Form1& form = program.form();
    QStringList captions;
    for (QAction* action : form.menuBar()->actions()) {
        captions.append(action->text());
        QVERIFY(!action->menu());
    }
    QCOMPARE(captions, QStringList({"E&xit", "&Account", "&Mailbox", "&Refresh", "&?"}));
    QCOMPARE(statusText(form)->font().family(), QString("Comic Sans MS"));
    QVERIFY(statusText(form)->font().bold());
    QCOMPARE(statusText(form)->font().pointSizeF(), 15.75);
    // The bar's "more" arrow, read when first drawn, is the style's own.
    DeferredStyleIcons deferred(QStringLiteral("Fusion"));
    const QImage drawn =
        deferred.standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton).pixmap(16).toImage();
    QVERIFY(!drawn.isNull());
    QCOMPARE(
        drawn,
        deferred.baseStyle()->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton).pixmap(16).toImage());
}

void TestForm1::trayClicks_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<bool>("shown");

    QTest::newRow("left click") << QSystemTrayIcon::Trigger << true;
    QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << true;
    QTest::newRow("right click") << QSystemTrayIcon::Context << true;
    QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << true;
    QTest::newRow("unknown") << QSystemTrayIcon::Unknown << false;
}

void TestForm1::trayClicks()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(bool, shown);

    ProgramRun program;
    program.writeProfile("DEFAULT", "SysTray=1");
    Form1& form = program.form();
    QVERIFY(form.Form_Load("DEFAULT"));
    QVERIFY(!form.isVisible());
    emit form.trayIcon().activated(reason);
    QCOMPARE(form.isVisible(), shown);
}

void TestForm1::trayClicksIgnoredWhileReaderQuestionOpen()
{
    ProgramRun program;
    program.writeProfile("DEFAULT", "SysTray=1");
    Form1& form = program.form();
    QVERIFY(form.Form_Load("DEFAULT"));
    program.run.ReaderQuestionOpen = true;
    form.trayActivated(QSystemTrayIcon::Trigger);
    QVERIFY(!form.isVisible());
    program.run.ReaderQuestionOpen = false;
    form.trayActivated(QSystemTrayIcon::Trigger);
    QVERIFY(form.isVisible());
}

void TestForm1::trayClicksIgnoredWhileModalWindowOpen()
{
    ProgramRun program;
    program.writeProfile("DEFAULT", "SysTray=1");
    Form1& form = program.form();
    QVERIFY(form.Form_Load("DEFAULT"));
    QDialog prompt;
    prompt.setModal(true);
    prompt.show();
    form.trayActivated(QSystemTrayIcon::Trigger);
    QVERIFY(!form.isVisible());
    prompt.close();
    form.trayActivated(QSystemTrayIcon::Trigger);
    QVERIFY(form.isVisible());
}

void TestForm1::tooltipCutTo63Characters()
{
    ProgramRun program;
    const QString longName(70 - QString(" - No messages").size(), QLatin1Char('n'));
    program.writeProfile("DEFAULT", "NameInBar=" + longName);
    Form1& form = program.form();
    QVERIFY(form.Form_Load("DEFAULT"));
    QTRY_COMPARE(form.windowTitle().size(), 70);
    QCOMPARE(form.trayIcon().toolTip(), form.windowTitle().left(63));
}

void TestForm1::closeBoxHides_data()
{
    QTest::addColumn<bool>("tray");
    QTest::newRow("with a tray: hidden") << true;
    QTest::newRow("without a tray: minimised") << false;
}

void TestForm1::closeBoxHides()
{
    QFETCH(bool, tray);
    ProgramRun program;
    program.desktop.tray = tray;
    program.writeProfile("DEFAULT");
    Form1& form = program.form();
    QSignalSpy unloaded(&form, &Form1::unloaded);
    QVERIFY(form.Form_Load("DEFAULT"));
    QVERIFY(!form.close());
    QCOMPARE(form.isVisible(), !tray);
    QCOMPARE(form.isMinimized(), !tray);
    QCOMPARE(unloaded.count(), 0);
    QVERIFY(form.mailCheck().isTicking() || form.mailCheck().isChecking());
}

void TestForm1::startInTray_data()
{
    closeBoxHides_data();
}

void TestForm1::startInTray()
{
    QFETCH(bool, tray);
    ProgramRun program;
    program.desktop.tray = tray;
    program.writeProfile("DEFAULT", "SysTray=1");
    Form1& form = program.form();
    QVERIFY(form.Form_Load("DEFAULT"));
    // Without a tray the window must stay within the user's reach.
    QCOMPARE(form.isVisible(), !tray);
    QCOMPARE(form.isMinimized(), !tray);
}

void TestForm1::exitNoKeepsChecking()
{
    ProgramRun program;
    program.writeProfile("DEFAULT");
    Form1& form = program.form();
    QVERIFY(form.Form_Load("DEFAULT"));
    QTRY_VERIFY(!form.mailCheck().isChecking() && program.server.connections == 1);
    QSignalSpy unloaded(&form, &Form1::unloaded);
    program.desktop.answerNext(QMessageBox::No);
    form.mnuExit_Click();
    const FakeDesktop::Message& question = program.desktop.messages.last();
    QCOMPARE(question.text, QString("Do you really want to terminate PostOwl ?"));
    QCOMPARE(question.title, QString("PostOwl"));
    QCOMPARE(question.defaultButton, QMessageBox::Yes);
    QCOMPARE(question.icon, QMessageBox::Question);
    QCOMPARE(unloaded.count(), 0);
    QVERIFY(form.mailCheck().isTicking());
    QCOMPARE(program.stored("DEFAULT", "WIN-X"), QString("absent"));
}

void TestForm1::exitYesSavesPositionInTwips()
{
    ProgramRun program;
    program.writeProfile("DEFAULT");
    Form1& form = program.form();
    QVERIFY(form.Form_Load("DEFAULT"));
    form.move(100, 60);
    QSignalSpy unloaded(&form, &Form1::unloaded);
    program.desktop.answerNext(QMessageBox::Yes);
    form.mnuExit_Click();
    QCOMPARE(unloaded.count(), 1);
    const double twips = 1440.0 / form.logicalDpiX();
    QCOMPARE(program.stored("DEFAULT", "WIN-X"), QString::number(qRound(form.pos().x() * twips)));
    QCOMPARE(program.stored("DEFAULT", "WIN-Y"), QString::number(qRound(form.pos().y() * twips)));
    QVERIFY(!form.trayIcon().isVisible());
    QVERIFY(!form.mailCheck().isTicking());

    // The next start puts the window back where it was.
    ProgramRun next(program.files->fileName());
    QVERIFY(next.form().Form_Load("DEFAULT"));
    QCOMPARE(next.form().pos(), form.pos());
}

void TestForm1::terminateSignalEndsLikeExit()
{
    ProgramRun program;
    // Where the real program looks for its settings under XDG_CONFIG_HOME.
    const QTemporaryDir home;
    program.files =
        std::make_unique<TemporaryStore>(TemporaryStore::AtFile{home.filePath("POSTOWL/POSTOWL.conf")});
    program.writeProfile("DEFAULT");
    program.files->settings.sync();

    QProcess postowl;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", home.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("POSTOWL_POP3_PORT", QString::number(program.server.port()));
    postowl.setProcessEnvironment(environment);
    postowl.start(POSTOWL_EXECUTABLE, QStringList());
    QVERIFY(postowl.waitForStarted());
    // Its first check shows the run is up, signal handling included.
    QTRY_COMPARE_WITH_TIMEOUT(program.server.connections, 1, 10000);
    postowl.terminate(); // SIGTERM, as a logout sends it
    QVERIFY(postowl.waitForFinished(10000));
    QCOMPARE(postowl.exitStatus(), QProcess::NormalExit);
    QCOMPARE(postowl.exitCode(), 0);
    bool number = false;
    program.stored("DEFAULT", "WIN-X").toInt(&number);
    QVERIFY(number);
    program.stored("DEFAULT", "WIN-Y").toInt(&number);
    QVERIFY(number);
}

void TestForm1::endingMinimisedKeepsStoredPosition()
{
    ProgramRun program;
    program.writeProfile("DEFAULT", "WIN-X=300;WIN-Y=450");
    Form1& form = program.form();
    QVERIFY(form.Form_Load("DEFAULT"));
    form.showMinimized();
    QTRY_VERIFY(form.isMinimized());
    form.move(200, 200);
    form.Form_Unload();
    QCOMPARE(program.stored("DEFAULT", "WIN-X"), QString("300"));
    QCOMPARE(program.stored("DEFAULT", "WIN-Y"), QString("450"));
}

void TestForm1::storedPositionOffScreenIgnored_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("moved");

    QTest::newRow("on screen") << "WIN-X=1500;WIN-Y=1500" << true;
    QTest::newRow("far beyond the screen") << "WIN-X=32000;WIN-Y=32000" << false;
    // The offscreen screen is 800 x 800 pixels: the corner is on it, the title bar is not.
    QTest::newRow("title bar beyond the right edge") << "WIN-X=11850;WIN-Y=1500" << false;
    QTest::newRow("title bar below the bottom edge") << "WIN-X=1500;WIN-Y=11925" << false;
    QTest::newRow("outside 16 bits") << "WIN-X=99999;WIN-Y=99999" << false;
    QTest::newRow("negative") << "WIN-X=-1500;WIN-Y=-1500" << false;
    QTest::newRow("one edge only") << "WIN-X=1500;WIN-Y=-1" << false;
}

void TestForm1::storedPositionOffScreenIgnored()
{
    QFETCH(QString, stored);
    QFETCH(bool, moved);

    ProgramRun program;
    program.writeProfile("DEFAULT", stored);
    Form1& form = program.form();
    const QPoint before = form.pos();
    QVERIFY(form.Form_Load("DEFAULT"));
    const int expected = qRound(1500 / (1440.0 / form.logicalDpiX()));
    QCOMPARE(form.pos() == QPoint(expected, expected), moved);
    if (!moved)
        QCOMPARE(form.pos(), before);
}

void TestForm1::mailboxMenuFollowsReader()
{
    ProgramRun program;
    program.writeProfile("DEFAULT", "MailReader=");
    Form1& form = program.form();
    QVERIFY(form.Form_Load("DEFAULT"));
    QVERIFY(!form.findChild<QAction*>("mnuReader")->isEnabled());

    ProgramRun withReader;
    withReader.writeProfile("DEFAULT", "MailReader=/usr/bin/reader --inbox 'my mail'");
    QVERIFY(withReader.form().Form_Load("DEFAULT"));
    QVERIFY(withReader.form().findChild<QAction*>("mnuReader")->isEnabled());
    withReader.form().findChild<QAction*>("mnuReader")->trigger();
    QCOMPARE(withReader.desktop.startedPrograms, QStringList("/usr/bin/reader --inbox 'my mail'"));
}

void TestForm1::readerReallyStartsWithArgument_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("commandLine"); // %1: the reader's path
    QTest::addColumn<QByteArray>("ran");

    QTest::newRow("path and argument") << "reader"
                                       << "%1 inbox" << QByteArray("ran:inbox");
    QTest::newRow("path with blanks alone") << "mail reader"
                                            << "%1" << QByteArray("ran:");
    QTest::newRow("quoted path with blanks and argument") << "mail reader"
                                                          << "\"%1\" inbox" << QByteArray("ran:inbox");
}

void TestForm1::readerReallyStartsWithArgument()
{
    QFETCH(QString, folder);
    QFETCH(QString, commandLine);
    QFETCH(QByteArray, ran);

    QTemporaryDir dir(QDir::tempPath() + "/" + folder + "-XXXXXX");
    const QString script = dir.filePath(folder + ".sh");
    const QString output = dir.filePath("reader ran");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nprintf 'ran:%s' \"$1\" > \"$(dirname \"$0\")/reader ran\"\n");
    file.close();
    file.setPermissions(file.permissions() | QFile::ExeOwner);

    QtDesktop desktop;
    QVERIFY(desktop.startProgram(commandLine.arg(script)));
    auto written = [&output] {
        QFile file(output);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QTRY_COMPARE(written(), ran);
    // A reader that is not there is no error the user hears about.
    QVERIFY(!desktop.startProgram(dir.filePath("no such reader")));
    QVERIFY(!desktop.startProgram(QString()));
}

void TestForm1::messageBoxShowsMarkupAsText()
{
    QtDesktop desktop;
    Qt::TextFormat format = Qt::AutoText;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            format = box->textFormat();
            box->accept();
        }
    });
    closer.start(20);
    desktop.message(nullptr, QMessageBox::Warning, "PostOwl 1.5",
                    "No valid configuration for profile <img src=\"/x.png\"> found.", QMessageBox::Ok,
                    QMessageBox::NoButton);
    QCOMPARE(format, Qt::PlainText);
}

void TestForm1::alwaysOnTop()
{
    ProgramRun program;
    program.writeProfile("DEFAULT", "AlwaysOnTop=1");
    Form1& form = program.form();
    QVERIFY(form.Form_Load("DEFAULT"));
    QVERIFY(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(form.isVisible());
    form.SetTopMost(0);
    QVERIFY(!form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(form.isVisible());
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
