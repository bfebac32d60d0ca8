#include "imapsession.h"

#include "saslmessage.h"

#include <QCoreApplication>

#include <algorithm>
#include <limits>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("ImapSession", text);
}

// What the server wrote, for a reason shown to the user: never more than a line's worth.
QString serverText(const QByteArray& text)
{
    return QString::fromUtf8(text.left(200)).simplified();
}

bool holdsLineBreak(const QString& text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) ||
           text.contains(QLatin1Char('\0'));
}

bool isStatusWord(const QByteArray& word)
{
    return word == "OK" || word == "NO" || word == "BAD" || word == "BYE" || word == "PREAUTH";
}

bool eightBit(const QByteArray& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return uchar(c) >= 0x80; });
}

QByteArray quoted(const QByteArray& text)
{
    QByteArray out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

} // namespace

ImapSession::ImapSession(const Options& options) : m_options(options), m_mark(options.uidMark) {}

bool ImapSession::hasCapability(const QByteArray& name) const
{
    return m_capabilities.contains(name.toUpper());
}

ImapSession::Step ImapSession::received(const QByteArray& data)
{
    Step step;
    if (m_state == State::Over || data.isEmpty())
        return step;
    if (m_state == State::Handshake) {
        end(End::ProtocolError, tr("The server sent data in the clear during the TLS handshake."), step);
        return step;
    }
    m_parser.feed(data);
    while (m_state != State::Over) {
        ImapResponse response;
        const ImapParser::Status status = m_parser.next(response);
        if (status == ImapParser::Status::Failed)
            end(End::ProtocolError, m_parser.error(), step);
        if (status != ImapParser::Status::Ready)
            break;
        handle(response, step);
        if (m_state == State::Handshake) {
            // Whatever came in the clear behind the answer to STARTTLS is no
            // reply of the encrypted conversation: a man in the middle could have put it there.
            if (m_parser.hasBuffered()) {
                step.startTls = false;
                end(End::ProtocolError,
                    tr("The server sent more after agreeing to STARTTLS, before the TLS handshake."), step);
            }
            break;
        }
    }
    return step;
}

ImapSession::Step ImapSession::tlsStarted()
{
    Step step;
    if (m_state != State::Handshake)
        return step;
    m_tlsActive = true;
    m_state = State::Capability;
    command("CAPABILITY", step);
    return step;
}

ImapSession::Step ImapSession::startIdle()
{
    Step step;
    if (m_state != State::Counted)
        return step;
    if (!idleOffered()) {
        step.idleRefused = true;
        return step;
    }
    m_stopWanted = m_countWanted = false;
    m_state = State::IdleRequested;
    command("IDLE", step);
    return step;
}

ImapSession::Step ImapSession::stopIdle()
{
    Step step;
    if (m_state == State::Idling) {
        m_state = State::IdleStopping;
        sendLine("DONE", "DONE", step);
    } else if (m_state == State::IdleRequested) {
        m_stopWanted = true;
    }
    return step;
}

ImapSession::Step ImapSession::countAgain(quint32 uidMark)
{
    Step step;
    // A count under way keeps the mark it started with.
    const bool idle =
        m_state == State::Idling || m_state == State::IdleRequested || m_state == State::IdleStopping;
    if (idle || m_state == State::Counted)
        m_mark = uidMark;
    if (m_state == State::Counted) {
        startCount(step);
    } else if (m_state == State::Idling) {
        m_countWanted = true;
        m_state = State::IdleStopping;
        sendLine("DONE", "DONE", step);
    } else if (m_state == State::IdleRequested || m_state == State::IdleStopping) {
        m_countWanted = true;
    }
    return step;
}

void ImapSession::handle(const ImapResponse& response, Step& step)
{
    step.dialogue += response.lines;
    const QByteArray& first = response.lines.first();
    if (first.isEmpty())
        return;
    if (first.startsWith('+')) {
        handleContinuation(first.mid(first.startsWith("+ ") ? 2 : 1), step);
        return;
    }
    if (first.startsWith("* ")) {
        handleUntagged(response, step);
        return;
    }
    const int blank = first.indexOf(' ');
    if (m_tag.isEmpty() || first.left(blank) != m_tag) {
        end(End::ProtocolError, tr("The server answered a command that was never sent."), step);
        return;
    }
    m_tag.clear();
    handleTagged(parseStatus(blank < 0 ? QByteArray() : first.mid(blank + 1)), step);
}

