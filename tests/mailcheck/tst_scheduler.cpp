#include "mailcheckrig.h"
#include "passwordentry.h"
#include "scriptedpop3server.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

QDateTime at(int hour, int minute, int second)
{
    return QDateTime(QDate(2026, 12, 8), QTime(hour, minute, second));
}

} // namespace

class TestScheduler : public QObject
{
    Q_OBJECT

private slots:
    void minutesCountBoundariesCrossed_data();
    void minutesCountBoundariesCrossed();
    void nextCheckAfterInterval();
    void intervalZeroChecksAtEveryTick();
    void clockSetBackStopsChecksButRefreshStillChecks();
    void refreshDuringConversationStartsNone();
    void checkCompletesWhileReaderQuestionOpen();
    void timerTimings();
    void statusLineWhileChecking();
    void promptAsksWhenNoPasswordAndSendsTypedText();
    void wrongPasswordAsksAgainAtNextCheck();
    void promptClosedWithoutEntryStillChecks();
    void promptShowsHashAndTakesTextUntrimmed();
    void checkWaitsForPasswordsFromKeyring();
    void profilePortIsUsedWithoutOverride();
};

void TestScheduler::minutesCountBoundariesCrossed_data()
{
    QTest::addColumn<QDateTime>("from");
    QTest::addColumn<QDateTime>("to");
    QTest::addColumn<qint64>("minutes");

    QTest::newRow("one second across a boundary") << at(10, 0, 59) << at(10, 1, 0) << qint64(1);
    QTest::newRow("59 seconds within a minute") << at(10, 0, 0) << at(10, 0, 59) << qint64(0);
    QTest::newRow("across midnight") << at(23, 58, 30) << QDateTime(QDate(2026, 12, 9), QTime(0, 3, 0))
                                     << qint64(5);
    QTest::newRow("clock set back") << at(10, 0, 0) << at(9, 0, 0) << qint64(-60);
}

void TestScheduler::minutesCountBoundariesCrossed()
{
    QFETCH(QDateTime, from);
    QFETCH(QDateTime, to);
    QFETCH(qint64, minutes);
    QCOMPARE(MailCheck::minutesBetween(from, to), minutes);
}

void TestScheduler::nextCheckAfterInterval()
{
    ScriptedPop3Server server;
    MailCheckRig run(server.port());
    run.run.ProfileSettings.Interval = 5;
    run.clock.current = at(10, 0, 59);
    QVERIFY(run.tick());
    QCOMPARE(run.run.LastCheckTime, at(10, 0, 59));

    // Ticks every five seconds until 10:04:59 start nothing; 10:05:00 does.
    for (QDateTime now = at(10, 1, 4); now < at(10, 5, 0); now = now.addSecs(5)) {
        run.clock.current = now;
        QVERIFY2(!run.tick(), qPrintable(now.toString()));
    }
    run.clock.current = at(10, 5, 0);
    QVERIFY(run.tick());
    QCOMPARE(server.connections, 2);
}

void TestScheduler::intervalZeroChecksAtEveryTick()
{
    ScriptedPop3Server server;
    MailCheckRig run(server.port());
    run.run.ProfileSettings.Interval = 0;
    for (int i = 0; i < 3; ++i)
        QVERIFY(run.tick());
    QCOMPARE(server.connections, 3);
}

void TestScheduler::clockSetBackStopsChecksButRefreshStillChecks()
{
    ScriptedPop3Server server;
    MailCheckRig run(server.port());
    run.run.ProfileSettings.Interval = 5;
    run.clock.current = at(10, 0, 0);
    QVERIFY(run.tick());

    run.clock.current = at(9, 0, 0);
    QVERIFY(!run.tick());
    run.clock.current = at(10, 4, 59);
    QVERIFY(!run.tick());

    run.clock.current = at(9, 0, 0);
    run.check.checkNow();
    QTRY_COMPARE(server.connections, 2);
    QTRY_VERIFY(!run.check.isChecking());
    QCOMPARE(run.run.LastCheckTime, at(9, 0, 0));
}

