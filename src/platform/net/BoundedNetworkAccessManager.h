#pragma once

#include <QNetworkAccessManager>

#include <memory>

namespace corvane {

class CurlMulti;

// A network access manager whose HTTP and HTTPS replies come through
// libcurl and hold no part of a reply beyond what the reply allows. Qt's own
// transport reads the whole body of a 401 or a 407 reply into memory before
// anyone may see it, however large, so that a hostile server could fill the
// memory within a transfer's deadline; here every reply, whatever its
// status, is handed on as it arrives, and its transfer pauses while the
// reader's buffer (setReadBufferSize) is full. The head of a reply is held
// to `maximumHeadBytes` and `maximumHeaderFields`.
//
// The manager's replies share its connections: kept alive, HTTP/2 where the
// server offers it, at most a few to one host. They go through the proxies
// that http_proxy, https_proxy and no_proxy name, ask for compressed bodies
// and hand them on inflated (without the compressed Content-Length), only as
// far as the reader has room, its bound counting what they inflate to; a
// body that ends before its stream or its length does fails. No
// cookies, no cache, no authentication. Redirects are followed as the
// manager's policy and the request's limit say: never from https to http,
// nor to another scheme; a POST answered by 301, 302 or 303 goes on as a
// GET; Authorization and Cookie fields are dropped once the origin changes.
// Error statuses, aborts and transfer timeouts are reported with the same
// errors as Qt's own replies. The CA certificates of a request's TLS
// configuration, when it has any, are the only ones it trusts; else the
// system's. Other schemes go to Qt's implementation. The manager and its
// replies belong to the thread that made the manager, whose event loop
// drives them.
class BoundedNetworkAccessManager : public QNetworkAccessManager {
public:
    static constexpr qint64 maximumHeadBytes = 64 * 1024;
    static constexpr int maximumHeaderFields = 100;

    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override;

private:
    // Its replies hold it too: as children of the manager they go after its
    // members do.
    std::shared_ptr<CurlMulti> m_multi;
};

} // namespace corvane
