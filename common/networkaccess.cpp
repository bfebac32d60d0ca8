#include "networkaccess.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

NetworkAccess::NetworkAccess(QObject* parent) : QObject(parent) {}

NetworkAccess::~NetworkAccess() = default;

QNetworkReply* NetworkAccess::get(const QNetworkRequest& request)
{
    return withDeadline(manager().get(request));
}

QNetworkReply* NetworkAccess::post(const QNetworkRequest& request, const QByteArray& body)
{
    return withDeadline(manager().post(request, body));
}

QNetworkAccessManager& NetworkAccess::manager()
{
    if (!m_manager) {
        m_manager = std::make_unique<QNetworkAccessManager>();
        m_manager->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
        m_manager->setTransferTimeout(DefaultTransferTimeoutMs);
    }
    return *m_manager;
}

QNetworkReply* NetworkAccess::withDeadline(QNetworkReply* reply) const
{
    // Tied to the reply: a reply that ended and was deleted takes its deadline with it.
    QTimer::singleShot(m_requestDeadlineMs, reply, [reply] {
        if (reply->isRunning())
            reply->abort();
    });
    return reply;
}
