// Feeds whatever a server might send, cut into fuzzer-chosen pieces, to the
// POP3 line reader and state machine, and checks what it would send back.

#include "generalstuff.h"
#include "pop3session.h"

#include "fuzzcheck.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));

    // Whatever the reply, the count is a plain non-negative number.
    require(Pop3Session::countFromStatReply(input) >= 0);

    // Byte 0 says how many cuts follow, each one byte long: the sizes of the
    // pieces the server's bytes arrive in. The rest is what the server sends.
    const int cuts = input.isEmpty() ? 0 : quint8(input.at(0)) % 8;
    int at = 1 + cuts;
    if (at > input.size())
        return 0;

    GeneralStuff run;
    run.ProfileSettings.UserName = QStringLiteral("alice");
    run.ProfileSettings.Password = QStringLiteral("s3cret");
    Pop3Session session(run);
    session.connected();

    const QByteArray expected[] = {"USER alice\r\n", "PASS s3cret\r\n", "STAT\r\n"};
    int sent = 0;
    for (int piece = 0; at < input.size(); ++piece) {
        const int length = piece < cuts ? quint8(input.at(1 + piece)) + 1 : input.size() - at;
        const bool wasOver = session.isOver();
        const Pop3Session::Step step = session.received(input.mid(at, length));
        at += length;

        // Only the three commands, in their order, each once; nothing after the end.
        QByteArray rest = step.send;
        while (!rest.isEmpty()) {
            require(!wasOver && sent < 3 && rest.startsWith(expected[sent]));
            rest.remove(0, expected[sent].size());
            ++sent;
        }
        require(step.count >= 0);
        require(step.end == Pop3Session::End::None || !wasOver);
        require(session.Pop3State() >= 1 && session.Pop3State() <= 4);
        require(session.isOver() == (wasOver || step.end != Pop3Session::End::None));
    }
    require(run.ServerGreeting.size() <= Pop3Session::MaxReplyLength);
    return 0;
}
