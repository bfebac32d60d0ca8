#include "pushclient.h"

#include "networkaccess.h"
#include "pushaddress.h"

#include <QNetworkReply>
#include <QNetworkRequest>

PushClient::PushClient(NetworkAccess& network, QObject* parent) : QObject(parent), m_network(network) {}

bool PushClient::push(const QString& url, const QString& text)
{
    const QUrl address = acceptedPushUrl(url);
    if (!address.isValid())
        return false;
    QNetworkRequest request(address);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/plain; charset=utf-8"));
    request.setRawHeader(QByteArrayLiteral("Title"), QByteArray(Title));
    QNetworkReply* reply = m_network.post(request, text.toUtf8());
    // Qt keeps whatever is not read: the answer is thrown away as it comes,
    // and once it is longer than any service's reply the push is over.
    connect(reply, &QNetworkReply::readyRead, this, [reply, taken = qint64(0)]() mutable {
        taken += reply->skip(reply->bytesAvailable());
        if (taken > AnswerReadLimit)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        emit pushEnded();
    });
    return true;
}
