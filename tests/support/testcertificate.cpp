#include "testcertificate.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTemporaryDir>

TestCertificate TestCertificate::make(const QString& name)
{
    TestCertificate made;
    QTemporaryDir dir;
    const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
    const QString certificatePath = dir.filePath(QStringLiteral("certificate.pem"));
    const bool address = !QHostAddress(name).isNull();
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=") + name, QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=") +
                       (address ? QStringLiteral("IP:") : QStringLiteral("DNS:")) + name,
                   QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certificatePath});
    if (!openssl.waitForFinished(20000) || openssl.exitCode() != 0)
        return made;
    QFile keyFile(keyPath);
    QFile certificateFile(certificatePath);
    if (!keyFile.open(QIODevice::ReadOnly) || !certificateFile.open(QIODevice::ReadOnly))
        return made;
    made.key = QSslKey(keyFile.readAll(), QSsl::Ec);
    made.certificate = QSslCertificate(certificateFile.readAll());
    return made;
}