ImapSession::Status ImapSession::parseStatus(const QByteArray& text)
{
    Status status;
    const int blank = text.indexOf(' ');
    status.word = (blank < 0 ? text : text.left(blank)).toUpper();
    status.rest = blank < 0 ? QByteArray() : text.mid(blank + 1);
    QByteArray rest = status.rest;
    if (rest.startsWith('[')) {
        const int close = rest.indexOf(']');
        if (close > 0) {
            const QByteArray inner = rest.mid(1, close - 1);
            const int space = inner.indexOf(' ');
            status.code = (space < 0 ? inner : inner.left(space)).toUpper();
            status.codeArguments = space < 0 ? QByteArray() : inner.mid(space + 1);
            rest = rest.mid(close + 1);
            if (rest.startsWith(' '))
                rest.remove(0, 1);
        }
    }
    status.text = rest;
    return status;
}

void ImapSession::handleUntagged(const ImapResponse& response, Step& step)
{
    const Status status = parseStatus(response.lines.first().mid(2));
    if (isStatusWord(status.word)) {
        handleStatus(status, step);
        return;
    }
    QList<ImapToken> tokens;
    QString error;
    if (!ImapParser::tokenize(response, 2, tokens, error))
        end(End::ProtocolError, error, step);
    else
        handleData(tokens, step);
}

