#include "scramblepassword.h"

#include <QByteArray>

namespace {

const QByteArray ScrambleKey = QByteArrayLiteral("q2m7x4kz9w1p5rj8tn3vb6cyh");

// Stands for one character of code 0, which the stored text must never hold.
const QByteArray NulMarker = QByteArrayLiteral("X'00'");

} // namespace

QString ScramblePassword(const QString& text)
{
    // Passwords are handled as 8-bit characters, so the stored form of older
    // profiles stays exactly what it always was.
    QByteArray bytes = text.toLatin1();
    bytes.replace(NulMarker, QByteArray(1, '\0'));

    // The key has no character for positions beyond its length. Such a text
    // can only come from a store edited by other means; it gives the empty
    // text, so the check asks for the password instead of sending garbage.
    if (bytes.size() > ScrambleKey.size())
        return QString();

    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(bytes.at(i) ^ ScrambleKey.at(i));

    bytes.replace(QByteArray(1, '\0'), NulMarker);
    return QString::fromLatin1(bytes);
}
