#include "imapsession.h"
#include "saslmessage.h"

#include <QtTest>

namespace {

// "starttls|headers|mark=43|user=..." over alice / s3cret, INBOX, no TLS.
ImapSession::Options optionsFrom(const QString& text)
{
    ImapSession::Options options;
    options.userName = QStringLiteral("alice");
    options.password = QStringLiteral("s3cret");
    options.host = QStringLiteral("imap.example.org");
    for (const QString& item : text.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const QString value = item.section(QLatin1Char('='), 1);
        if (item == QLatin1String("starttls"))
            options.startTls = true;
        else if (item == QLatin1String("tlsrequired"))
            options.tlsRequired = true;
        else if (item == QLatin1String("headers"))
            options.fetchHeaders = true;
        else if (item == QLatin1String("token"))
            options.bearerToken = QStringLiteral("tok3n");
        else if (item.startsWith(QLatin1String("mark=")))
            options.uidMark = value.toUInt();
        else if (item.startsWith(QLatin1String("user=")))
            options.userName = value;
        else if (item.startsWith(QLatin1String("pass=")))
            options.password = value;
        else if (item.startsWith(QLatin1String("folder=")))
            options.folder = value;
    }
    return options;
}

// The step as words, so a whole conversation compares as one line.
QStringList events(const ImapSession::Step& step)
{
    QStringList out;
    const std::pair<bool, const char*> flags[] = {{step.startTls, "starttls"},
                                                  {step.idling, "idling"},
                                                  {step.idleRefused, "idle-refused"},
                                                  {step.idleEnded, "idle-ended"},
                                                  {step.mailboxChanged, "changed"}};
    for (const auto& [on, name] : flags) {
        if (on)
            out << QLatin1String(name);
    }
    if (step.counted) {
        const ImapCount& c = step.count;
        QStringList uids, headers;
        for (quint32 uid : c.newestUids)
            uids << QString::number(uid);
        for (auto it = c.headers.begin(); it != c.headers.end(); ++it)
            headers << QString::number(it.key()) + ':' + QString::fromUtf8(it.value().toPercentEncoding());
        out << QStringLiteral("counted[exists=%1 unseen=%2 max=%3 valid=%4 next=%5 new=%6/%7 h=%8]")
                   .arg(c.exists)
                   .arg(c.unseen)
                   .arg(c.highestUnseenUid)
                   .arg(c.uidValidity)
                   .arg(c.uidNext)
                   .arg(c.newCount)
                   .arg(uids.join(','), headers.join(','));
    }
    if (step.end != ImapSession::End::None)
        out << QStringLiteral("end:") + QMetaEnum::fromType<ImapSession::End>().valueToKey(int(step.end)) +
                   (step.end == ImapSession::End::ProtocolError ? '(' + step.reason + ')' : QString());
    return out;
}

// A session only reads: nothing that changes a mailbox, no FETCH that sets \Seen.
bool forbidden(const QByteArray& line)
{
    const QRegularExpression writes(
        QStringLiteral("^\\S+ (UID )?(SELECT|STORE|EXPUNGE|COPY|MOVE|APPEND|DELETE)\\b|"
                       "^\\S+ (UID )?FETCH (?!.*\\.PEEK\\[)"),
        QRegularExpression::CaseInsensitiveOption);
    return writes.match(QString::fromUtf8(line)).hasMatch();
}

} // namespace

class TestImapSession : public QObject
{
    Q_OBJECT

private slots:
    void transcript_data();
    void transcript();
};

