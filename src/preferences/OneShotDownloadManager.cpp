#include "preferences/OneShotDownloadManager.h"

#include "platform/net/BoundedNetworkAccessManager.h"
#include "platform/net/BoundedReply.h"
#include "platform/DispatchQueue.h"

#include <QNetworkReply>

namespace corvane {

OneShotDownloadManager::OneShotDownloadManager(const BundleInfo &bundle)
    : m_userAgent(userAgent(bundle))
{
}

OneShotDownloadManager::~OneShotDownloadManager()
{
    for (QNetworkReply *reply : m_replies) {
        QObject::disconnect(reply, nullptr, nullptr, nullptr);
        reply->abort();
        delete reply;
    }
}

std::shared_ptr<OneShotDownloadManager> OneShotDownloadManager::shared()
{
    // Kept for the whole run: its network manager must not outlive the
    // application object at exit.
    static auto *manager =
        new std::shared_ptr<OneShotDownloadManager>(std::make_shared<OneShotDownloadManager>());
    return *manager;
}

std::optional<QByteArray> OneShotDownloadManager::userAgent(const BundleInfo &bundle)
{
    if (bundle.name.isEmpty() || bundle.shortVersion.isEmpty())
        return std::nullopt;
    return (bundle.name + "-" + bundle.shortVersion).toUtf8();
}

void OneShotDownloadManager::start(const UrlRequest &request, Handler handler)
{
    if (DispatchQueue::isMainThread()) {
        startOnMain(request, std::move(handler));
        return;
    }
    // The network manager belongs to the main thread.
    DispatchQueue::main()->async(
        [weak = weak_from_this(), request, handler = std::move(handler)]() mutable {
            if (auto manager = weak.lock())
                manager->startOnMain(request, std::move(handler));
        });
}

void OneShotDownloadManager::startOnMain(const UrlRequest &request, Handler handler)
{
    if (!m_manager) {
        // Qt's own transport would hold a 401 reply's whole body. This one
        // keeps and sends no cookies and has no cache.
        m_manager = std::make_unique<BoundedNetworkAccessManager>();
        m_manager->setTransferTimeout(requestTimeoutMs);
    }
    QNetworkRequest networkRequest = request.request;
    if (m_userAgent)
        networkRequest.setRawHeader("User-Agent", *m_userAgent);

    QNetworkReply *reply =
        m_manager->sendCustomRequest(networkRequest, request.method, request.body);
    m_replies.insert(reply);
    auto *bounds = new BoundedReply(reply, request.maximumReplySize, request.deadline);
    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [this, reply, bounds, handler = std::move(handler)] {
                         m_replies.erase(reply);
                         const int status =
                             reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                         std::optional<QString> error;
                         if (bounds->failure() != BoundedReply::Failure::none)
                             error = bounds->failureText();
                         else if (reply->error() != QNetworkReply::NoError)
                             error = reply->errorString();
                         const QByteArray data = bounds->takeBody();
                         reply->deleteLater();
                         if (handler)
                             handler(data, status, error);
                     });
}

} // namespace corvane