bool ImapSession::takeNumber(const QByteArray& text, quint32& value, Step& step)
{
    const QByteArray digits = text.trimmed();
    if (ImapParser::number(digits, value))
        return true;
    if (!digits.isEmpty() &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        end(End::ProtocolError, tr("The server sent a number above 4294967295."), step);
    return false;
}

void ImapSession::handleStatus(const Status& status, Step& step)
{
    if (status.word == "BYE") {
        end(End::ServerClosed, tr("The server closed the connection: %1").arg(serverText(status.text)), step);
        return;
    }
    if (m_state == State::Greeting) {
        m_greeting = status.rest;
        if (status.code == "CAPABILITY")
            takeCapabilities(status.codeArguments);
        if (status.word == "OK") {
            afterGreeting(step);
        } else if (status.word != "PREAUTH") {
            end(End::ProtocolError, tr("The server's greeting was not understood."), step);
        } else if (!m_tlsActive && (m_options.startTls || m_options.tlsRequired)) {
            // Logged in before TLS could begin: the conversation would stay in the clear.
            end(End::TlsRequired, tr("The server logged us in before TLS could be started (PREAUTH)."), step);
        } else {
            afterLogin(status, step);
        }
        return;
    }
    if (status.code == "CAPABILITY" && m_state != State::StartTls)
        takeCapabilities(status.codeArguments);
    if (m_state == State::Examine && status.word == "OK") {
        quint32 value = 0;
        if (status.code == "UIDVALIDITY" && takeNumber(status.codeArguments, value, step))
            m_count.uidValidity = value;
        else if (status.code == "UIDNEXT" && takeNumber(status.codeArguments, value, step))
            m_count.uidNext = value;
    }
}

void ImapSession::handleData(const QList<ImapToken>& tokens, Step& step)
{
    if (tokens.isEmpty() || tokens.first().kind != ImapToken::Kind::Atom)
        return;
    quint32 number = 0;
    if (ImapParser::number(tokens.first().text, number)) {
        if (tokens.size() < 2)
            return;
        const QByteArray what = tokens.at(1).text.toUpper();
        if (what == "EXISTS")
            m_count.exists = number;
        else if (what == "EXPUNGE" && m_count.exists > 0)
            --m_count.exists;
        else if (what == "FETCH" && m_state == State::Fetch && tokens.size() > 2)
            handleFetch(tokens.at(2).items);
        const bool watching = m_state == State::IdleRequested || m_state == State::Idling ||
                              (m_state == State::IdleStopping && !m_countWanted);
        if (watching && (what == "EXISTS" || what == "EXPUNGE" || what == "FETCH" || what == "RECENT"))
            step.mailboxChanged = true;
        return;
    }
    const QByteArray name = tokens.first().text.toUpper();
    if (name == "CAPABILITY" && m_state != State::StartTls) {
        m_capabilities.clear();
        for (int i = 1; i < tokens.size(); ++i)
            m_capabilities.append(tokens.at(i).text.toUpper());
    } else if (name == "SEARCH" && (m_state == State::SearchUnseen || m_state == State::SearchNew)) {
        for (int i = 1; i < tokens.size(); ++i) {
            quint32 uid = 0;
            if (!ImapParser::number(tokens.at(i).text, uid))
                continue;
            if (m_state == State::SearchUnseen) {
                ++m_count.unseen;
                m_count.highestUnseenUid = qMax(m_count.highestUnseenUid, uid);
            }
            noteNew(uid, uid);
        }
    } else if (name == "ESEARCH" && (m_state == State::SearchUnseen || m_state == State::SearchNew)) {
        int i = 1;
        // The correlator names the command this answers; another's is not ours.
        if (i < tokens.size() && tokens.at(i).kind == ImapToken::Kind::List) {
            const QList<ImapToken>& tag = tokens.at(i).items;
            if (tag.size() != 2 || tag.at(1).text != m_tag)
                return;
            ++i;
        }
        if (i < tokens.size() && tokens.at(i).text.toUpper() == "UID")
            ++i;
        for (; i + 1 < tokens.size() && m_state != State::Over; i += 2) {
            const QByteArray item = tokens.at(i).text.toUpper();
            quint32 value = 0;
            if (item == "ALL" && m_state == State::SearchNew)
                handleSearchSet(tokens.at(i + 1).text, step);
            if (m_state != State::SearchUnseen || !ImapParser::number(tokens.at(i + 1).text, value))
                continue;
            if (item == "COUNT")
                m_count.unseen = value;
            else if (item == "MAX")
                m_count.highestUnseenUid = value;
        }
    }
}

void ImapSession::handleSearchSet(const QByteArray& set, Step& step)
{
    // "5:9000,9002": read range by range, never spelt out.
    for (const QByteArray& range : set.split(',')) {
        const int colon = range.indexOf(':');
        quint32 low = 0;
        quint32 high = 0;
        if (!ImapParser::number(colon < 0 ? range : range.left(colon), low) ||
            !ImapParser::number(colon < 0 ? range : range.mid(colon + 1), high)) {
            end(End::ProtocolError, tr("The server sent a malformed search result."), step);
            return;
        }
        noteNew(qMin(low, high), qMax(low, high));
    }
}

void ImapSession::noteNew(quint32 low, quint32 high)
{
    // Only the number of arrivals and the newest few are wanted, however many there are.
    if (high <= m_mark)
        return;
    low = qMax(low, m_mark + 1);
    m_count.newCount = quint32(
        qMin<quint64>(quint64(m_count.newCount) + (high - low) + 1, std::numeric_limits<quint32>::max()));
    QList<quint32>& newest = m_count.newestUids;
    for (quint32 uid = high; uid >= low && high - uid < quint32(MaxHeaderFetch); --uid) {
        if (newest.size() == MaxHeaderFetch && uid <= newest.first())
            break;
        const auto at = std::lower_bound(newest.begin(), newest.end(), uid);
        if (at == newest.end() || *at != uid)
            newest.insert(at, uid);
        if (newest.size() > MaxHeaderFetch)
            newest.removeFirst();
    }
}

void ImapSession::handleFetch(const QList<ImapToken>& items)
{
    quint32 uid = 0;
    QByteArray header;
    bool haveHeader = false;
    for (int i = 0; i < items.size();) {
        const QByteArray name = items.at(i++).text.toUpper();
        if (name == "BODY" && i < items.size() && items.at(i).kind == ImapToken::Kind::Bracket)
            ++i;
        if (i < items.size() && items.at(i).kind == ImapToken::Kind::Atom &&
            items.at(i).text.startsWith('<') && name == "BODY")
            ++i;
        if (i >= items.size())
            break;
        const ImapToken& value = items.at(i++);
        if (name == "UID") {
            ImapParser::number(value.text, uid);
        } else if (name == "BODY" && value.kind == ImapToken::Kind::String) {
            header = value.text;
            haveHeader = true;
        }
    }
    if (haveHeader && m_fetching.contains(uid))
        m_count.headers.insert(uid, header);
}

void ImapSession::handleTagged(const Status& status, Step& step)
{
    const bool ok = status.word == "OK";
    const QString text = serverText(status.text);
    switch (m_state) {
    case State::StartTls:
        if (ok) {
            // Nothing learnt in the clear survives the handshake.
            m_capabilities.clear();
            step.startTls = true;
            m_state = State::Handshake;
        } else {
            end(End::StartTlsRefused, tr("The server refused STARTTLS: %1").arg(text), step);
        }
        break;
    case State::Capability:
        if (status.code == "CAPABILITY")
            takeCapabilities(status.codeArguments);
        if (ok)
            login(step);
        else
            end(End::ProtocolError, tr("The server refused CAPABILITY: %1").arg(text), step);
        break;
    case State::Login:
        m_pieces.clear();
        m_shownPieces.clear();
        m_saslResponse.clear();
        if (ok)
            afterLogin(status, step);
        else if (status.code == "UNAVAILABLE")
            end(End::ProtocolError, tr("The server cannot log in at the moment: %1").arg(text), step);
        else if (status.word != "NO")
            end(End::ProtocolError, tr("The server rejected the login command: %1").arg(text), step);
        else if (!m_options.bearerToken.isEmpty())
            end(End::TokenRefused, tr("The server refused the sign-in token: %1").arg(text), step);
        else
            end(End::LoginRefused, tr("The server refused the login: %1").arg(text), step);
        break;
    case State::CapabilityAfterLogin:
        if (ok)
            examine(step);
        else
            end(End::ProtocolError, tr("The server refused CAPABILITY: %1").arg(text), step);
        break;
    case State::Examine:
        if (ok)
            startCount(step);
        else
            end(End::FolderRefused,
                tr("The server cannot open the folder %1: %2").arg(m_options.folder, text), step);
        break;
    case State::SearchUnseen:
    case State::SearchNew:
        if (!ok)
            end(End::ProtocolError, tr("The server refused the search: %1").arg(text), step);
        else if (m_state == State::SearchUnseen && hasCapability("ESEARCH") &&
                 m_count.highestUnseenUid > m_mark)
            searchNew(step);
        else
            fetchHeaders(step);
        break;
    case State::Fetch:
        // The headers are a courtesy: without them the count still stands.
        finishCount(step);
        break;
    case State::IdleRequested:
    case State::Idling:
    case State::IdleStopping:
        if (m_state == State::IdleRequested && !ok)
            step.idleRefused = true;
        else if (!m_countWanted)
            step.idleEnded = true;
        m_state = State::Counted;
        if (m_countWanted) {
            m_countWanted = false;
            startCount(step);
        }
        break;
    default:
        end(End::ProtocolError, tr("The server answered a command that was never sent."), step);
        break;
    }
}

void ImapSession::handleContinuation(const QByteArray& text, Step& step)
{
    Q_UNUSED(text);
    if (m_state == State::Login && !m_pieces.isEmpty()) {
        sendLine(m_pieces.takeFirst(), m_shownPieces.takeFirst(), step);
    } else if (m_state == State::Login && !m_saslResponse.isEmpty()) {
        if (!m_saslSent) {
            sendLine(m_saslResponse, "****", step);
            m_saslSent = true;
        } else {
            // A challenge after our response is the server's reason for
            // failing; answering it lets the server send the tagged NO.
            const QByteArray answer = m_mechanism == "OAUTHBEARER"
                                          ? SaslMessage::oauthBearerErrorAnswer().toBase64()
                                      : m_mechanism == "XOAUTH2" ? QByteArray("")
                                                                 : QByteArray("*");
            sendLine(answer, answer, step);
            m_saslResponse.clear();
        }
    } else if (m_state == State::IdleRequested) {
        m_state = State::Idling;
        step.idling = true;
        if (m_stopWanted || m_countWanted) {
            m_stopWanted = false;
            m_state = State::IdleStopping;
            sendLine("DONE", "DONE", step);
        }
    } else if (m_state != State::Idling) {
        end(End::ProtocolError, tr("The server asked for more where there was nothing to send."), step);
    }
}

void ImapSession::afterGreeting(Step& step)
{
    const bool token = !m_options.bearerToken.isEmpty();
    if (holdsLineBreak(m_options.userName) ||
        holdsLineBreak(token ? m_options.bearerToken : m_options.password)) {
        end(End::LoginImpossible, tr("The user name or password holds a line break or NUL; it was not sent."),
            step);
    } else if (m_options.startTls && !m_tlsActive) {
        if (!m_capabilities.isEmpty() && !hasCapability("STARTTLS")) {
            end(End::StartTlsRefused, tr("The server does not offer STARTTLS."), step);
        } else {
            m_state = State::StartTls;
            command("STARTTLS", step);
        }
    } else if (m_capabilities.isEmpty()) {
        m_state = State::Capability;
        command("CAPABILITY", step);
    } else {
        login(step);
    }
}

void ImapSession::login(Step& step)
{
    m_state = State::Login;
    const bool token = !m_options.bearerToken.isEmpty();
    if (token && hasCapability("AUTH=OAUTHBEARER"))
        authenticate("OAUTHBEARER",
                     SaslMessage::oauthBearer(m_options.userName, m_options.host, m_options.port,
                                              m_options.bearerToken),
                     step);
    else if (token && hasCapability("AUTH=XOAUTH2"))
        authenticate("XOAUTH2", SaslMessage::xoauth2(m_options.userName, m_options.bearerToken), step);
    else if (token)
        end(End::LoginImpossible, tr("The server offers no way to sign in with a token."), step);
    else if (hasCapability("LOGINDISABLED"))
        end(End::LoginImpossible,
            tr("The server does not take a password on this connection (LOGINDISABLED)."), step);
    else if (hasCapability("AUTH=PLAIN"))
        authenticate("PLAIN", SaslMessage::plain(m_options.userName, m_options.password), step);
    else
        loginWithLiterals(step);
}

void ImapSession::authenticate(const QByteArray& mechanism, const QByteArray& response, Step& step)
{
    m_mechanism = mechanism;
    m_saslResponse = response.toBase64();
    m_saslSent = hasCapability("SASL-IR");
    if (m_saslSent)
        command("AUTHENTICATE " + mechanism + ' ' + m_saslResponse, step,
                "AUTHENTICATE " + mechanism + " ****");
    else
        command("AUTHENTICATE " + mechanism, step);
}

void ImapSession::loginWithLiterals(Step& step)
{
    // 8-bit text goes as a literal; with LITERAL+ it need not wait for "+".
    const bool nonSynchronizing = hasCapability("LITERAL+");
    QList<QByteArray> lines = {"LOGIN "};
    QList<QByteArray> shown = {"LOGIN "};
    const QByteArray arguments[] = {m_options.userName.toUtf8(), m_options.password.toUtf8()};
    for (int i = 0; i < 2; ++i) {
        const bool secret = i == 1;
        if (secret) {
            lines.last() += ' ';
            shown.last() += ' ';
        }
        if (eightBit(arguments[i])) {
            const QByteArray marker =
                '{' + QByteArray::number(arguments[i].size()) + (nonSynchronizing ? "+}" : "}");
            lines.last() += marker;
            shown.last() += secret ? QByteArray("****") : marker;
            lines.append(arguments[i]);
            shown.append(secret ? QByteArray("****") : arguments[i]);
        } else {
            lines.last() += quoted(arguments[i]);
            shown.last() += secret ? QByteArray("****") : quoted(arguments[i]);
        }
    }
    command(lines.takeFirst(), step, shown.takeFirst());
    if (nonSynchronizing) {
        for (int i = 0; i < lines.size(); ++i)
            sendLine(lines.at(i), shown.at(i), step);
    } else {
        m_pieces = lines;
        m_shownPieces = shown;
    }
}

void ImapSession::afterLogin(const Status& status, Step& step)
{
    if (status.code == "CAPABILITY") {
        takeCapabilities(status.codeArguments);
        examine(step);
    } else {
        // What the server offered before the login need not hold after it.
        m_capabilities.clear();
        m_state = State::CapabilityAfterLogin;
        command("CAPABILITY", step);
    }
}

void ImapSession::examine(Step& step)
{
    m_state = State::Examine;
    command("EXAMINE " + quoted(mailboxName(m_options.folder)), step);
}

void ImapSession::startCount(Step& step)
{
    m_count.unseen = 0;
    m_count.highestUnseenUid = 0;
    m_count.newCount = 0;
    m_count.newestUids.clear();
    m_count.headers.clear();
    m_state = State::SearchUnseen;
    if (hasCapability("ESEARCH"))
        command("UID SEARCH RETURN (COUNT MAX) UNSEEN", step);
    else
        command("UID SEARCH UNSEEN", step);
}

void ImapSession::searchNew(Step& step)
{
    // "n:*" always takes in the highest UID, even below n: the answer is filtered.
    // RETURN (ALL) answers in ranges, short however many have arrived.
    m_state = State::SearchNew;
    command("UID SEARCH RETURN (ALL) UNSEEN UID " + QByteArray::number(m_mark + 1) + ":*", step);
}

void ImapSession::fetchHeaders(Step& step)
{
    if (!m_options.fetchHeaders || m_count.newestUids.isEmpty()) {
        finishCount(step);
        return;
    }
    m_fetching = m_count.newestUids;
    QByteArray set;
    for (quint32 uid : m_fetching)
        set += (set.isEmpty() ? "" : ",") + QByteArray::number(uid);
    m_state = State::Fetch;
    command("UID FETCH " + set + " (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])", step);
}

void ImapSession::finishCount(Step& step)
{
    m_fetching.clear();
    m_state = State::Counted;
    step.counted = true;
    step.count = m_count;
}

void ImapSession::command(const QByteArray& text, Step& step, const QByteArray& shown)
{
    m_tag = 'a' + QByteArray::number(++m_tagNumber);
    sendLine(m_tag + ' ' + text, m_tag + ' ' + (shown.isNull() ? text : shown), step);
}

void ImapSession::sendLine(const QByteArray& line, const QByteArray& shown, Step& step)
{
    step.send += line + "\r\n";
    step.dialogue.append(shown);
}

void ImapSession::end(End how, const QString& reason, Step& step)
{
    m_state = State::Over;
    step.end = how;
    step.reason = reason;
}

void ImapSession::takeCapabilities(const QByteArray& list)
{
    m_capabilities.clear();
    for (const QByteArray& name : list.split(' ')) {
        if (!name.isEmpty())
            m_capabilities.append(name.toUpper());
    }
}

QByteArray ImapSession::mailboxName(const QString& folder)
{
    QByteArray out;
    QByteArray wide; // UTF-16 of a run of characters that are not printable ASCII
    auto flush = [&] {
        if (wide.isEmpty())
            return;
        out += '&' + wide.toBase64(QByteArray::OmitTrailingEquals).replace('/', ',') + '-';
        wide.clear();
    };
    for (QChar c : folder) {
        const ushort unit = c.unicode();
        if (unit >= 0x20 && unit <= 0x7e) {
            flush();
            out += unit == '&' ? QByteArray("&-") : QByteArray(1, char(unit));
        } else {
            wide += char(unit >> 8);
            wide += char(unit & 0xff);
        }
    }
    flush();
    return out;
}
