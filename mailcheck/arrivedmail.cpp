#include "arrivedmail.h"

#include <QStringDecoder>
#include <QStringList>

namespace {

// The notification shows about eighty characters of the two lines; reading
// more of a hostile megabyte would only cost time.
constexpr qsizetype MaxHeaderBytes = 16 * 1024;
// A long sender keeps room for the subject on the line.
constexpr int MaxSenderLength = 40;
constexpr int MaxLinesShown = 3;

// RFC 2047's especials, which a charset or encoding name cannot hold.
bool isTokenChar(char c)
{
    return c > ' ' && c < 127 && !QByteArrayView("()<>@,;:\"/[]?.=").contains(c);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray decodeQ(const QByteArray& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '_') {
            bytes += ' ';
        } else if (c == '=' && i + 2 < text.size() && hexValue(text.at(i + 1)) >= 0 &&
                   hexValue(text.at(i + 2)) >= 0) {
            bytes += char(hexValue(text.at(i + 1)) * 16 + hexValue(text.at(i + 2)));
            i += 2;
        } else {
            bytes += c; // a stray "=" is shown as it came
        }
    }
    return bytes;
}

struct EncodedWord
{
    QByteArray charset; // lower case, without an RFC 2231 language
    QByteArray bytes;
    qsizetype end = 0; // just past the closing "?="
};

// "=?charset?B|Q?text?=" starting at start. Each scan stops at the next "?",
// so trying every "=?" of a value stays linear in its length.
bool parseEncodedWord(const QByteArray& value, qsizetype start, EncodedWord& word)
{
    const qsizetype size = value.size();
    qsizetype i = start + 2;
    while (i < size && isTokenChar(value.at(i)))
        ++i;
    if (i == start + 2 || i + 2 >= size || value.at(i) != '?' || value.at(i + 2) != '?')
        return false;
    const char encoding = value.at(i + 1);
    const bool base64 = encoding == 'B' || encoding == 'b';
    if (!base64 && encoding != 'Q' && encoding != 'q')
        return false;
    QByteArray charset = value.mid(start + 2, i - start - 2).toLower();
    const qsizetype textStart = i + 3;
    i = textStart;
    while (i < size && value.at(i) != '?' && value.at(i) > ' ' && value.at(i) < 127)
        ++i;
    if (i + 1 >= size || value.at(i) != '?' || value.at(i + 1) != '=')
        return false;
    const qsizetype language = charset.indexOf('*');
    if (language >= 0)
        charset.truncate(language);
    const QByteArray text = value.mid(textStart, i - textStart);
    word.charset = charset;
    word.bytes = base64 ? QByteArray::fromBase64(text) : decodeQ(text);
    word.end = i + 2;
    return true;
}

// Text outside encoded words: UTF-8 as today's mail sends it, else the
// Latin-1 of older mail, which any byte sequence is.
QString decodeLiteral(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

bool isLinearWhite(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    }
    return true;
}

bool isBidiFormatting(char16_t c)
{
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F ||
           c == 0x061C;
}

struct Mailbox
{
    QByteArray phrase;  // the display name, quotes taken off
    QByteArray address; // inside <>, or the bare address
    QByteArray comment; // what stood in parentheses
};

// The first mailbox of an address list, read as RFC 5322 lays it out:
// quoted strings and comments may hold commas and brackets, a group's name
// ends at ":".
Mailbox firstMailbox(const QByteArray& value)
{
    Mailbox box;
    QByteArray plain;
    bool quoted = false;
    bool inAngle = false;
    bool angled = false;
    int commentDepth = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value.at(i);
        if (c == '\\' && i + 1 < value.size() && (quoted || commentDepth > 0)) {
            (quoted ? plain : box.comment) += value.at(++i);
        } else if (quoted) {
            if (c == '"')
                quoted = false;
            else
                plain += c;
        } else if (commentDepth > 0) {
            commentDepth += c == '(' ? 1 : c == ')' ? -1 : 0;
            if (commentDepth > 0)
                box.comment += c;
        } else if (inAngle) {
            if (c == '>')
                inAngle = false;
            else
                box.address += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '(') {
            commentDepth = 1;
            if (!box.comment.isEmpty())
                box.comment += ' ';
        } else if (c == '<') {
            inAngle = angled = true;
            box.address.clear();
        } else if (c == ':' || c == ',' || c == ';') {
            if (c != ':' && (angled || !plain.trimmed().isEmpty()))
                break; // the end of the first mailbox
            // A group's name, or an empty list element: not a mailbox.
            plain.clear();
            box.comment.clear();
        } else {
            plain += c;
        }
    }
    (angled ? box.phrase : box.address) = plain;
    return box;
}

QString senderOf(const QByteArray& from)
{
    const Mailbox box = firstMailbox(from);
    // The display name is what a person recognises; old mail put it in a
    // comment ("jane@x (Jane Doe)"); the address is the last resort.
    for (const QString& candidate : {ArrivedMail::decodeWords(box.phrase),
                                     ArrivedMail::decodeWords(box.comment), decodeLiteral(box.address)}) {
        const QString sender = ArrivedMail::cleanLine(candidate);
        if (!sender.isEmpty())
            return sender;
    }
    return QString();
}

} // namespace

