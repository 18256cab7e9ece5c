#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>

#include <memory>

class QNetworkReply;
class QNetworkRequest;

namespace corvane {

class CurlMulti;

// A reply of BoundedNetworkAccessManager: its request through libcurl, as
// that class says. Started from the event loop.
QNetworkReply *makeCurlReply(QNetworkAccessManager *manager, std::shared_ptr<CurlMulti> multi,
                             QNetworkAccessManager::Operation operation,
                             const QNetworkRequest &request, QByteArray verb, QByteArray body);

} // namespace corvane
