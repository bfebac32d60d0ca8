#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// A throw-away self-signed certificate and its key, made by openssl.
struct TestCertificate
{
    QSslCertificate certificate;
    QSslKey key;

    // For a host name or an IP address, named both as the common name and as
    // the subject's alternative name. Null when openssl could not make it.
    static TestCertificate make(const QString& name);
};
