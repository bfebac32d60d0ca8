#include "fakeclock.h"
#include "fakedesktop.h"
#include "generalstuff.h"
#include "newmailnotification.h"
#include "recordingview.h"
#include "statuscolors.h"

#include <QtTest>

namespace {

struct NotificationRun
{
    NotificationRun() : notification(run, clock, desktop, view)
    {
        ProfileSettings& settings = run.ProfileSettings;
        settings.NameInBar = QStringLiteral("Home");
        settings.PlaySound = 1;
        settings.NotifyOnce = 1;
    }

    GeneralStuff run;
    FakeClock clock;
    FakeDesktop desktop;
    RecordingView view;
    NewMailNotification notification;
};

} // namespace

class TestNotification : public QObject
{
    Q_OBJECT

private slots:
    void showsCount_data();
    void showsCount();
    void notifyOnce_data();
    void notifyOnce();
    void notificationPlayingTheSoundReplacesTheBeep();
    void smsOnlyWhenAllFieldsSet_data();
    void smsOnlyWhenAllFieldsSet();
    void readerStart_data();
    void readerStart();
    void nestedCheckWhileQuestionOpen();
    void smsSeesThisChecksCount();
};

void TestNotification::showsCount_data()
{
    QTest::addColumn<QString>("nameInBar");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<QStringList>("announced"); // on the desktop and the phone

    QTest::newRow("three") << "Home" << 3 << "3 message(s)"
                           << "Home - 3 message(s)" << StatusColors::mailWaiting()
                           << QStringList{"Home - 3 message(s)"};
    QTest::newRow("one") << "Home" << 1 << "1 message(s)"
                         << "Home - 1 message(s)" << StatusColors::mailWaiting()
                         << QStringList{"Home - 1 message(s)"};
    QTest::newRow("three, empty description")
        << "" << 3 << "3 message(s)"
        << " - 3 message(s)" << StatusColors::mailWaiting() << QStringList{"3 message(s)"};
    QTest::newRow("none, empty description") << "" << 0 << "No messages"
                                             << " - No messages" << StatusColors::failure() << QStringList();
}

void TestNotification::showsCount()
{
    QFETCH(QString, nameInBar);
    QFETCH(int, count);
    QFETCH(QString, status);
    QFETCH(QString, title);
    QFETCH(QColor, color);
    QFETCH(QStringList, announced);

    NotificationRun run;
    run.run.ProfileSettings.NameInBar = nameInBar;
    run.clock.current = QDateTime(QDate(2026, 12, 8), QTime(23, 58, 1));
    run.notification.handleCount(count);
    QCOMPARE(run.view.statusText, status);
    QCOMPARE(run.view.title, title);
    QCOMPARE(run.view.statusColor, color);
    QCOMPARE(run.view.mailIcon, count != 0);
    QCOMPARE(run.view.trayUpdates, 1);
    QCOMPARE(run.run.LastCheckTime, run.clock.current);
    QCOMPARE(run.run.LastMessageCount, count);
    QCOMPARE(run.desktop.beeps, count != 0 ? 1 : 0);
    QCOMPARE(run.view.announcements, announced);
}

void TestNotification::notifyOnce_data()
{
    QTest::addColumn<bool>("notifyOnce");
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<QList<int>>("notifiedAfterEach");
    QTest::addColumn<bool>("sound");
    // A watched IMAP folder: whether new mail arrived with each count (1), or not (0).
    QTest::addColumn<QList<int>>("arrivals");

    QTest::newRow("once: 2 2 3 0 3") << true << QList<int>{2, 2, 3, 0, 3} << QList<int>{1, 1, 2, 2, 3} << true
                                     << QList<int>{};
    QTest::newRow("always: 2 2") << false << QList<int>{2, 2} << QList<int>{1, 2} << true << QList<int>{};
    QTest::newRow("once: 0 then mail")
        << true << QList<int>{0, 1} << QList<int>{0, 1} << true << QList<int>{};
    // Without the beep the desktop notification and the push keep the rule all the same.
    QTest::newRow("once, no sound: 2 2 3")
        << true << QList<int>{2, 2, 3} << QList<int>{1, 1, 2} << false << QList<int>{};
    // Arrivals, not counts: mail read elsewhere lowers the count quietly, and
    // a new message notifies even where the count comes back to the same.
    QTest::newRow("IMAP once: 3 2 2 3")
        << true << QList<int>{3, 2, 2, 3} << QList<int>{1, 1, 2, 3} << true << QList<int>{1, 0, 1, 1};
    QTest::newRow("IMAP always: 3 3")
        << false << QList<int>{3, 3} << QList<int>{1, 2} << true << QList<int>{1, 0};
}

void TestNotification::notifyOnce()
{
    QFETCH(bool, notifyOnce);
    QFETCH(QList<int>, counts);
    QFETCH(QList<int>, notifiedAfterEach);
    QFETCH(bool, sound);
    QFETCH(QList<int>, arrivals);

    NotificationRun run;
    run.run.ProfileSettings.NotifyOnce = notifyOnce ? 1 : 0;
    run.run.ProfileSettings.PlaySound = sound ? 1 : 0;
    for (int i = 0; i < counts.size(); ++i) {
        if (arrivals.isEmpty())
            run.notification.handleCount(counts.at(i));
        else
            run.notification.handleCount(counts.at(i), arrivals.at(i) == 1);
        QCOMPARE(run.desktop.beeps, sound ? notifiedAfterEach.at(i) : 0);
        QCOMPARE(run.view.announcements.size(), notifiedAfterEach.at(i));
    }
}

