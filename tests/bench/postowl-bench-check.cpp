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

    GeneralStuff run;
    run.ProfileSettings.ServerName = QStringLiteral("127.0.0.1");
    run.ProfileSettings.UserName = QString::fromLocal8Bit(argv[2]);
    run.ProfileSettings.Password = QString::fromLocal8Bit(argv[3]);
    Pop3Conversation conversation(run);
    conversation.setRemote(run.ProfileSettings.ServerName, port);
    if (argc == 6) {
        conversation.setSecurity(Pop3Conversation::ImplicitTls, QString());
        conversation.addCaCertificates(QSslCertificate::fromPath(QString::fromLocal8Bit(argv[5])));
    }

    QEventLoop loop;
    int count = -1;
    QString failure;
    QObject::connect(&conversation, &Pop3Conversation::counted, &loop, [&](int counted) {
        count = counted;
        loop.quit();
    });
    QObject::connect(&conversation, &Pop3Conversation::failed, &loop,
                     [&](Pop3Conversation::Failure reason, const QString& description) {
                         failure = QStringLiteral("%1 %2").arg(int(reason)).arg(description);
                         conversation.close();
                         loop.quit();
                     });

    QElapsedTimer elapsed;
    for (int i = 0; i < runs; ++i) {
        count = -1;
        elapsed.start();
        conversation.connectToServer();
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