void TestImapSession::transcript_data()
{
    QTest::addColumn<QString>("options");
    // Steps apart by "|": "S: " the server sends the rest ("~" for CR LF inside
    // it) and CR LF; "C: " the next line the session sends; "D: " a line of its
    // dialogue; "> tls", "> idle", "> stop", "> count N" the caller's calls.
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("expected");

    const QString ok = QStringLiteral("S: * OK [CAPABILITY IMAP4rev1 IDLE] ready|");
    const QString login = QStringLiteral("C: a1 LOGIN \"alice\" \"s3cret\"|");
    const QString examine = QStringLiteral("C: a2 EXAMINE \"INBOX\"|S: * 5 EXISTS|S: * OK [UIDVALIDITY 7] v|"
                                           "S: * OK [UIDNEXT 46] n|S: a2 OK [READ-ONLY] done|");
    const QString counted = QStringLiteral("counted[exists=5 unseen=3 max=45 valid=7 next=46 new=%1 h=]");
    const QString loggedIn = ok + login + "S: a1 OK [CAPABILITY IMAP4rev1 ESEARCH] in|" + examine;
    const QString big = QStringLiteral("counted[exists=5 unseen=20000 max=20000 valid=7 next=46 new=%1 h=]");
    QStringList many; // 20000 unseen UIDs: ~120 KB on one line, past the line limit
    for (int uid = 1; uid <= 20000; ++uid)
        many << QString::number(uid);
    // clang-format off
    QTest::newRow("LOGIN quoted, then the plain search") << "user=a\"l\\ice|mark=43"
        << ok + "C: a1 LOGIN \"a\\\"l\\\\ice\" \"s3cret\"|D: a1 LOGIN \"a\\\"l\\\\ice\" ****|"
                "S: a1 OK [CAPABILITY IMAP4rev1] in|" + examine +
                "C: a3 UID SEARCH UNSEEN|S: * SEARCH 3 44 45|S: a3 OK"
        << counted.arg("2/44,45");
    QTest::newRow("LOGIN synchronizing literals for 8-bit text") << "user=ålice|pass=pässword"
        << ok + "C: a1 LOGIN {6}|S: + go|C: ålice {9}|D: ålice ****|S: + go|C: pässword|D: ****|"
                "S: a1 NO [AUTHENTICATIONFAILED] no"
        << "end:LoginRefused";
    QTest::newRow("LOGIN with LITERAL+") << "user=ålice"
        << "S: * OK [CAPABILITY IMAP4rev1 LITERAL+] hi|C: a1 LOGIN {6+}|C: ålice \"s3cret\"" << "";
    QTest::newRow("PLAIN with SASL-IR, capabilities asked after login, ESEARCH") << "mark=43"
        << "S: * OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] hi|C: a1 AUTHENTICATE PLAIN AGFsaWNlAHMzY3JldA==|"
           "D: a1 AUTHENTICATE PLAIN ****|S: a1 OK in|C: a2 CAPABILITY|S: * CAPABILITY IMAP4rev1 ESEARCH|S: a2 OK|"
           + QString(examine).replace("a2 ", "a3 ") + "C: a4 UID SEARCH RETURN (COUNT MAX) UNSEEN|"
           "S: * ESEARCH (TAG \"a4\") UID COUNT 3 MAX 45|S: a4 OK|C: a5 UID SEARCH RETURN (ALL) UNSEEN UID 44:*|"
           "S: * ESEARCH (TAG \"a5\") UID ALL 40,45|S: a5 OK"
        << counted.arg("1/45");
    QTest::newRow("PLAIN waits for the continuation") << ""
        << "S: * OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] hi|C: a1 AUTHENTICATE PLAIN|S: +|C: AGFsaWNlAHMzY3JldA==|"
           "D: ****|S: a1 NO wrong"
        << "end:LoginRefused";
    QTest::newRow("no password under LOGINDISABLED") << ""
        << "S: * OK [CAPABILITY IMAP4rev1 LOGINDISABLED AUTH=PLAIN] hi" << "end:LoginImpossible";
    QTest::newRow("line break in the password") << "pass=s3\r\ncret" << ok << "end:LoginImpossible";
    QTest::newRow("STARTTLS refused") << "starttls" << "S: * OK hi|C: a1 STARTTLS|S: a1 NO not today"
        << "end:StartTlsRefused";
    QTest::newRow("STARTTLS not offered") << "starttls" << ok << "end:StartTlsRefused";
    QTest::newRow("byte injected behind the STARTTLS answer") << "starttls"
        << "S: * OK hi|C: a1 STARTTLS|S: a1 OK go~x"
        << "end:ProtocolError(The server sent more after agreeing to STARTTLS, before the TLS handshake.)";
    QTest::newRow("STARTTLS forgets what was offered in the clear") << "starttls"
        << "S: * OK [CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED] hi|C: a1 STARTTLS|"
           "S: a1 OK [CAPABILITY IMAP4rev1 LOGINDISABLED] go|> tls|C: a2 CAPABILITY|"
           "S: * CAPABILITY IMAP4rev1 AUTH=PLAIN|S: a2 OK|C: a3 AUTHENTICATE PLAIN"
        << "starttls";
    QTest::newRow("PREAUTH where TLS is required") << "tlsrequired" << "S: * PREAUTH [CAPABILITY IMAP4rev1] hi"
        << "end:TlsRequired";
    QTest::newRow("reply with an unknown tag") << "" << "S: * OK hi|C: a1 CAPABILITY|S: a7 OK"
        << "end:ProtocolError(The server answered a command that was never sent.)";
    QTest::newRow("BYE") << "" << "S: * BYE going down" << "end:ServerClosed";
    QTest::newRow("line limit") << "" << "S: * OK " + QString(70000, 'x')
        << "end:ProtocolError(The server sent a line longer than 65536 octets.)";
    QTest::newRow("literal limit") << "" << "S: * 1 FETCH (BODY[] {1048577}"
        << "end:ProtocolError(The server sent a literal longer than 1048576 octets.)";
    QTest::newRow("nesting limit") << ""
        << "S: * OK hi|C: a1 CAPABILITY|S: * X " + QString(32, '(') + QString(32, ')') +
           "|S: a1 OK|C: a2 LOGIN \"alice\" \"s3cret\"|" +
           "S: * X " + QString(33, '(')
        << "end:ProtocolError(The server sent lists nested deeper than 32.)";
    QTest::newRow("number limit") << ""
        << "S: * OK hi|C: a1 CAPABILITY|S: * 4294967295 EXISTS|S: a1 OK|C: a2 LOGIN \"alice\" \"s3cret\"|"
           "S: * 4294967296 EXISTS"
        << "end:ProtocolError(The server sent a number above 4294967295.)";
    QTest::newRow("headers of the newest three, literals, folder in modified UTF-7")
        << "headers|mark=2|folder=Entwürfe"
        << ok + login + "S: a1 OK [CAPABILITY IMAP4rev1] in|C: a2 EXAMINE \"Entw&APw-rfe\"|S: * 5 EXISTS|S: a2 OK|"
           "C: a3 UID SEARCH UNSEEN|S: * SEARCH 47 3 45 46 44|S: a3 OK|"
           "C: a4 UID FETCH 45,46,47 (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])|"
           "S: * 4 FETCH (UID 45 BODY[HEADER.FIELDS (FROM SUBJECT)] {15}~Subject: hi~~)|"
           "S: * 5 FETCH (BODY[HEADER.FIELDS (FROM)] {3}~abc BODY[HEADER.FIELDS (X)] {2}~de UID 46)|"
           "S: * 6 FETCH (FLAGS (\\Seen) UID 3 BODY[] \"not asked\")|S: a4 OK"
        << "counted[exists=5 unseen=5 max=47 valid=0 next=0 new=5/45,46,47 "
           "h=45:Subject%3A%20hi%0D%0A%0D%0A,46:de]";
    QTest::newRow("IDLE: change, DONE, count again; ended by the server; stopped; refused") << "mark=45"
        << "S: * OK [CAPABILITY IMAP4rev1 IDLE ESEARCH] hi|" + login +
           "S: a1 OK [CAPABILITY IMAP4rev1 IDLE ESEARCH] in|"
           + examine + "C: a3 UID SEARCH RETURN (COUNT MAX) UNSEEN|S: * ESEARCH UID COUNT 3 MAX 45|S: a3 OK|"
           "> idle|C: a4 IDLE|S: + idling|S: * 46 EXISTS|> count 45|C: DONE|S: * 47 EXISTS|S: a4 OK done|"
           "C: a5 UID SEARCH RETURN (COUNT MAX) UNSEEN|S: * ESEARCH (TAG \"a5\") UID COUNT 4 MAX 47|S: a5 OK|"
           "C: a6 UID SEARCH RETURN (ALL) UNSEEN UID 46:*|S: * ESEARCH (TAG \"a6\") UID ALL 47:46|S: a6 OK|"
           "> idle|C: a7 IDLE|S: +|S: a7 OK timeout|> idle|C: a8 IDLE|S: +|> stop|C: DONE|S: a8 OK|"
           "> idle|C: a9 IDLE|S: a9 NO not now"
        << counted.arg("0/") + " idling changed counted[exists=47 unseen=4 max=47 valid=7 next=46 new=2/46,47 h=] "
           "idling idle-ended idling idle-ended idle-refused";
    QTest::newRow("SEARCH of 20000 UIDs, in pieces") << "mark=19990"
        << QString(loggedIn).replace(" ESEARCH", "") + "C: a3 UID SEARCH UNSEEN|S: * SEARCH " + many.join(' ') +
           "|S: a3 OK"
        << big.arg("10/19998,19999,20000");
    for (const QString& all : {QStringLiteral("1:20000"), many.join(',')})
        QTest::newRow(qPrintable("ESEARCH ALL, " + QString::number(all.size()) + " octets")) << ""
            << loggedIn + "C: a3 UID SEARCH RETURN (COUNT MAX) UNSEEN|"
               "S: * ESEARCH (TAG \"a3\") UID COUNT 20000 MAX 20000|S: a3 OK|"
               "C: a4 UID SEARCH RETURN (ALL) UNSEEN UID 1:*|S: * ESEARCH (TAG \"a4\") UID ALL " + all + "|S: a4 OK"
            << big.arg("20000/19998,19999,20000");
    QTest::newRow("SEARCH past the line limit with a letter in it") << ""
        << "S: * SEARCH " + many.join(' ') + " 7x"
        << "end:ProtocolError(The server sent a line longer than 65536 octets.)";
    QTest::newRow("OAUTHBEARER failure challenge") << "token"
        << "S: * OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2 AUTH=OAUTHBEARER SASL-IR] hi|C: a1 AUTHENTICATE OAUTHBEARER "
           "bixhPWFsaWNlLAFob3N0PWltYXAuZXhhbXBsZS5vcmcBcG9ydD0xNDMBYXV0aD1CZWFyZXIgdG9rM24BAQ==|"
           "D: a1 AUTHENTICATE OAUTHBEARER ****|S: + eyJzdGF0dXMiOiI0MDEifQ==|C: AQ==|"
           "S: a1 NO [AUTHENTICATIONFAILED] expired"
        << "end:TokenRefused";
    QTest::newRow("XOAUTH2 without SASL-IR") << "token"
        << "S: * OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] hi|C: a1 AUTHENTICATE XOAUTH2|S: + |"
           "C: dXNlcj1hbGljZQFhdXRoPUJlYXJlciB0b2szbgEB|D: ****|S: + eyJzdGF0dXMiOiI0MDEifQ==|C: |S: a1 NO expired"
        << "end:TokenRefused";
    // clang-format on
}