void TestScheduler::refreshDuringConversationStartsNone()
{
    ScriptedPop3Server server;
    server.replies.insert("STAT", ScriptedPop3Server::Response::stall());
    MailCheckRig run(server.port());
    run.check.setStallTimeout(2000);
    run.check.checkNow();
    QTRY_COMPARE(server.receivedLines.size(), 3);
    QVERIFY(run.check.isChecking());
    QVERIFY(!run.check.isTicking());

    run.check.checkNow();
    run.check.Timer1_Timer();
    QTest::qWait(50);
    QCOMPARE(server.connections, 1);
    QCOMPARE(run.view.statusHistory.count(QStringLiteral("Starting")), 1);
}

void TestScheduler::checkCompletesWhileReaderQuestionOpen()
{
    ScriptedPop3Server server;
    server.replies.insert("STAT", ScriptedPop3Server::Response::reply("+OK 2 90\r\n"));
    MailCheckRig run(server.port());
    run.check.setStallTimeout(1000);
    ProfileSettings& settings = run.run.ProfileSettings;
    settings.Interval = 0;
    settings.StartReader = 1;
    settings.AskBefore = 1;
    bool nestedCheckRan = false;
    QString statusDuringQuestion;
    run.desktop.answerNextWith([&](const FakeDesktop::Message&) {
        // The user leaves the question open; the timer goes on checking.
        server.replies.insert("STAT", ScriptedPop3Server::Response::reply("+OK 5 90\r\n"));
        nestedCheckRan = run.tick();
        statusDuringQuestion = run.view.statusText;
        return QMessageBox::No;
    });
    QVERIFY(run.tick());
    QTRY_VERIFY(run.desktop.messages.size() == 1 && !run.run.ReaderQuestionOpen);
    QVERIFY(nestedCheckRan);
    QCOMPARE(statusDuringQuestion, QStringLiteral("5 message(s)"));
    QCOMPARE(server.connections, 2);
    QCOMPARE(run.desktop.messages.size(), 1);
    QCOMPARE(run.view.readerStarts, 0);
}

void TestScheduler::timerTimings()
{
    ScriptedPop3Server server;
    MailCheckRig run(server.port());
    QVERIFY(!run.check.isTicking());
    run.check.start();
    QCOMPARE(run.check.tickInterval(), 100);
    QVERIFY2(run.check.isTicking(), "a later tick tries again");
    // The first tick comes by itself and checks at once.
    QTRY_COMPARE(server.connections, 1);
    QTRY_VERIFY(!run.check.isChecking());
    QCOMPARE(run.check.tickInterval(), 5000);
    QVERIFY2(run.check.isTicking(), "a later tick tries again");
}

void TestScheduler::statusLineWhileChecking()
{
    ScriptedPop3Server server;
    MailCheckRig run(server.port());
    QVERIFY(run.tick());
    QCOMPARE(run.view.statusHistory.mid(0, 3),
             QStringList({QStringLiteral("Starting"), QStringLiteral("Checking Mail"),
                          QStringLiteral("No messages")}));
}

void TestScheduler::promptAsksWhenNoPasswordAndSendsTypedText()
{
    ScriptedPop3Server server;
    MailCheckRig run(server.port());
    run.run.ProfileSettings.Password = QStringLiteral("   ");
    QString statusWhilePrompting;
    run.desktop.handleNextDialog([&](QDialog& dialog) {
        statusWhilePrompting = run.view.statusText;
        return typePassword(QStringLiteral(" typed "))(dialog);
    });
    QVERIFY(run.tick());
    QCOMPARE(statusWhilePrompting, QStringLiteral("Starting"));
    QCOMPARE(run.desktop.shownDialogs, QStringList(QStringLiteral("PasswordEntry")));
    QVERIFY(server.receivedLines.contains("PASS  typed \r\n"));
    // The typed password is kept for the run, so the next check asks nothing.
    run.run.ProfileSettings.Interval = 0;
    QVERIFY(run.tick());
    QCOMPARE(run.desktop.shownDialogs.size(), 1);
}

