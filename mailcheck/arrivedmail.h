#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

// Who sent a newly arrived message and what it is about, read from the From
// and Subject lines the server sent for it, as the new-mail notification
// shows them. Everything here is plain text, already cleaned of what could
// disguise or garble a line; a caller showing it as markup still escapes it.
struct ArrivedMail
{
    QString sender;  // display name, else address; empty when the header had none
    QString subject; // empty when the header had none

    // Reads the header lines of one message (any order, folded or not, either
    // one absent). Only the start of a huge block is looked at.
    static ArrivedMail fromHeader(QByteArrayView header);

    // Decodes a header value's RFC 2047 encoded words; the rest is taken as
    // UTF-8, or as Latin-1 where it is not valid UTF-8.
    static QString decodeWords(QByteArrayView value);

    // Removes control characters and bidirectional formatting, collapses
    // whitespace runs to one blank, trims, and cuts at maxLength characters
    // with an ellipsis.
    static QString cleanLine(const QString& text, int maxLength = 80);

    // The notification's body: one line "sender — subject" for each of the
    // first three messages (the caller puts the newest first), then
    // "and N more" for the rest of newCount.
    static QString notificationBody(const QList<ArrivedMail>& newestFirst, int newCount);
};
