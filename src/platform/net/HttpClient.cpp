#include "platform/net/HttpClient.h"

#include "platform/net/BoundedNetworkAccessManager.h"
#include "platform/net/BoundedReply.h"

#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QThread>

#include <atomic>
#include <mutex>

namespace corvane {

namespace {

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

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

    std::shared_ptr<HttpRequest> get(const HttpGet &get, Completion completion) override
    {
        auto request = std::make_shared<NetworkRequest>(weak_from_this(), std::move(completion));
        QMetaObject::invokeMethod(
            m_context, [this, request, get] { start(request, get); }, Qt::QueuedConnection);
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
    // A reply under way: whom it answers, its bounds and where its body goes.
    struct Live {
        std::shared_ptr<NetworkRequest> request;
        BoundedReply *bounds = nullptr;
        QSaveFile *file = nullptr; // a child of the reply
    };

    void start(const std::shared_ptr<NetworkRequest> &request, const HttpGet &get)
    {
        if (request->isCancelled()) {
            request->complete({std::nullopt, std::nullopt, cancelledText});
            return;
        }
        // The manager would also read "file:", "qrc:" and "data:" URLs.
        const QString scheme = get.url.scheme().toLower();
        if (scheme != "http" && scheme != "https") {
            request->complete({std::nullopt, std::nullopt, QStringLiteral("unsupported URL")});
            return;
        }
        // Opened first: a file that cannot be written sends no request.
        std::unique_ptr<QSaveFile> file;
        if (!get.bodyFile.isEmpty()) {
            file = std::make_unique<QSaveFile>(get.bodyFile);
            if (!file->open(QIODevice::WriteOnly)) {
                request->complete({std::nullopt, std::nullopt, file->errorString(), true});
                return;
            }
        }
        if (!m_manager)
            m_manager = new BoundedNetworkAccessManager(m_context);
        QNetworkRequest networkRequest(get.url);
        networkRequest.setTransferTimeout(int(get.limits.stallTimeout.count()));
        // The program names itself unless the caller does.
        networkRequest.setRawHeader("User-Agent", QByteArray("Corvane/") + CORVANE_VERSION);
        for (const auto &[name, value] : get.headers)
            networkRequest.setRawHeader(name, value);
        QNetworkReply *reply = m_manager->get(networkRequest);
        request->reply = reply;
        QSaveFile *sink = file.release();
        if (sink)
            sink->setParent(reply);
        m_live.insert(
            reply,
            {request,
             new BoundedReply(reply, get.limits.maximumBodySize, get.limits.deadline, sink), sink});
        QObject::connect(reply, &QNetworkReply::finished, m_context,
                         [this, reply] { finished(reply); });
    }

    void finished(QNetworkReply *reply)
    {
        const Live live = m_live.take(reply);
        reply->deleteLater();
        if (!live.request)
            return;
        HttpResponse response;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid())
            response.status = status.toInt();
        const QNetworkReply::NetworkError error = reply->error();
        if (live.bounds->failure() != BoundedReply::Failure::none) {
            response.errorText = live.bounds->failureText();
            response.fileFailed = live.bounds->failure() == BoundedReply::Failure::notWritten;
        } else if (error == QNetworkReply::NoError || (response.status && isStatusError(error))) {
            response.body = live.bounds->takeBody();
            // An error status's body is a page about the error, not what the
            // file was to hold: the file is left uncommitted.
            if (live.file && error == QNetworkReply::NoError && !live.file->commit()) {
                response.body.reset();
                response.errorText = live.file->errorString();
                response.fileFailed = true;
            }
        } else if (error == QNetworkReply::OperationCanceledError && !live.request->isCancelled()) {
            response.errorText = timedOutText;
        } else {
            response.errorText = reply->errorString();
        }
        // An uncommitted file is removed with the reply.
        live.request->complete(response);
    }

    void stopAll()
    {
        const auto live = m_live;
        for (const Live &entry : live)
            entry.request->markCancelled();
        for (auto it = live.begin(); it != live.end(); ++it)
            it.key()->abort();
        // A reply that would not finish on abort still completes.
        for (const Live &entry : live)
            entry.request->complete({std::nullopt, std::nullopt, cancelledText});
        m_live.clear();
        delete m_context;
        m_context = nullptr;
        m_manager = nullptr;
    }

    QThread m_thread;
    QObject *m_context = nullptr;
    QNetworkAccessManager *m_manager = nullptr;
    QHash<QNetworkReply *, Live> m_live;
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

std::shared_ptr<HttpRequest> RecordingHttpClient::get(const HttpGet &request, Completion completion)
{
    std::lock_guard lock(m_mutex);
    m_requests.push_back({request, false});
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
    QString bodyFile;
    {
        std::lock_guard lock(m_mutex);
        if (index >= m_completions.size() || !m_completions[index])
            return false;
        completion = std::move(*m_completions[index]);
        m_completions[index].reset();
        bodyFile = m_requests[index].bodyFile;
    }
    HttpResponse delivered = response;
    if (!bodyFile.isEmpty() && delivered.body && delivered.status.value_or(200) >= 400) {
        delivered.body = QByteArray();
    } else if (!bodyFile.isEmpty() && delivered.body) {
        QSaveFile file(bodyFile);
        if (file.open(QIODevice::WriteOnly) &&
            file.write(*delivered.body) == delivered.body->size() && file.commit()) {
            delivered.body = QByteArray();
        } else {
            delivered = {std::nullopt, std::nullopt, file.errorString(), true};
        }
    }
    // Outside the lock: the completion may send further requests.
    if (completion)
        completion(delivered);
    return true;
}

} // namespace corvane