void TestImapSession::transcript()
{
    QFETCH(QString, options);
    QFETCH(QString, lines);
    QFETCH(QString, expected);

    const ImapSession::Options settings = optionsFrom(options);
    ImapSession session(settings);
    QList<QByteArray> sent;
    QList<QByteArray> dialogue;
    QByteArray server;
    QStringList log;
    auto take = [&](const ImapSession::Step& step) {
        sent += step.send.split('\n');
        sent.removeAll(QByteArray());
        dialogue += step.dialogue;
        log += events(step);
    };
    for (const QString& line : lines.split('|')) {
        const QByteArray text = line.mid(3).toUtf8().replace('~', "\r\n");
        if (line.startsWith(QLatin1String("S: "))) {
            server += text + "\r\n";
            take(session.received(text + "\r\n"));
        } else if (line.startsWith(QLatin1String("C: "))) {
            QVERIFY2(!sent.isEmpty(), text);
            QCOMPARE(sent.takeFirst(), text + '\r');
        } else if (line.startsWith(QLatin1String("D: "))) {
            QVERIFY2(dialogue.contains(text), text);
        } else if (line == QLatin1String("> tls")) {
            take(session.tlsStarted());
        } else if (line == QLatin1String("> stop")) {
            take(session.stopIdle());
        } else if (line == QLatin1String("> idle")) {
            take(session.startIdle());
        } else if (line.startsWith(QLatin1String("> count "))) {
            take(session.countAgain(line.mid(8).toUInt()));
        }
    }
    QCOMPARE(sent, QList<QByteArray>());
    QCOMPARE(log.join(' '), expected);

    // Never a secret in the dialogue, never a command that changes the mailbox.
    const QByteArray secrets[] = {
        settings.password.toUtf8(), SaslMessage::plain(settings.userName, settings.password).toBase64(),
        SaslMessage::xoauth2(settings.userName, QStringLiteral("tok3n")).toBase64(),
        SaslMessage::oauthBearer(settings.userName, settings.host, settings.port, QStringLiteral("tok3n"))
            .toBase64(),
        "tok3n"};
    for (const QByteArray& line : dialogue) {
        QVERIFY2(!forbidden(line), line);
        for (const QByteArray& secret : secrets)
            QVERIFY2(!line.contains(secret), line);
    }

    // The same bytes one by one, or (up to 4 KB) cut at any point, make the same conversation.
    const bool interactive =
        options.contains(QLatin1String("starttls")) || lines.contains(QLatin1String("|> "));
    if (interactive)
        return;
    auto replay = [&](const QList<QByteArray>& pieces) {
        ImapSession again(settings);
        QByteArray out;
        QStringList said;
        for (const QByteArray& piece : pieces) {
            const ImapSession::Step step = again.received(piece);
            out += step.send;
            said += events(step);
        }
        return qMakePair(out, said.join(' '));
    };
    const auto whole = replay({server});
    QCOMPARE(whole.second, expected);
    QList<QByteArray> bytes;
    for (char c : server)
        bytes.append(QByteArray(1, c));
    QCOMPARE(replay(bytes), whole);
    for (int cut = 1; cut < server.size() && server.size() <= 4096; ++cut)
        QCOMPARE(replay({server.left(cut), server.mid(cut)}), whole);
}

QTEST_APPLESS_MAIN(TestImapSession)
#include "tst_imapsession.moc"
