#include "platform/net/CurlMulti.h"

#include <QSocketNotifier>

#include <curl/curl.h>

#include <sys/socket.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace corvane {

struct CurlMulti::Watch {
    QSocketNotifier *read = nullptr;
    QSocketNotifier *write = nullptr;

    void set(QSocketNotifier *notifier, bool enabled)
    {
        if (notifier->isEnabled() != enabled)
            notifier->setEnabled(enabled);
    }
};

CurlMulti::CurlMulti()
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMulti::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMulti::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, maximumHostConnections);
    curl_multi_setopt(m_multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
    curl_multi_setopt(m_multi, CURLMOPT_MAX_CONCURRENT_STREAMS, maximumStreams);
    m_timer.setSingleShot(true);
    // libcurl's own timeouts, the connect timeout at a deadline among them:
    // a coarse timer may wake it 5% late.
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &m_context,
                     [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlMulti::~CurlMulti()
{
    for (const auto &[easy, transfer] : std::exchange(m_transfers, {}))
        if (transfer.started)
            curl_multi_remove_handle(m_multi, easy);
    // Closing the connections tells us of no socket any more.
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, nullptr);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, nullptr);
    curl_multi_cleanup(m_multi);
    m_watches.clear();
}

bool CurlMulti::add(CURL *easy, Done done, const QString &origin)
{
    Transfer &transfer = m_transfers[easy];
    transfer = {std::move(done), origin, this};
    if (!origin.isEmpty() && !m_servesOneAtATime.contains(origin)) {
        // Goes first, alone, or waits its turn.
        Origin &waitedFor = m_origins[origin];
        if (waitedFor.first || waitedFor.multiplexed) {
            waitedFor.waiting.append(easy);
            release(origin);
            return true;
        }
        waitedFor.first = easy;
    } else if (!origin.isEmpty()) {
        // Nothing to wait for: it takes a connection of its own.
        curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 0L);
    }
    if (start(easy))
        return true;
    forget(easy);
    m_transfers.erase(easy);
    return false;
}

bool CurlMulti::start(CURL *easy)
{
    if (curl_multi_add_handle(m_multi, easy) != CURLM_OK)
        return false;
    Transfer &transfer = m_transfers[easy];
    transfer.started = true;
    if (const auto origin = m_origins.find(transfer.origin); origin != m_origins.end()) {
        ++origin->second.running;
        transfer.counted = true;
    }
    // Every transfer's sockets, those of origins that wait for nothing too.
    sendBackWhenFull(easy, transfer);
    return true;
}

void CurlMulti::sendBackWhenFull(CURL *easy, Transfer &transfer)
{
    // Asked for every socket the transfer would open. The transfer, in its
    // node of the map, outlives its time in libcurl.
    const curl_opensocket_callback open = [](void *data, curlsocktype purpose,
                                             curl_sockaddr *address) -> curl_socket_t {
        auto *transfer = static_cast<Transfer *>(data);
        const auto origin = transfer->multi->m_origins.find(transfer->origin);
        if (purpose == CURLSOCKTYPE_IPCXN && origin != transfer->multi->m_origins.end() &&
            origin->second.multiplexed && origin->second.running > 1) {
            // The others run on a connection that takes no more streams.
            origin->second.streams = std::min(origin->second.streams, origin->second.running - 1);
            transfer->sentBack = true;
            return CURL_SOCKET_BAD;
        }
        // Not handed on to the tools the program runs.
        return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    };
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, open);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &transfer);
}

bool CurlMulti::tookBack(CURL *easy, Transfer &transfer, int result)
{
    if (!std::exchange(transfer.sentBack, false) || result != CURLE_COULDNT_CONNECT)
        return false;
    const auto origin = m_origins.find(transfer.origin);
    if (origin == m_origins.end())
        return false;
    curl_multi_remove_handle(m_multi, easy);
    transfer.started = false;
    if (std::exchange(transfer.counted, false))
        --origin->second.running;
    origin->second.waiting.append(easy);
    return true;
}

void CurlMulti::startOrRefuse(CURL *easy)
{
    if (!start(easy))
        refuse(easy);
}

void CurlMulti::remove(CURL *easy)
{
    const auto found = m_transfers.find(easy);
    if (found != m_transfers.end())
        drop(found);
}

CurlMulti::Done CurlMulti::drop(std::unordered_map<CURL *, Transfer>::iterator found)
{
    CURL *easy = found->first;
    Done done = std::move(found->second.done);
    const bool started = found->second.started;
    forget(easy);
    m_transfers.erase(found);
    if (started)
        curl_multi_remove_handle(m_multi, easy);
    releaseWaiting();
    return done;
}

void CurlMulti::forget(CURL *easy)
{
    const auto transfer = m_transfers.find(easy);
    if (transfer == m_transfers.end() || transfer->second.origin.isEmpty())
        return;
    const auto found = m_origins.find(transfer->second.origin);
    if (found == m_origins.end())
        return;
    Origin &origin = found->second;
    origin.waiting.removeOne(easy);
    if (origin.first == easy)
        origin.first = nullptr;
    if (std::exchange(transfer->second.counted, false))
        --origin.running;
    if (!origin.first && origin.waiting.isEmpty() && origin.running == 0)
        m_origins.erase(found);
}

