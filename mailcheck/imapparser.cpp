#include "imapparser.h"

#include <QCoreApplication>

#include <limits>

namespace {

QString tooLong(const char* what, int limit)
{
    return QCoreApplication::translate("ImapParser", "The server sent %1 longer than %2 octets.")
        .arg(QCoreApplication::translate("ImapParser", what))
        .arg(limit);
}

// "{123}" at the end of a line piece: the size of the literal that follows.
// 1 found, 0 none, -1 a size that does not fit.
int literalSize(const QByteArray& line, quint32& size)
{
    if (!line.endsWith('}'))
        return 0;
    const int open = line.lastIndexOf('{');
    if (open < 0)
        return 0;
    const QByteArray digits = line.mid(open + 1, line.size() - open - 2);
    if (digits.isEmpty())
        return 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return 0;
    }
    return ImapParser::number(digits, size) ? 1 : -1;
}

// Where the numbers of a search answer begin in `line`, and what separates
// them: "* SEARCH 3 4 5" or "* ESEARCH (TAG "a4") UID ALL 3:5,9". -1 for any
// other line, or when anything but numbers follows.
int numbersFrom(const QByteArray& line, char& separator)
{
    const QByteArray head = line.left(128).toUpper();
    int from = -1;
    if (head.startsWith("* SEARCH ")) {
        from = 9;
        separator = ' ';
    } else if (head.startsWith("* ESEARCH ") && head.indexOf(" ALL ") > 0) {
        from = head.indexOf(" ALL ") + 5;
        separator = ',';
    }
    if (from < 0)
        return -1;
    // The CR of the line end may be the last byte kept.
    const int end = line.endsWith('\r') ? line.size() - 1 : line.size();
    for (int i = from; i < end; ++i) {
        const char c = line.at(i);
        if ((c < '0' || c > '9') && c != separator && (separator != ',' || c != ':'))
            return -1;
    }
    return from;
}

// Walks the line pieces and literals of one response.
struct Cursor
{
    const ImapResponse& response;
    int line = 0;
    int pos = 0;
    QString error;

    const QByteArray& text() const { return response.lines.at(line); }
    bool atEnd() const { return pos >= text().size(); }
    char peek() const { return text().at(pos); }

    bool fail(const char* why)
    {
        error = QCoreApplication::translate("ImapParser", why);
        return false;
    }

    bool list(QList<ImapToken>& out, char closer, int depth)
    {
        for (;;) {
            while (!atEnd() && peek() == ' ')
                ++pos;
            if (atEnd()) {
                if (closer)
                    return fail("The server sent a list that is never closed.");
                return true;
            }
            const char c = peek();
            if (c == ')' || c == ']') {
                if (c != closer)
                    return fail("The server closed a list it never opened.");
                ++pos;
                return true;
            }
            ImapToken token;
            if (c == '(' || c == '[') {
                if (depth >= ImapParser::MaxDepth) {
                    error = QCoreApplication::translate("ImapParser",
                                                        "The server sent lists nested deeper than %1.")
                                .arg(ImapParser::MaxDepth);
                    return false;
                }
                ++pos;
                token.kind = c == '(' ? ImapToken::Kind::List : ImapToken::Kind::Bracket;
                if (!list(token.items, c == '(' ? ')' : ']', depth + 1))
                    return false;
            } else if (c == '"') {
                if (!quoted(token.text))
                    return false;
                token.kind = ImapToken::Kind::String;
            } else if (c == '{') {
                // The reader only ends a piece at a literal's size.
                if (line + 1 >= response.lines.size() || pos != text().lastIndexOf('{'))
                    return fail("The server sent a malformed literal.");
                token.kind = ImapToken::Kind::String;
                token.text = response.literals.at(line);
                ++line;
                pos = 0;
            } else {
                const int start = pos;
                while (!atEnd() && !QByteArray(" ()[]\"{").contains(peek()))
                    ++pos;
                token.text = text().mid(start, pos - start);
                quint32 value = 0;
                bool digitsOnly = true;
                for (char d : token.text)
                    digitsOnly = digitsOnly && d >= '0' && d <= '9';
                if (digitsOnly && !ImapParser::number(token.text, value))
                    return fail("The server sent a number above 4294967295.");
                if (token.text.compare("NIL", Qt::CaseInsensitive) == 0)
                    token.kind = ImapToken::Kind::Nil;
            }
            out.append(token);
        }
    }

    bool quoted(QByteArray& out)
    {
        ++pos;
        while (!atEnd()) {
            char c = peek();
            ++pos;
            if (c == '"')
                return true;
            if (c == '\\') {
                if (atEnd())
                    break;
                c = peek();
                ++pos;
            }
            out.append(c);
        }
        return fail("The server sent a quoted string that never ends.");
    }
};

} // namespace

