#include "scramblepassword.h"

#include <QtTest>

class TestScramblePassword : public QObject
{
    Q_OBJECT

private slots:
    void storedForm_data();
    void storedForm();
    void roundTrip_data();
    void roundTrip();
    void markers_data();
    void markers();
};

void TestScramblePassword::storedForm_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("stored");

    // 's' ^ 'q' = 0x02, '3' ^ '2' = 0x01, 'c' ^ 'm' = 0x0e, 'r' ^ '7' = 0x45 ...
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("s3cret") << "s3cret" << QString::fromLatin1("\x02\x01\x0e\x45\x1d\x40", 6);
    QTest::newRow("character equal to key gives marker") << "q"
                                                         << "X'00'";
    QTest::newRow("marker in the middle")
        << "a2b" << QString::fromLatin1("\x10", 1) + "X'00'" + QString::fromLatin1("\x0f", 1);
    QTest::newRow("8-bit character") << QString::fromLatin1("\xe4") << QString::fromLatin1("\x95");
}

void TestScramblePassword::storedForm()
{
    QFETCH(QString, plain);
    QFETCH(QString, stored);
    QCOMPARE(ScramblePassword(plain), stored);
    QCOMPARE(ScramblePassword(stored), plain);
}

void TestScramblePassword::roundTrip_data()
{
    QTest::addColumn<QString>("plain");

    QTest::newRow("25 characters") << "abcdefghijklmnopqrstuvwxy";
    QTest::newRow("the key itself") << "q2m7x4kz9w1p5rj8tn3vb6cyh";
    QTest::newRow("blanks and symbols") << " pass & word+= ";
    QTest::newRow("Latin-1") << QString::fromLatin1("\xfc\xdf\xe9\xff");
}

void TestScramblePassword::roundTrip()
{
    QFETCH(QString, plain);
    const QString stored = ScramblePassword(plain);
    QVERIFY(!stored.contains(QChar(0)));
    QCOMPARE(ScramblePassword(stored), plain);
}

void TestScramblePassword::markers_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("plain");

    QTest::newRow("two markers give the key's characters") << "X'00'X'00'"
                                                           << "q2";
    QTest::newRow("lowercase x is no marker") << "x'00'" << QString::fromLatin1("\x09\x15\x5d\x07\x5f", 5);
    // Longer than the key after the markers are folded: no key for the rest.
    QTest::newRow("26 characters give nothing") << QString(26, QLatin1Char('a')) << QString();
    QTest::newRow("long only before folding markers") << QStringLiteral("X'00'").repeated(6) << "q2m7x4";
}

void TestScramblePassword::markers()
{
    QFETCH(QString, stored);
    QFETCH(QString, plain);
    QCOMPARE(ScramblePassword(stored), plain);
}

QTEST_MAIN(TestScramblePassword)
#include "tst_scramblepassword.moc"