ArrivedMail ArrivedMail::fromHeader(QByteArrayView header)
{
    const QByteArray block = header.first(qMin(header.size(), MaxHeaderBytes)).toByteArray();
    QByteArray from;
    QByteArray subject;
    bool haveFrom = false;
    bool haveSubject = false;
    QByteArray* current = nullptr; // the field a continuation line belongs to
    qsizetype pos = 0;
    while (pos < block.size()) {
        qsizetype end = block.indexOf('\n', pos);
        if (end < 0)
            end = block.size();
        QByteArray line = block.mid(pos, end - pos);
        pos = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break; // the blank line that ends a header block
        if (line.at(0) == ' ' || line.at(0) == '\t') {
            // Unfolding takes the line end away and keeps the blank.
            if (current)
                current->append(line);
            continue;
        }
        current = nullptr;
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(qMax<qsizetype>(colon, 0)).trimmed().toLower();
        // The first of each counts: a second From or Subject would be a
        // forgery, not a correction.
        if (name == "from" && !haveFrom) {
            haveFrom = true;
            current = &from;
        } else if (name == "subject" && !haveSubject) {
            haveSubject = true;
            current = &subject;
        }
        if (current)
            *current = line.mid(colon + 1);
    }
    return ArrivedMail{senderOf(from), cleanLine(decodeWords(subject))};
}

QString ArrivedMail::decodeWords(QByteArrayView valueView)
{
    const QByteArray value = valueView.toByteArray();
    QString out;
    // Adjacent encoded words in one charset are decoded as one: senders split
    // a multi-byte character across two words often enough.
    QByteArray runCharset;
    QByteArray runBytes;
    QByteArray runRaw;
    auto flushRun = [&] {
        if (runRaw.isEmpty())
            return;
        QStringDecoder decoder(runCharset.constData());
        // A charset nobody here knows: the words as they came, which are ASCII.
        out += decoder.isValid() ? QString(decoder.decode(runBytes)) : QString::fromLatin1(runRaw);
        runBytes.clear();
        runRaw.clear();
    };
    qsizetype literalStart = 0;
    for (qsizetype i = 0; i + 1 < value.size(); ++i) {
        EncodedWord word;
        if (value.at(i) != '=' || value.at(i + 1) != '?' || !parseEncodedWord(value, i, word))
            continue;
        const QByteArray between = value.mid(literalStart, i - literalStart);
        // Whitespace between two encoded words is no part of the text.
        if (runRaw.isEmpty() || !isLinearWhite(between)) {
            flushRun();
            out += decodeLiteral(between);
        } else if (word.charset != runCharset) {
            flushRun();
        }
        if (!runRaw.isEmpty())
            runRaw += ' ';
        runRaw += value.mid(i, word.end - i);
        runCharset = word.charset;
        runBytes += word.bytes;
        literalStart = word.end;
        i = word.end - 1;
    }
    flushRun();
    out += decodeLiteral(value.mid(literalStart));
    return out;
}

QString ArrivedMail::cleanLine(const QString& text, int maxLength)
{
    QString out;
    bool blankPending = false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        // Tabs, line ends and other spaces separate words: they become one
        // blank, not nothing.
        if (c.isSpace()) {
            blankPending = !out.isEmpty();
            continue;
        }
        // Control characters could garble the line, bidirectional formatting
        // could show it in another order than it was sent ("gpj.exe" as
        // "exe.jpg").
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || isBidiFormatting(u))
            continue;
        if (blankPending)
            out += QLatin1Char(' ');
        blankPending = false;
        out += c;
        if (out.size() > maxLength)
            break; // enough to know it is cut
    }
    if (out.size() > maxLength) {
        qsizetype keep = qMax(maxLength - 1, 0);
        if (keep > 0 && out.at(keep - 1).isHighSurrogate())
            --keep;
        out.truncate(keep);
        if (out.endsWith(QLatin1Char(' ')))
            out.chop(1);
        out += QChar(0x2026);
    }
    return out;
}

QString ArrivedMail::notificationBody(const QList<ArrivedMail>& newestFirst, int newCount)
{
    QStringList lines;
    const qsizetype shown = qMin<qsizetype>(newestFirst.size(), MaxLinesShown);
    for (qsizetype i = 0; i < shown; ++i) {
        const ArrivedMail& mail = newestFirst.at(i);
        // A message without a From or Subject still gets its line, so the
        // lines and "and N more" add up to the count; the placeholders are in
        // parentheses, which no real name or subject is likely to be alone.
        const QString sender = cleanLine(mail.sender, MaxSenderLength);
        const QString subject = cleanLine(mail.subject);
        lines += cleanLine((sender.isEmpty() ? QStringLiteral("(unknown sender)") : sender) +
                           QStringLiteral(" \u2014 ") +
                           (subject.isEmpty() ? QStringLiteral("(no subject)") : subject));
    }
    const qsizetype more = newCount - shown;
    // Without a single header to show, "and N more" would follow nothing.
    if (more > 0)
        lines += shown > 0 ? QStringLiteral("and %1 more").arg(more)
                           : QStringLiteral("%1 new message(s)").arg(more);
    return lines.join(QLatin1Char('\n'));
}
