#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

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
        TokenRefused,         // the provider's token was refused
        ServerClosed,         // the server said goodbye (IMAP's BYE)
    };

    End end = End::SocketError;
    int count = 0;
    // IMAP only: whether an unseen message came that this run had not seen
    // before (notify-once counts arrivals there, not counts); how many; and
    // the raw From and Subject header lines of the newest of them, newest first.
    std::optional<bool> arrived;
    int arrivals = 0;
    QList<QByteArray> arrivedHeaders;
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