bool CurlMulti::hasBegun(CURL *easy)
{
    // Set once the reply has begun, over a connection new or reused. By then
    // an HTTP/2 server's settings have come too: released before them, a
    // burst would find the connection holding only libcurl's default of 100
    // streams and open more connections for the rest.
    curl_off_t begun = 0;
    return curl_easy_getinfo(easy, CURLINFO_STARTTRANSFER_TIME_T, &begun) == CURLE_OK && begun > 0;
}

void CurlMulti::releaseWaiting()
{
    std::vector<QString> names;
    for (const auto &[name, origin] : m_origins)
        if (!origin.waiting.isEmpty())
            names.push_back(name);
    for (const QString &name : names)
        release(name);
}

void CurlMulti::release(const QString &name)
{
    // A transfer refused on the way may take the origin with it.
    auto found = m_origins.find(name);
    if (found == m_origins.end() || found->second.waiting.isEmpty())
        return;
    Origin &origin = found->second;
    if (!origin.multiplexed && !origin.first) {
        // The first ended before its reply began: another goes first.
        origin.first = origin.waiting.takeFirst();
        startOrRefuse(origin.first);
        return;
    }
    if (!origin.multiplexed) {
        if (!hasBegun(origin.first))
            return;
        long version = 0;
        curl_easy_getinfo(origin.first, CURLINFO_HTTP_VERSION, &version);
        if (version != 0 && version < CURL_HTTP_VERSION_2_0) {
            // A server of HTTP/1.1 serves one request at a time on a
            // connection: the others take connections of their own, as many
            // as a host may have, rather than wait for it.
            if (m_servesOneAtATime.size() >= maximumOriginsKept)
                m_servesOneAtATime.clear();
            m_servesOneAtATime.insert(name);
            for (CURL *easy : std::exchange(origin.waiting, {})) {
                curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 0L);
                startOrRefuse(easy);
            }
            return;
        }
        origin.multiplexed = true;
    }
    for (; found != m_origins.end() && !found->second.waiting.isEmpty() &&
           found->second.running < found->second.streams;
         found = m_origins.find(name))
        startOrRefuse(found->second.waiting.takeFirst());
}

void CurlMulti::refuse(CURL *easy)
{
    // Told as a transfer that ended, from the event loop, unless removed first.
    forget(easy);
    m_transfers[easy].refused = true;
    QMetaObject::invokeMethod(
        &m_context,
        [this, easy] {
            const auto found = m_transfers.find(easy);
            if (found == m_transfers.end() || !found->second.refused)
                return;
            Done done = std::move(found->second.done);
            m_transfers.erase(found);
            done(CURLE_FAILED_INIT);
        },
        Qt::QueuedConnection);
}

void CurlMulti::resume(CURL *easy)
{
    const CURLcode result = curl_easy_pause(easy, CURLPAUSE_CONT);
    const auto found = m_transfers.find(easy);
    if (result == CURLE_OK || found == m_transfers.end())
        return;
    // A callback refused what libcurl held back: libcurl leaves the transfer
    // where it is, so it ends here.
    drop(found)(result);
}

int CurlMulti::onSocket(CURL *, curl_socket_t socket, int what, void *self, void *)
{
    auto *multi = static_cast<CurlMulti *>(self);
    if (what == CURL_POLL_REMOVE) {
        const auto found = multi->m_watches.find(socket);
        if (found == multi->m_watches.end())
            return 0;
        // Perhaps in the middle of its own signal; the socket's number may
        // come back at once for another.
        for (QSocketNotifier *notifier : {found->second->read, found->second->write}) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        multi->m_watches.erase(found);
        return 0;
    }
    std::unique_ptr<Watch> &watch = multi->m_watches[socket];
    if (!watch) {
        watch = std::make_unique<Watch>();
        watch->read = new QSocketNotifier(socket, QSocketNotifier::Read, &multi->m_context);
        watch->write = new QSocketNotifier(socket, QSocketNotifier::Write, &multi->m_context);
        QObject::connect(watch->read, &QSocketNotifier::activated, &multi->m_context,
                         [multi, socket] { multi->act(socket, CURL_CSELECT_IN); });
        QObject::connect(watch->write, &QSocketNotifier::activated, &multi->m_context,
                         [multi, socket] { multi->act(socket, CURL_CSELECT_OUT); });
    }
    watch->set(watch->read, what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    watch->set(watch->write, what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    return 0;
}

int CurlMulti::onTimer(CURLM *, long milliseconds, void *self)
{
    auto *multi = static_cast<CurlMulti *>(self);
    if (milliseconds < 0)
        multi->m_timer.stop();
    else
        multi->m_timer.start(int(std::min<long>(milliseconds, 1 << 30)));
    return 0;
}

void CurlMulti::act(int socket, int events)
{
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    collectDone();
    if (!m_origins.empty())
        releaseWaiting();
}

void CurlMulti::collectDone()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL *easy = message->easy_handle;
        const int result = message->data.result;
        const auto found = m_transfers.find(easy);
        if (found == m_transfers.end() || tookBack(easy, found->second, result))
            continue;
        // A first transfer may end within the pass that began its reply:
        // the others go now, before another would go first and alone.
        if (const auto origin = m_origins.find(found->second.origin);
            origin != m_origins.end() && origin->second.first == easy &&
            !origin->second.multiplexed && hasBegun(easy))
            release(QString(origin->first));
        Done done = std::move(found->second.done);
        forget(easy);
        m_transfers.erase(found);
        curl_multi_remove_handle(m_multi, easy);
        // May add or remove transfers: the messages left stay valid.
        done(result);
    }
}

} // namespace corvane