void TestNotification::notificationPlayingTheSoundReplacesTheBeep()
{
    // Where the service does not play it (every other test here) the beep sounds.
    NotificationRun run;
    run.view.playsSound = true;
    run.notification.handleCount(2, true, QStringLiteral("Ann - Hi"));
    run.run.ProfileSettings.PlaySound = 0;
    run.notification.handleCount(3, true);
    QCOMPARE(run.desktop.beeps, 0);
    QCOMPARE(run.view.announcedWithSound, (QList<bool>{true, false}));
    QCOMPARE(run.view.announcedSenders, (QStringList{QStringLiteral("Ann - Hi"), QString()}));
}

void TestNotification::smsOnlyWhenAllFieldsSet_data()
{
    QTest::addColumn<QString>("mobile");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("sms");

    QTest::newRow("all set") << "+41790000000"
                             << "me"
                             << "pw" << 1;
    QTest::newRow("mobile blanks only") << "   "
                                        << "me"
                                        << "pw" << 0;
    QTest::newRow("user empty") << "+41790000000"
                                << ""
                                << "pw" << 0;
    QTest::newRow("password blanks only") << "+41790000000"
                                          << "me"
                                          << "  " << 0;
}

void TestNotification::smsOnlyWhenAllFieldsSet()
{
    QFETCH(QString, mobile);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, sms);

    NotificationRun run;
    run.run.ProfileSettings.SMSMobile = mobile;
    run.run.ProfileSettings.SMSUserID = user;
    run.run.ProfileSettings.SMSPassword = password;
    run.notification.handleCount(4);
    QCOMPARE(run.view.smsSent, sms);
    run.notification.handleCount(0);
    QCOMPARE(run.view.smsSent, sms);
}

void TestNotification::readerStart_data()
{
    QTest::addColumn<quint8>("startReader");
    QTest::addColumn<quint8>("askBefore");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<int>("questions");
    QTest::addColumn<int>("starts");

    QTest::newRow("no reader") << quint8(0) << quint8(1) << QMessageBox::Yes << 0 << 0;
    QTest::newRow("start at once") << quint8(1) << quint8(0) << QMessageBox::Yes << 0 << 1;
    QTest::newRow("ask, yes") << quint8(1) << quint8(1) << QMessageBox::Yes << 1 << 1;
    QTest::newRow("ask, no") << quint8(1) << quint8(1) << QMessageBox::No << 1 << 0;
}

void TestNotification::readerStart()
{
    QFETCH(quint8, startReader);
    QFETCH(quint8, askBefore);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(int, questions);
    QFETCH(int, starts);

    NotificationRun run;
    run.run.ProfileSettings.StartReader = startReader;
    run.run.ProfileSettings.AskBefore = askBefore;
    if (questions)
        run.desktop.answerNext(answer);
    run.notification.handleCount(2);
    QCOMPARE(run.desktop.messages.size(), questions);
    if (questions) {
        const FakeDesktop::Message& asked = run.desktop.messages.first();
        QCOMPARE(asked.text, QStringLiteral("Do you want to start your mail reader ?"));
        QCOMPARE(asked.title, QStringLiteral("PostOwl 1.5"));
        QCOMPARE(asked.icon, QMessageBox::Question);
        QCOMPARE(asked.defaultButton, QMessageBox::Yes);
    }
    QCOMPARE(run.view.readerStarts, starts);
    QVERIFY(!run.run.ReaderQuestionOpen);
}

void TestNotification::nestedCheckWhileQuestionOpen()
{
    NotificationRun run;
    run.run.ProfileSettings.StartReader = 1;
    run.run.ProfileSettings.AskBefore = 1;
    bool openDuringQuestion = false;
    run.desktop.answerNextWith([&](const FakeDesktop::Message&) {
        openDuringQuestion = run.run.ReaderQuestionOpen;
        // A check completes while the question waits: it shows its count but
        // neither asks again nor starts the reader.
        run.notification.handleCount(5);
        return QMessageBox::No;
    });
    run.notification.handleCount(2);
    QVERIFY(openDuringQuestion);
    QCOMPARE(run.desktop.messages.size(), 1);
    QCOMPARE(run.view.readerStarts, 0);
    QCOMPARE(run.view.statusText, QStringLiteral("5 message(s)"));
    QCOMPARE(run.desktop.beeps, 2);
    QCOMPARE(run.run.LastMessageCount, 5);
    QVERIFY(!run.run.ReaderQuestionOpen);
}

void TestNotification::smsSeesThisChecksCount()
{
    // The SMS text is composed from LastMessageCount; it must hold this
    // check's count by the time the SMS is started, while the notify-once
    // test still compared with the previous one.
    struct CountingView : RecordingView
    {
        explicit CountingView(const GeneralStuff& run) : run(run) {}
        void SendSMSNotify() override { countsSeen.append(run.LastMessageCount); }
        const GeneralStuff& run;
        QList<int> countsSeen;
    };
    GeneralStuff run;
    run.ProfileSettings.SMSMobile = QStringLiteral("+41790000000");
    run.ProfileSettings.SMSUserID = QStringLiteral("me");
    run.ProfileSettings.SMSPassword = QStringLiteral("pw");
    FakeClock clock;
    FakeDesktop desktop;
    CountingView view(run);
    NewMailNotification notification(run, clock, desktop, view);
    notification.handleCount(3);
    notification.handleCount(3);
    notification.handleCount(7);
    QCOMPARE(view.countsSeen, QList<int>({3, 7}));
}

QTEST_MAIN(TestNotification)
#include "tst_notification.moc"
