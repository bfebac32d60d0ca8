// Feeds whatever a server might send, cut into fuzzer-chosen pieces, to the
// POP3 line reader and state machine, and checks what it would send back,
// with and without STLS before the login.

#include "pop3session.h"

#include "fuzzcheck.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));

    // Whatever the reply, the count is a plain non-negative number.
    require(Pop3Session::countFromStatReply(input) >= 0);

    // Byte 0 says how many cuts follow, each one byte long: the sizes of the
    // pieces the server's bytes arrive in; its top bit asks for STLS. The rest
    // is what the server sends.
    const int cuts = input.isEmpty() ? 0 : quint8(input.at(0)) % 8;
    const bool stls = !input.isEmpty() && (quint8(input.at(0)) & 0x80);
    int at = 1 + cuts;
    if (at > input.size())
        return 0;

    Pop3Session session;
    session.connected({QStringLiteral("alice"), QStringLiteral("s3cret")}, stls);

    const QByteArray plain[] = {"USER alice\r\n", "PASS s3cret\r\n", "STAT\r\n"};
    const QByteArray secured[] = {"STLS\r\n", "USER alice\r\n", "PASS s3cret\r\n", "STAT\r\n"};
    const QByteArray* expected = stls ? secured : plain;
    const int commands = stls ? 4 : 3;
    int sent = 0;
    bool tlsUp = false;
    // Only the expected commands, in their order, each once; nothing after the
    // end; and with STLS no login before the handshake.
    auto check = [&](const QByteArray& send, bool wasOver) {
        QByteArray rest = send;
        while (!rest.isEmpty()) {
            require(!wasOver && sent < commands && rest.startsWith(expected[sent]));
            require(!stls || sent == 0 || tlsUp);
            rest.remove(0, expected[sent].size());
            ++sent;
        }
    };
    for (int piece = 0; at < input.size(); ++piece) {
        const int length = piece < cuts ? quint8(input.at(1 + piece)) + 1 : input.size() - at;
        const bool wasOver = session.isOver();
        Pop3Session::Step step = session.received(input.mid(at, length));
        at += length;
        check(step.send, wasOver);
        if (step.startTls) {
            // STLS was accepted: nothing else may be said in the clear.
            require(stls && !tlsUp && step.end == Pop3Session::End::None && !step.send.contains("USER"));
            tlsUp = true;
            step = session.tlsStarted();
            check(step.send, false);
        }
        require(step.count >= 0);
        require(step.end == Pop3Session::End::None || !wasOver);
        require(step.end != Pop3Session::End::StlsRefused || stls);
        const int state = int(session.Pop3State());
        require(state >= 1 && state <= (stls ? 6 : 4));
        require(session.isOver() == (wasOver || step.end != Pop3Session::End::None));
    }
    require(session.result().greeting.size() <= Pop3Session::MaxReplyLength);
    return 0;
}