void TestScheduler::wrongPasswordAsksAgainAtNextCheck()
{
    ScriptedPop3Server server;
    server.replies.insert("PASS",
                          ScriptedPop3Server::Response::reply("-ERR [AUTH] Authentication failed.\r\n"));
    MailCheckRig run(server.port());
    QVERIFY(run.tick());
    QCOMPARE(run.view.statusText, QStringLiteral("Cannot logon"));
    QVERIFY(run.desktop.shownDialogs.isEmpty());

    bool promptWasEmpty = false;
    run.desktop.handleNextDialog([&](QDialog& dialog) {
        auto* entry = qobject_cast<PasswordEntry*>(&dialog);
        promptWasEmpty = entry->findChild<QLineEdit*>(QStringLiteral("Text1"))->text().isEmpty();
        entry->findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("again"));
        entry->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
        return dialog.result();
    });
    QVERIFY(run.tick());
    QVERIFY(promptWasEmpty);
    QCOMPARE(server.receivedLines.last(), QByteArray("PASS again\r\n"));
}

void TestScheduler::promptClosedWithoutEntryStillChecks()
{
    ScriptedPop3Server server;
    server.replies.insert("PASS", ScriptedPop3Server::Response::reply("-ERR\r\n"));
    MailCheckRig run(server.port());
    run.run.ProfileSettings.Password.clear();
    run.desktop.handleNextDialog([](QDialog& dialog) {
        dialog.reject();
        return dialog.result();
    });
    QVERIFY(run.tick());
    QVERIFY(server.receivedLines.contains("PASS \r\n"));
    QCOMPARE(run.view.statusText, QStringLiteral("Cannot logon"));
}

void TestScheduler::promptShowsHashAndTakesTextUntrimmed()
{
    ProfileSettings settings;
    settings.UserName = QStringLiteral("alice");
    settings.ServerName = QStringLiteral("pop.example");
    PasswordEntry entry(settings);
    QCOMPARE(entry.windowTitle(), QStringLiteral("Enter password"));
    QCOMPARE(entry.findChild<QLineEdit*>(QStringLiteral("Text1"))->placeholderText(),
             QStringLiteral("Password for alice at pop.example"));
    QTest::keyClicks(entry.findChild<QLineEdit*>(QStringLiteral("Text1")), QStringLiteral("ab c"));
    QCOMPARE(entry.findChild<QLineEdit*>(QStringLiteral("Text1"))->displayText(), QStringLiteral("####"));
    entry.PasswordEntry_Command1_Click();
    QCOMPARE(settings.Password, QStringLiteral("ab c"));
}

void TestScheduler::checkWaitsForPasswordsFromKeyring()
{
    ScriptedPop3Server server;
    MailCheckRig run(server.port());
    run.run.ProfileSettings.Password.clear();
    run.run.ProfileSettings.PasswordStore = 1;
    run.run.PasswordsPending = true;
    run.check.start();
    // Not yet: the prompt (an unscripted dialog here) must not ask for a
    // password that is still on its way.
    QVERIFY(!run.tick());
    QCOMPARE(server.connections, 0);
    QVERIFY2(run.check.isTicking(), "a later tick tries again");

    run.run.ProfileSettings.Password = QStringLiteral("from the keyring");
    run.run.PasswordsPending = false;
    QVERIFY(run.tick());
    QVERIFY(server.receivedLines.contains("PASS from the keyring\r\n"));

    // The keyring takes longer passwords; so does the prompt for its profiles.
    PasswordEntry entry(run.run.ProfileSettings);
    QCOMPARE(entry.findChild<QLineEdit*>(QStringLiteral("Text1"))->maxLength(), 256);
}

void TestScheduler::profilePortIsUsedWithoutOverride()
{
    ScriptedPop3Server server;
    server.replies.insert("STAT", ScriptedPop3Server::Response::reply("+OK 2 10\r\n"));
    MailCheckRig run(0);
    run.run.ProfileSettings.Port = server.port();
    QVERIFY(run.checkOnce());
    QCOMPARE(run.view.statusText, QStringLiteral("2 message(s)"));
}

QTEST_MAIN(TestScheduler)
#include "tst_scheduler.moc"
