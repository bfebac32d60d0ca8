#include "networkaccess.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

NetworkAccess::NetworkAccess(QObject* parent) : QNetworkAccessManager(parent)
{
    setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    setTransferTimeout(DefaultTransferTimeoutMs);
}

QNetworkReply* NetworkAccess::createRequest(Operation operation, const QNetworkRequest& request,
                                            QIODevice* outgoingData)
{
    QNetworkReply* reply = QNetworkAccessManager::createRequest(operation, request, outgoingData);
    // Tied to the reply: a reply that ended and was deleted takes its deadline with it.
    QTimer::singleShot(m_requestDeadlineMs, reply, [reply] {
        if (reply->isRunning())
            reply->abort();
    });
    return reply;
}
