#include "platform/HttpClient.h"

#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <mutex>

namespace corvane {

namespace {

constexpr int defaultTransferTimeoutMs = 60000;
const QString cancelledText = QStringLiteral("Operation canceled");
const QString timedOutText = QStringLiteral("The request timed out");

class NetworkClient;

class NetworkRequest final : public HttpRequest,
                             public std::enable_shared_from_this<NetworkRequest> {
public:
    NetworkRequest(std::weak_ptr<NetworkClient> client, HttpClient::Completion completion)
        : m_client(std::move(client)), m_completion(std::move(completion))
    {
    }

    void cancel() override;

    bool isCancelled() const { return m_cancelled.load(); }
    void markCancelled() { m_cancelled.store(true); }

    void complete(const HttpResponse &response)
    {
        if (m_completed.exchange(true))
            return;
        HttpClient::Completion completion = std::move(m_completion);
        m_completion = nullptr;
        if (completion)
            completion(response);
    }

    // Only touched on the network thread.
    QPointer<QNetworkReply> reply;

private:
    std::weak_ptr<NetworkClient> m_client;
    HttpClient::Completion m_completion;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_completed{false};
};

// Qt reports an error status as an error of the reply; such a reply is whole
// and, for our callers, no failed transfer.
bool isStatusError(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    return (code >= QNetworkReply::ContentAccessDenied &&
            code <= QNetworkReply::UnknownContentError) ||
           (code >= QNetworkReply::InternalServerError &&
            code <= QNetworkReply::UnknownServerError) ||
           error == QNetworkReply::ProtocolInvalidOperationError;
}

// One QNetworkAccessManager on a thread with its own event loop, so that
// requests neither need nor block the main thread.
class NetworkClient final : public HttpClient, public std::enable_shared_from_this<NetworkClient> {
public:
    NetworkClient()
    {
        m_thread.setObjectName("com.quendrith.corvane.network");
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
        m_thread.start();
    }

    ~NetworkClient() override
    {
        // Never on the network thread: waiting for it there would never end.
        Q_ASSERT(QThread::currentThread() != &m_thread);
        QMetaObject::invokeMethod(
            m_context, [this] { stopAll(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    std::shared_ptr<HttpRequest> get(const QUrl &url, const Headers &headers,
                                     std::chrono::milliseconds timeout,
                                     Completion completion) override
    {
        auto request = std::make_shared<NetworkRequest>(weak_from_this(), std::move(completion));
        QMetaObject::invokeMethod(
            m_context,
            [this, request, url, headers, timeout] { start(request, url, headers, timeout); },
            Qt::QueuedConnection);
        return request;
    }

    void abort(const std::shared_ptr<NetworkRequest> &request)
    {
        QMetaObject::invokeMethod(
            m_context,
            [request] {
                if (request->reply)
                    request->reply->abort();
            },
            Qt::QueuedConnection);
    }

private:
    void start(const std::shared_ptr<NetworkRequest> &request, const QUrl &url,
               const Headers &headers, std::chrono::milliseconds timeout)
    {
        if (request->isCancelled()) {
            request->complete({std::nullopt, std::nullopt, cancelledText});
            return;
        }
        // The manager would also read "file:", "qrc:" and "data:" URLs.
        const QString scheme = url.scheme().toLower();
        if (scheme != "http" && scheme != "https") {
            request->complete({std::nullopt, std::nullopt, QStringLiteral("unsupported URL")});
            return;
        }
        if (!m_manager) {
            m_manager = new QNetworkAccessManager(m_context);
            m_manager->setTransferTimeout(defaultTransferTimeoutMs);
        }
        QNetworkRequest networkRequest(url);
        networkRequest.setTransferTimeout(int(timeout.count()));
        for (const auto &[name, value] : headers)
            networkRequest.setRawHeader(name, value);
        QNetworkReply *reply = m_manager->get(networkRequest);
        request->reply = reply;
        m_live.insert(reply, request);
        QObject::connect(reply, &QNetworkReply::finished, m_context,
                         [this, reply] { finished(reply); });
    }

    void finished(QNetworkReply *reply)
    {
        const auto request = m_live.take(reply);
        reply->deleteLater();
        if (!request)
            return;
        HttpResponse response;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid())
            response.status = status.toInt();
        const QNetworkReply::NetworkError error = reply->error();
        if (error == QNetworkReply::NoError || (response.status && isStatusError(error))) {
            response.body = reply->readAll();
        } else if (error == QNetworkReply::OperationCanceledError && !request->isCancelled()) {
            response.errorText = timedOutText;
        } else {
            response.errorText = reply->errorString();
        }
        request->complete(response);
    }

    void stopAll()
    {
        const auto live = m_live;
        for (const auto &request : live)
            request->markCancelled();
        for (auto it = live.begin(); it != live.end(); ++it)
            it.key()->abort();
        // A reply that would not finish on abort still completes.
        for (const auto &request : live)
            request->complete({std::nullopt, std::nullopt, cancelledText});
        m_live.clear();
        delete m_context;
        m_context = nullptr;
        m_manager = nullptr;
    }

    QThread m_thread;
    QObject *m_context = nullptr;
    QNetworkAccessManager *m_manager = nullptr;
    QHash<QNetworkReply *, std::shared_ptr<NetworkRequest>> m_live;
};

void NetworkRequest::cancel()
{
    markCancelled();
    if (auto client = m_client.lock())
        client->abort(shared_from_this());
}

std::mutex g_sharedMutex;
std::shared_ptr<HttpClient> g_override;

} // namespace

std::shared_ptr<HttpClient> HttpClient::shared()
{
    {
        std::lock_guard lock(g_sharedMutex);
        if (g_override)
            return g_override;
    }
    // Made once and kept until the process ends: its thread then ends with it.
    static const auto *const client = new std::shared_ptr<HttpClient>(makeNetworkClient());
    return *client;
}

void HttpClient::setShared(std::shared_ptr<HttpClient> client)
{
    std::lock_guard lock(g_sharedMutex);
    g_override = std::move(client);
}

std::shared_ptr<HttpClient> HttpClient::makeNetworkClient()
{
    return std::make_shared<NetworkClient>();
}

class RecordingHttpClient::Recorded final : public HttpRequest {
public:
    Recorded(RecordingHttpClient *client, std::size_t index) : m_client(client), m_index(index) {}

    void cancel() override
    {
        {
            std::lock_guard lock(m_client->m_mutex);
            m_client->m_requests[m_index].cancelled = true;
        }
        m_client->complete(m_index, {std::nullopt, std::nullopt, QStringLiteral("cancelled")});
    }

private:
    RecordingHttpClient *m_client;
    std::size_t m_index;
};

std::shared_ptr<HttpRequest> RecordingHttpClient::get(const QUrl &url, const Headers &headers,
                                                      std::chrono::milliseconds timeout,
                                                      Completion completion)
{
    std::lock_guard lock(m_mutex);
    m_requests.push_back({url, headers, timeout, false});
    m_completions.push_back(std::move(completion));
    return std::make_shared<Recorded>(this, m_requests.size() - 1);
}

std::vector<RecordingHttpClient::Request> RecordingHttpClient::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool RecordingHttpClient::complete(std::size_t index, const HttpResponse &response)
{
    Completion completion;
    {
        std::lock_guard lock(m_mutex);
        if (index >= m_completions.size() || !m_completions[index])
            return false;
        completion = std::move(*m_completions[index]);
        m_completions[index].reset();
    }
    // Outside the lock: the completion may send further requests.
    if (completion)
        completion(response);
    return true;
}

} // namespace corvane
