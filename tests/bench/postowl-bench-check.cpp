// One check's latency through PostOwl's own POP3 conversation: from the
// connect to the count of the STAT reply, repeated on one running program.
//
//   postowl-bench-check PORT USER PASSWORD RUNS [CAFILE]
//
// With CAFILE the check speaks TLS from the first byte (POP3S) and trusts the
// authorities in that file besides the system's.
//
// Prints one line a run: microseconds and the count. Exit status 1 when a
// conversation fails.

#include "generalstuff.h"
#include "pop3conversation.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSslCertificate>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: postowl-bench-check PORT USER PASSWORD RUNS [CAFILE]\n");
        return 2;
    }
    const quint16 port = quint16(QString::fromLocal8Bit(argv[1]).toUInt());
    const int runs = QString::fromLocal8Bit(argv[4]).toInt();

    Pop3Session::Credentials credentials;
    credentials.userName = QString::fromLocal8Bit(argv[2]);
    credentials.password = QString::fromLocal8Bit(argv[3]);
    Pop3Conversation conversation;
    MailConnection& connection = conversation.connection();
    connection.setRemote(QStringLiteral("127.0.0.1"), port);
    if (argc == 6) {
        connection.setSecurity(MailConnection::ImplicitTls, QString());
        connection.addCaCertificates(QSslCertificate::fromPath(QString::fromLocal8Bit(argv[5])));
    }

    QEventLoop loop;
    int count = -1;
    QString failure;
    QObject::connect(&conversation, &Pop3Conversation::ended, &loop, [&](const CheckOutcome& outcome) {
        if (outcome.end == CheckOutcome::End::Counted)
            count = outcome.count;
        else
            failure = QStringLiteral("%1 %2").arg(int(outcome.end)).arg(outcome.description);
        loop.quit();
    });

    QElapsedTimer elapsed;
    for (int i = 0; i < runs; ++i) {
        count = -1;
        elapsed.start();
        conversation.connectToServer(credentials);
        loop.exec();
        const qint64 micros = elapsed.nsecsElapsed() / 1000;
        if (!failure.isEmpty()) {
            std::fprintf(stderr, "postowl-bench-check: conversation failed: %s\n", qPrintable(failure));
            return 1;
        }
        std::printf("%lld %d\n", static_cast<long long>(micros), count);
    }
    return 0;
}
