// Feeds whatever a server might send, cut into fuzzer-chosen pieces, to the
// IMAP response reader and session, playing the caller's part (handshake,
// IDLE, counting again), and checks what the session would send back.

#include "imapsession.h"
#include "saslmessage.h"

#include "fuzzcheck.h"

#include <QByteArray>

namespace {

// Only ever reading: nothing that changes a mailbox, no FETCH that sets \Seen.
bool readOnly(const QByteArray& line)
{
    QList<QByteArray> words = line.toUpper().split(' ');
    if (words.size() > 1 && words.at(1) == "UID")
        words.removeAt(1);
    const QByteArray command = words.value(1);
    for (const char* writer :
         {"SELECT", "STORE", "EXPUNGE", "COPY", "MOVE", "APPEND", "DELETE", "CREATE", "RENAME"}) {
        if (command == writer)
            return false;
    }
    return command != "FETCH" || line.toUpper().contains(".PEEK[");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    if (input.isEmpty())
        return 0;

    // Byte 0: the options (top four bits) and how many cuts follow, each one
    // byte long: the sizes of the pieces the server's bytes arrive in. The rest
    // is what the server sends.
    const quint8 head = quint8(input.at(0));
    ImapSession::Options options;
    options.userName = QStringLiteral("alice");
    options.password = QStringLiteral("pa55word");
    options.host = QStringLiteral("imap.example.org");
    options.startTls = head & 0x80;
    if (head & 0x40)
        options.bearerToken = QStringLiteral("b3arer");
    options.fetchHeaders = head & 0x20;
    options.tlsRequired = head & 0x10;
    options.uidMark = head & 0x08 ? 40 : 0;
    const int cuts = head % 8;
    int at = 1 + cuts;
    if (at > input.size())
        return 0;

    const QByteArray secrets[] = {
        "pa55word", "b3arer", SaslMessage::plain(options.userName, options.password).toBase64(),
        SaslMessage::xoauth2(options.userName, options.bearerToken).toBase64(),
        SaslMessage::oauthBearer(options.userName, options.host, options.port, options.bearerToken)
            .toBase64()};
    ImapSession session(options);
    bool tlsUp = false;
    bool awaitingHandshake = false;
    bool loginDisabledBefore = false; // as the session knew it when the step began
    auto check = [&](const ImapSession::Step& step, bool wasOver) {
        require(!wasOver || (step.send.isEmpty() && step.end == ImapSession::End::None));
        require(session.isOver() == (wasOver || step.end != ImapSession::End::None));
        require(step.end == ImapSession::End::None || !step.reason.isEmpty());
        for (const QByteArray& line : step.send.split('\n'))
            require(readOnly(line));
        // What was offered can only have changed within the step on a line naming CAPABILITY.
        bool offerUnchanged = true;
        for (const QByteArray& line : step.dialogue)
            offerUnchanged = offerUnchanged && !line.toUpper().contains("CAPABILITY");
        const bool loginDisabled =
            loginDisabledBefore && offerUnchanged && session.hasCapability("LOGINDISABLED");
        for (const QByteArray& secret : secrets) {
            // A secret only once the server may have it, and never in the dialogue.
            if (step.send.contains(secret))
                require((!options.startTls || tlsUp) && (!options.bearerToken.isEmpty() || !loginDisabled));
            for (const QByteArray& line : step.dialogue)
                require(!line.contains(secret));
        }
        // Nothing in the clear once STARTTLS is agreed, before the handshake.
        if (awaitingHandshake)
            require(step.send.isEmpty() && !step.startTls);
        if (step.startTls) {
            require(options.startTls && !tlsUp &&
                    (step.send.isEmpty() || step.send.endsWith("STARTTLS\r\n")));
            awaitingHandshake = true;
        }
        require(session.isOver() || session.bufferedSize() <= ImapParser::MaxResponseLength);
    };
    for (int piece = 0; at < input.size(); ++piece) {
        const int length = piece < cuts ? quint8(input.at(1 + piece)) + 1 : input.size() - at;
        bool wasOver = session.isOver();
        loginDisabledBefore = session.hasCapability("LOGINDISABLED");
        const ImapSession::Step step = session.received(input.mid(at, length));
        at += length;
        check(step, wasOver);
        // The caller's part: even pieces finish the handshake at once, odd ones
        // let the next bytes come first.
        if (awaitingHandshake && !session.isOver() && piece % 2 == 0) {
            awaitingHandshake = false;
            tlsUp = true;
            loginDisabledBefore = session.hasCapability("LOGINDISABLED");
            check(session.tlsStarted(), false);
        }
        wasOver = session.isOver();
        loginDisabledBefore = session.hasCapability("LOGINDISABLED");
        if (step.counted)
            require(step.count.headers.size() <= ImapSession::MaxHeaderFetch);
        if (step.counted || step.idleEnded)
            check(session.startIdle(), wasOver);
        else if (step.mailboxChanged)
            check(session.countAgain(options.uidMark), wasOver);
        else if (step.idling && piece % 3 == 0)
            check(session.stopIdle(), wasOver);
    }
    return 0;
}
