#pragma once

#include <QNetworkAccessManager>

namespace corvane {

// A network access manager whose HTTP and HTTPS replies are read by the
// program itself, so that no part of a reply is held beyond what the reply
// allows. Qt's own transport reads the whole body of a 401 or a 407 reply
// into memory before anyone may see it, however large, so that a hostile
// server could fill the memory within a transfer's deadline; here every
// reply, whatever its status, is handed on as it arrives and stops being
// read while the reader's buffer (setReadBufferSize) is full. The head of a
// reply is held to `maximumHeadBytes` and `maximumHeaderFields`.
//
// One HTTP/1.1 request per connection, "Connection: close"; no proxy, no
// cookies, no cache, no compression asked for, no authentication. Redirects
// are followed as the manager's policy and the request's limit say (a POST
// answered by 301, 302 or 303 goes on as a GET). Error statuses, aborts and
// transfer timeouts are reported with the same errors as Qt's own replies.
// Other schemes go to Qt's implementation.
class BoundedNetworkAccessManager : public QNetworkAccessManager {
public:
    static constexpr qint64 maximumHeadBytes = 64 * 1024;
    static constexpr int maximumHeaderFields = 100;

    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override;
};

} // namespace corvane
