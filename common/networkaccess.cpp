#include "networkaccess.h"

#include <QNetworkRequest>

NetworkAccess::NetworkAccess(QObject* parent) : QNetworkAccessManager(parent)
{
    setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    setTransferTimeout(DefaultTransferTimeoutMs);
}