void ImapParser::feed(const QByteArray& data)
{
    if (m_inputPos >= m_input.size()) {
        m_input = data;
        m_inputPos = 0;
    } else {
        m_input += data;
    }
}

bool ImapParser::hasBuffered() const
{
    return m_inputPos < m_input.size() || !m_line.isEmpty() || !m_current.lines.isEmpty() ||
           m_literalLeft >= 0;
}

int ImapParser::bufferedSize() const
{
    return int(m_input.size() - m_inputPos + m_size + m_line.size());
}

ImapParser::Status ImapParser::fail(const QString& why)
{
    m_error = why;
    m_input.clear();
    m_inputPos = 0;
    m_line.clear();
    m_current = ImapResponse();
    m_literalLeft = -1;
    m_size = 0;
    m_splitting = false;
    return Status::Failed;
}

ImapParser::Status ImapParser::next(ImapResponse& response)
{
    if (!m_error.isEmpty())
        return Status::Failed;
    while (m_inputPos < m_input.size()) {
        const int available = m_input.size() - m_inputPos;
        if (m_literalLeft >= 0) {
            const int take = int(qMin<qint64>(m_literalLeft, available));
            m_current.literals.last().append(m_input.constData() + m_inputPos, take);
            m_inputPos += take;
            m_literalLeft -= take;
            if (m_literalLeft == 0)
                m_literalLeft = -1;
            continue;
        }
        const int lineEnd = m_input.indexOf('\n', m_inputPos);
        const int take = lineEnd < 0 ? available : lineEnd + 1 - m_inputPos;
        // Judged before anything is kept: a line that never ends must not grow.
        if (m_line.size() + take > MaxLineLength) {
            if (!m_current.lines.isEmpty())
                return fail(tooLong("a line", MaxLineLength));
            const int room = MaxLineLength - m_line.size();
            m_line.append(m_input.constData() + m_inputPos, room);
            m_inputPos += room;
            return splitNumbers(response);
        }
        if (m_size + m_line.size() + take > MaxResponseLength)
            return fail(tooLong("a response", MaxResponseLength));
        m_line.append(m_input.constData() + m_inputPos, take);
        m_inputPos += take;
        if (lineEnd < 0)
            break;
        m_line.chop(1);
        if (m_line.endsWith('\r'))
            m_line.chop(1);
        char separator = 0;
        if (m_splitting && numbersFrom(m_line, separator) < 0)
            return fail(tooLong("a line", MaxLineLength));
        m_splitting = false;
        m_size += m_line.size();
        quint32 size = 0;
        const int literal = literalSize(m_line, size);
        m_current.lines.append(m_line);
        m_line.clear();
        if (literal < 0)
            return fail(
                QCoreApplication::translate("ImapParser", "The server sent a number above 4294967295."));
        if (literal > 0) {
            if (size > quint32(MaxLiteralLength))
                return fail(tooLong("a literal", MaxLiteralLength));
            if (m_size + size > MaxResponseLength)
                return fail(tooLong("a response", MaxResponseLength));
            m_size += size;
            // Not reserved up front: the size is the server's claim, the octets are not here yet.
            m_current.literals.append(QByteArray());
            m_literalLeft = size > 0 ? qint64(size) : -1;
            continue;
        }
        response = m_current;
        m_current = ImapResponse();
        m_size = 0;
        return Status::Ready;
    }
    if (m_inputPos >= m_input.size()) {
        m_input.clear();
        m_inputPos = 0;
    }
    return Status::NeedMore;
}

ImapParser::Status ImapParser::splitNumbers(ImapResponse& response)
{
    // A search answer lists every match on one line, past any limit in a big
    // folder. Nothing but numbers in it, it is given out in pieces that each
    // repeat its head, cut between two numbers: the reader adds them up as
    // answers of their own, and never more than a line is kept.
    char separator = 0;
    const int from = numbersFrom(m_line, separator);
    const int cut = from < 0 ? -1 : m_line.lastIndexOf(separator);
    if (from < 0 || cut < from)
        return fail(tooLong("a line", MaxLineLength));
    response = ImapResponse();
    response.lines.append(m_line.left(cut));
    m_line = m_line.left(from) + m_line.mid(cut + 1);
    m_splitting = true;
    return Status::Ready;
}

bool ImapParser::tokenize(const ImapResponse& response, int from, QList<ImapToken>& tokens, QString& error)
{
    if (response.lines.isEmpty())
        return true;
    Cursor cursor{response, 0, from, QString()};
    tokens.clear();
    if (!cursor.list(tokens, 0, 0)) {
        error = cursor.error;
        return false;
    }
    return true;
}

bool ImapParser::number(const QByteArray& text, quint32& value)
{
    if (text.isEmpty())
        return false;
    quint64 result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + quint64(c - '0');
        if (result > std::numeric_limits<quint32>::max())
            return false;
    }
    value = quint32(result);
    return true;
}
