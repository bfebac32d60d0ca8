// Runs the stand-in SMS gateway on 127.0.0.1 with the account demo / demo,
// prints "listening on <port>" and then the text of every SMS it accepts.
// Point the program at it with POSTOWL_SMS_GATEWAY=127.0.0.1:<port>.

#include "standingateway.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);

    quint16 port = 0;
    if (argc > 2) {
        std::fprintf(stderr, "usage: postowl-standin-gateway [port]\n");
        return 2;
    }
    if (argc == 2) {
        bool ok = false;
        const uint value = QByteArray(argv[1]).toUInt(&ok);
        if (!ok || value > 65535) {
            std::fprintf(stderr, "postowl-standin-gateway: not a port number: %s\n", argv[1]);
            return 2;
        }
        port = quint16(value);
    }

    StandInGateway gateway;
    gateway.setCredentials(QStringLiteral("demo"), QStringLiteral("demo"));
    if (!gateway.listen(port)) {
        std::fprintf(stderr, "postowl-standin-gateway: cannot listen on 127.0.0.1:%u\n", unsigned(port));
        return 1;
    }
    std::printf("listening on %u\n", unsigned(gateway.port()));
    std::fflush(stdout);

    QObject::connect(&gateway, &StandInGateway::smsReceived, &app, [](const QString& text) {
        std::printf("%s\n", text.toLocal8Bit().constData());
        std::fflush(stdout);
    });
    return app.exec();
}
