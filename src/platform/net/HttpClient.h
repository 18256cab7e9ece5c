#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace corvane {

// What one request may cost. A transfer past either time, or with a body
// past the size, fails ("The server took too long.", "The reply is too
// large."); each caller chooses the bounds that fit what it fetches.
struct TransferLimits {
    // How long the transfer may go without progress.
    std::chrono::milliseconds stallTimeout{60000};
    // How long the whole transfer may take, waiting for a connection included.
    std::chrono::milliseconds deadline{120000};
    // The largest body accepted: none until the caller says.
    qint64 maximumBodySize = 0;
};

// One GET request.
struct HttpGet {
    QUrl url;
    QList<std::pair<QByteArray, QByteArray>> headers;
    TransferLimits limits;
    // When set, the body is written to this file as it arrives, and the
    // response's body is empty. A transfer that fails leaves no file, and
    // so does an error status (400 and above): its body is dropped, and the
    // status still comes back.
    QString bodyFile;
};

// What one request got back.
struct HttpResponse {
    // The HTTP status; none when no HTTP reply arrived.
    std::optional<int> status;
    // The whole body; none when the transfer failed (a reply cut short
    // included). An error status with a body is no failure of the transfer.
    std::optional<QByteArray> body;
    // Why the transfer failed; empty when it did not.
    QString errorText;
    // The body's file could not be written; `errorText` says why.
    bool fileFailed = false;
};

// One request under way.
class HttpRequest {
public:
    virtual ~HttpRequest() = default;
    // Stops the request; its completion still runs, once, with an error
    // unless the reply was complete already.
    virtual void cancel() = 0;
};

// Plain GET requests over HTTP and HTTPS, with a User-Agent naming the program
// unless the request names another. The completion runs exactly once per
// request, on a thread of the client's: hop to your own queue there.
class HttpClient {
public:
    using Headers = QList<std::pair<QByteArray, QByteArray>>;
    using Completion = std::function<void(const HttpResponse &response)>;

    virtual ~HttpClient() = default;

    // A URL of any other scheme than http or https fails with "unsupported
    // URL" without being opened.
    virtual std::shared_ptr<HttpRequest> get(const HttpGet &request, Completion completion) = 0;

    // The network client unless a test set another.
    static std::shared_ptr<HttpClient> shared();
    static void setShared(std::shared_ptr<HttpClient> client);

    // A client of its own on a network thread of its own; destroying it
    // stops what is under way (each completion still runs).
    static std::shared_ptr<HttpClient> makeNetworkClient();
};

// Records every request and sends none; the test completes them. A cancel
// completes the request with "cancelled" unless it was completed already.
class RecordingHttpClient : public HttpClient {
public:
    struct Request : HttpGet {
        bool cancelled = false;
    };

    std::shared_ptr<HttpRequest> get(const HttpGet &request, Completion completion) override;

    std::vector<Request> requests() const;
    // Runs the completion of request `index` (in order of get()), once;
    // false when there is no such request or it completed already. A body
    // for a request with a body file goes to that file, or is dropped with
    // an error status, as the network client's would.
    bool complete(std::size_t index, const HttpResponse &response);

private:
    class Recorded;

    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
    // Reset once run.
    std::vector<std::optional<Completion>> m_completions;
};

} // namespace corvane
