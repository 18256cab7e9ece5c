#include "platform/net/BoundedNetworkAccessManager.h"

#include "platform/net/CurlMulti.h"
#include "platform/net/CurlReply.h"

#include <QIODevice>

namespace corvane {

QNetworkReply *BoundedNetworkAccessManager::createRequest(Operation operation,
                                                          const QNetworkRequest &request,
                                                          QIODevice *outgoingData)
{
    const QString scheme = request.url().scheme().toLower();
    QByteArray verb;
    switch (operation) {
    case HeadOperation: verb = "HEAD"; break;
    case GetOperation: verb = "GET"; break;
    case PutOperation: verb = "PUT"; break;
    case PostOperation: verb = "POST"; break;
    case DeleteOperation: verb = "DELETE"; break;
    case CustomOperation:
        verb = request.attribute(QNetworkRequest::CustomVerbAttribute).toByteArray();
        break;
    default: break;
    }
    if ((scheme != "http" && scheme != "https") || verb.isEmpty())
        return QNetworkAccessManager::createRequest(operation, request, outgoingData);
    // The program's own request bodies: small, and whole in memory already.
    QByteArray body;
    if (outgoingData) {
        if (!outgoingData->isOpen())
            outgoingData->open(QIODevice::ReadOnly);
        body = outgoingData->readAll();
    }
    if (!m_multi)
        m_multi = std::make_shared<CurlMulti>();
    return makeCurlReply(this, m_multi, operation, request, verb, body);
}

} // namespace corvane
