#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One response as the server framed it: the line pieces (CR LF taken off) and
// the literals between them. Every piece but the last ends with the "{n}" of
// the literal that follows it.
struct ImapResponse
{
    QList<QByteArray> lines;
    QList<QByteArray> literals;
};

// One token of a response: quoted strings and literals are both String.
struct ImapToken
{
    enum class Kind { Atom, String, Nil, List, Bracket };
    Kind kind = Kind::Atom;
    QByteArray text;
    QList<ImapToken> items; // of a parenthesized list or a [...] section
};

// Reads IMAP responses from whatever pieces the bytes arrive in, and splits
// them into tokens. The limits keep a hostile server from making us buffer
// without bound: a response that breaks one is a protocol failure, found
// before more than the limit is kept. The one exception is a line of search
// results that holds nothing but numbers: it is given out in pieces, each a
// search answer of its own (see splitNumbers()).
class ImapParser
{
public:
    static constexpr int MaxLineLength = 65536; // one line piece, line end included
    static constexpr int MaxLiteralLength = 1 << 20;
    static constexpr int MaxResponseLength = 2 << 20; // lines and literals together
    static constexpr int MaxDepth = 32;

    enum class Status { NeedMore, Ready, Failed };

    void feed(const QByteArray& data);
    // The next complete response from what was fed, if there is one.
    Status next(ImapResponse& response);
    // Bytes received but not yet given out as a response.
    bool hasBuffered() const;
    int bufferedSize() const;
    // Why next() failed.
    QString error() const { return m_error; }

    // The tokens of a response from byte `from` of its first line on. False,
    // with the reason in `error`, for a malformed one.
    static bool tokenize(const ImapResponse& response, int from, QList<ImapToken>& tokens, QString& error);
    // A number in 0..2^32-1 written in digits only.
    static bool number(const QByteArray& text, quint32& value);

private:
    Status fail(const QString& why);
    Status splitNumbers(ImapResponse& response);

    QByteArray m_input;
    int m_inputPos = 0;
    ImapResponse m_current;
    QByteArray m_line;
    qint64 m_literalLeft = -1; // octets of the current literal still to come; -1 within a line
    qint64 m_size = 0;         // of the response under way
    bool m_splitting = false;  // m_line continues search results already given out
    QString m_error;
};
