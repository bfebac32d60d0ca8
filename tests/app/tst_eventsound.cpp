#include "eventsound.h"
#include "qtdesktop.h"

#include <QtTest>

namespace {

bool canberraLoaded()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libcanberra.so");
}

} // namespace

class TestEventSound : public QObject
{
    Q_OBJECT

private slots:
    void notLoadedBeforeTheFirstSound();
    void plays_data();
    void plays();
};

void TestEventSound::notLoadedBeforeTheFirstSound()
{
    QtDesktop desktop;
    QVERIFY(!canberraLoaded());
}

void TestEventSound::plays_data()
{
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<bool>("played");
    // tests/app/with-pulse.sh starts a private PulseAudio with a null sink.
    QTest::newRow("sound server") << qgetenv("POSTOWL_TEST_PULSE_SERVER") << true;
    QTest::newRow("no sound server") << QByteArray("unix:/nonexistent/postowl-test-pulse") << false;
}

void TestEventSound::plays()
{
    QFETCH(QByteArray, server);
    QFETCH(bool, played);
    if (server.isEmpty())
        QSKIP("no private sound server: run under tests/app/with-pulse.sh");
    // Read when the context first opens. PulseAudio alone, so that a sound
    // card of this machine cannot stand in for a missing server.
    qputenv("PULSE_SERVER", server);
    qputenv("CANBERRA_DRIVER", "pulse");

    EventSound sound;
    QSignalSpy finished(&sound, &EventSound::finished);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(sound.play());
    QVERIFY(!sound.play()); // still asking: the caller rings the bell instead
    QVERIFY(finished.wait(5000));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(finished.takeFirst().first().toBool(), played);
    QVERIFY(canberraLoaded());
    if (played) {
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")});
        QVERIFY(pactl.waitForFinished(5000));
        const QByteArray inputs = pactl.readAllStandardOutput();
        QVERIFY2(inputs.contains("event.id = \"message-new-email\"") &&
                     inputs.contains("application.name = \"PostOwl\""),
                 inputs.constData());
    }
    QVERIFY(sound.play()); // answered: the next sound is asked for
    QVERIFY(finished.wait(5000));
}

QTEST_MAIN(TestEventSound)
#include "tst_eventsound.moc"
