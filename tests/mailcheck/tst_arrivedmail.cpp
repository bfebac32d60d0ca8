#include "arrivedmail.h"

#include <QtTest>

class TestArrivedMail : public QObject
{
    Q_OBJECT

private slots:
    void notificationBody_data();
    void notificationBody();
};

void TestArrivedMail::notificationBody_data()
{
    QTest::addColumn<QList<QByteArray>>("headers"); // newest first
    QTest::addColumn<int>("newCount");
    QTest::addColumn<QString>("body");
    const auto one = [](const char* name, const QByteArray& header, const QString& line) {
        QTest::newRow(name) << QList<QByteArray>{header} << 1 << line;
    };

    one("B, UTF-8", "From: =?UTF-8?B?SsO2cmc=?= <j@x>\r\nSubject: =?utf-8?b?R3LDvMOfZQ==?=\r\n",
        u"Jörg — Grüße"_qs);
    one("Q, ISO-8859-1", "Subject: =?iso-8859-1?q?Caf=E9_cr=E8me?=\r\nFrom: bob@x\r\n",
        u"bob@x — Café crème"_qs);
    one("Q, ISO-8859-2", "From: a@x\r\nSubject: =?ISO-8859-2?Q?=A3=F3d=BC?=\r\n", u"a@x — Łódź"_qs);
    one("adjacent words, a character split across them, folded",
        "From: a@x\r\nSubject: =?utf-8?q?=C3?=\r\n =?UTF-8?Q?=A9t=C3=A9?= x =?utf-8?q?y?==?utf-8?q?z?=\r\n",
        u"a@x — été x yz"_qs);
    one("words in two charsets", "From: a@x\r\nSubject: =?utf-8?q?=C3=A9?= =?iso-8859-1?q?=E9?=\r\n",
        u"a@x — éé"_qs);
    one("unknown charset left as it came", "From: a@x\r\nSubject: =?x-klingon?q?abc?= =?utf-8?q?d?=\r\n",
        u"a@x — =?x-klingon?q?abc?=d"_qs);
    one("bare Latin-1 and UTF-8 bytes", "From: J\xf6rg <j@x>\r\nSubject: Gr\xc3\xbc\xc3\x9f\x65\r\n",
        u"Jörg — Grüße"_qs);
    one("folded, names in any case, quoted name with a comma, first mailbox",
        "subject: Hello\r\n\tworld\r\nFROM: \"Doe, Jane\"\r\n <jane@x>, bob@y\r\n\r\nSubject: late",
        u"Doe, Jane — Hello world"_qs);
    one("escaped quote in a name", "From: \"Jane \\\"JD\\\" Doe\" <jane@x>\r\nSubject: s\r\n",
        u"Jane \"JD\" Doe — s"_qs);
    one("address only, in brackets", "From: <jane@x>\r\nSubject: s\r\n", u"jane@x — s"_qs);
    one("old style name in a comment", "From: jane@x (Jane Doe)\r\nSubject: s\r\n", u"Jane Doe — s"_qs);
    one("comment beside a name", "From: Jane (at work, (really)) <jane@x>\r\nSubject: s\r\n", u"Jane — s"_qs);
    one("group name skipped", "From: Team: =?utf-8?q?Ann?= <ann@x>, bob@x;\r\nSubject: s\r\n", u"Ann — s"_qs);
    one("controls, C1 and bidi formatting removed",
        "From: \xe2\x80\x8f\xe2\x81\xa6"
        "Eve\xe2\x81\xa9 <e@x>\r\nSubject: Invoice\x01\x7f \xe2\x80\xae "
        "gpj.exe\xe2\x80\xac\xc2\x85\xd8\x9c"
        "end\xc2\x9b[31m \t\r\n",
        u"Eve — Invoice gpj.exe end[31m"_qs);
    one("long subject cut on the line", "From: a@x\r\nSubject: " + QByteArray(100, 'x'),
        u"a@x — "_qs + QString(73, u'x') + u'…');
    one("cut never splits a surrogate pair",
        "From: a@x\r\nSubject: " + QByteArray(72, 'x') + "\xf0\x9f\x98\x80" + QByteArray(20, 'y'),
        u"a@x — "_qs + QString(72, u'x') + u'…');
    one("long sender keeps room for the subject", "From: " + QByteArray(60, 's') + "\r\nSubject: hi",
        QString(39, u's') + u"… — hi"_qs);
    one("neither From nor Subject", "X-Other: x\r\n", u"(unknown sender) — (no subject)"_qs);
    const QByteArray starts = QByteArray("=?a?q?").repeated(200000);
    one("a megabyte of unfinished words", "From: a@x\r\nSubject: " + starts,
        u"a@x — "_qs + QString::fromLatin1(starts.left(73)) + u'…');

    const QList<QByteArray> five{"From: e@x\r\nSubject: 5", "From: d@x\r\nSubject: 4",
                                 "From: c@x\r\nSubject: 3", "From: b@x\r\nSubject: 2",
                                 "From: a@x\r\nSubject: 1"};
    QTest::newRow("three of three") << five.mid(2) << 3 << u"c@x — 3\nb@x — 2\na@x — 1"_qs;
    QTest::newRow("three of five") << five << 5 << u"e@x — 5\nd@x — 4\nc@x — 3\nand 2 more"_qs;
    QTest::newRow("one header of four") << five.mid(0, 1) << 4 << u"e@x — 5\nand 3 more"_qs;
    QTest::newRow("no header") << QList<QByteArray>() << 2 << u"2 new message(s)"_qs;
}

void TestArrivedMail::notificationBody()
{
    QFETCH(QList<QByteArray>, headers);
    QFETCH(int, newCount);
    QFETCH(QString, body);

    QList<ArrivedMail> mails;
    for (const QByteArray& header : headers)
        mails += ArrivedMail::fromHeader(header);
    QCOMPARE(ArrivedMail::notificationBody(mails, newCount), body);
}

QTEST_GUILESS_MAIN(TestArrivedMail)
#include "tst_arrivedmail.moc"
