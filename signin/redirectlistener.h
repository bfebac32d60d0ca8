#pragma once

#include <QHash>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// Where the browser comes back to after the provider's page: a listener on
// 127.0.0.1 only, on a free port, that takes the first request carrying the
// expected state, answers the browser with a short page and closes. Any other
// request gets a short 400 page and changes nothing. Whatever arrives is read
// as hostile: one GET line and its headers, with hard limits on size, count
// and time.
class RedirectListener : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype MaxRequestBytes = 8 * 1024;
    static constexpr int MaxConnections = 8;
    static constexpr int ConnectionTimeoutMs = 10000;

    explicit RedirectListener(QObject* parent = nullptr);

    // Starts listening for the redirect that carries `state`.
    bool listen(const QString& state);
    void close();
    // http://127.0.0.1:<port>/ while listening.
    QUrl redirectUri() const;

signals:
    void codeReceived(const QString& code);
    // The provider sent the browser back with an error (access_denied, ...).
    void errorReceived(const QString& error, const QString& description);

private:
    void acceptConnections();
    void readFrom(QTcpSocket* socket);
    void answer(QTcpSocket* socket, int status, const QByteArray& page);

    QTcpServer m_server;
    QString m_state;
    QHash<QTcpSocket*, QByteArray> m_received;
};
