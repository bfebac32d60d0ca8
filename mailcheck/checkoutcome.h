#pragma once

#include <QString>
#include <QStringList>

// How one conversation with the mail server ended, as the conversation found
// it: the conversations only report; the scheduler decides what the run
// keeps of it and what the user sees.
struct CheckOutcome
{
    enum class End {
        Counted,              // the count is in
        InvalidUser,          // the server refused the user name
        CannotLogon,          // the server refused the password
        SocketError,          // connection, TLS or protocol failure, or a deadline
        UntrustedCertificate, // nothing was sent: the certificate is not trusted
    };

    End end = End::SocketError;
    int count = 0;
    // Why it failed, in words for the user.
    QString description;

    // Whether the server greeted us; only then do greeting and transport count.
    bool greeted = false;
    // The greeting from its fifth character on, line end included.
    QString greeting;
    // How the greeting came: "TLS 1.3" and the like, empty for a plain connection.
    QString transport;

    // With UntrustedCertificate: why, and the certificate's fingerprint.
    QStringList certificateErrors;
    QString certificateFingerprint;
};
