#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class NetworkAccess;

// Pushes a line of news to the user's phone through a push service that takes
// a plain HTTP POST (ntfy and servers like it): the text as a UTF-8 body and
// the title in a "Title" header. Like the SMS, a push that does not arrive is
// nobody's business but the push service's: nothing is reported or retried.
class PushClient : public QObject
{
    Q_OBJECT

public:
    static constexpr char Title[] = "PostOwl";
    // The most of a push service's answer that is taken in. The answer is
    // never read (the status ends the push either way), but it has to be
    // drained, and a body that never ends is cut off here instead of growing
    // the process.
    static constexpr qint64 AnswerReadLimit = 4096;

    explicit PushClient(NetworkAccess& network, QObject* parent = nullptr);

    // Starts one POST of `text` to `url` and returns at once; false (and
    // nothing sent) when the address is not accepted.
    bool push(const QString& url, const QString& text);

signals:
    // A push has ended, delivered or not.
    void pushEnded();

private:
    NetworkAccess& m_network;
};
