#pragma once

#include "preferences/BundleInfo.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>

#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>

class QNetworkAccessManager;
class QNetworkReply;

namespace corvane {

// One HTTP request: where, how and what it carries, and what its reply may
// cost. A reply past either bound fails ("The reply is too large.", "The
// server took too long.").
struct UrlRequest {
    QNetworkRequest request;
    QByteArray method = "GET";
    QByteArray body;
    qint64 maximumReplySize = qint64(1) << 20;
    // For the whole transfer, besides the request's inactivity timeout.
    std::chrono::milliseconds deadline = std::chrono::minutes(2);
};

// Fires requests and forgets them: no cookies, no cache, always from the
// network, 30 seconds without progress ends a transfer, and a "User-Agent" of
// the program's name and version on every request. The transfers, and the
// set-up of TLS for the first, run on a thread of the manager's own, so the
// main thread never waits on the network; handlers run on the main thread.
class OneShotDownloadManager {
public:
    // The data received, the HTTP status (0 when there was no answer) and the
    // error text when the transfer failed.
    using Handler = std::function<void(const QByteArray &data, int status,
                                       const std::optional<QString> &error)>;

    static constexpr int requestTimeoutMs = 30000;

    explicit OneShotDownloadManager(const BundleInfo &bundle = BundleInfo::main());
    // Cancels the requests still in flight; their handlers do not run.
    ~OneShotDownloadManager();
    OneShotDownloadManager(const OneShotDownloadManager &) = delete;
    OneShotDownloadManager &operator=(const OneShotDownloadManager &) = delete;

    static std::shared_ptr<OneShotDownloadManager> shared();

    // "<name>-<version>", or nothing when either is missing.
    static std::optional<QByteArray> userAgent(const BundleInfo &bundle);

    // Starts the request on the manager's thread, from any thread; the
    // handler runs on the main thread when it ends.
    void start(const UrlRequest &request, Handler handler);

private:
    // On the manager's thread.
    void startHere(const UrlRequest &request, Handler handler);

    const std::optional<QByteArray> m_userAgent;
    // Cleared when the manager goes: a handler already on its way to the
    // main thread then does not run.
    const std::shared_ptr<std::atomic<bool>> m_alive = std::make_shared<std::atomic<bool>>(true);
    QThread m_thread;
    // Lives on m_thread, and so do the network manager and the replies.
    QObject *m_context = nullptr;
    QNetworkAccessManager *m_manager = nullptr;
    std::set<QNetworkReply *> m_replies;
};

} // namespace corvane
