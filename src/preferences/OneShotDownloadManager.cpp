#include "preferences/OneShotDownloadManager.h"

#include "platform/net/BoundedNetworkAccessManager.h"
#include "platform/net/BoundedReply.h"
#include "platform/queues/DispatchQueue.h"

#include <QNetworkReply>

#include <utility>

namespace corvane {

OneShotDownloadManager::OneShotDownloadManager(const BundleInfo &bundle)
    : m_userAgent(userAgent(bundle))
{
    m_thread.setObjectName("com.quendrith.corvane.uploads");
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.start();
}

OneShotDownloadManager::~OneShotDownloadManager()
{
    m_alive->store(false);
    // Never on the manager's own thread: waiting for it there would never end.
    Q_ASSERT(QThread::currentThread() != &m_thread);
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            for (QNetworkReply *reply : std::exchange(m_replies, {})) {
                QObject::disconnect(reply, nullptr, nullptr, nullptr);
                reply->abort();
                delete reply;
            }
            delete m_context;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

std::shared_ptr<OneShotDownloadManager> OneShotDownloadManager::shared()
{
    // Kept for the whole run, its thread with it.
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
    QMetaObject::invokeMethod(
        m_context,
        [this, request, handler = std::move(handler)]() mutable {
            startHere(request, std::move(handler));
        },
        Qt::QueuedConnection);
}

void OneShotDownloadManager::startHere(const UrlRequest &request, Handler handler)
{
    if (!m_manager) {
        // Qt's own transport would hold a 401 reply's whole body. This one
        // keeps and sends no cookies and has no cache.
        m_manager = new BoundedNetworkAccessManager(m_context);
        m_manager->setTransferTimeout(requestTimeoutMs);
    }
    QNetworkRequest networkRequest = request.request;
    if (m_userAgent)
        networkRequest.setRawHeader("User-Agent", *m_userAgent);

    QNetworkReply *reply =
        m_manager->sendCustomRequest(networkRequest, request.method, request.body);
    m_replies.insert(reply);
    auto *bounds = new BoundedReply(reply, request.maximumReplySize, request.deadline);
    QObject::connect(
        reply, &QNetworkReply::finished, reply,
        [this, reply, bounds, handler = std::move(handler)] {
            m_replies.erase(reply);
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            std::optional<QString> error;
            if (bounds->failure() != BoundedReply::Failure::none)
                error = bounds->failureText();
            else if (reply->error() != QNetworkReply::NoError)
                error = reply->errorString();
            const QByteArray data = bounds->takeBody();
            reply->deleteLater();
            if (!handler)
                return;
            DispatchQueue::main()->async([alive = m_alive, handler, data, status, error] {
                if (alive->load())
                    handler(data, status, error);
            });
        });
}

} // namespace corvane
