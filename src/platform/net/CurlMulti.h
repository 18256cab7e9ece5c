#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <unordered_map>

typedef void CURL;
typedef void CURLM;

class QSocketNotifier;

namespace corvane {

// One libcurl multi handle driven by the event loop of the thread that made
// it: its sockets are watched by socket notifiers and its timeouts by a
// timer, so no thread waits on a transfer. The transfers added to it share
// its connections (HTTP/1.1 connections kept alive, HTTP/2 multiplexed), at
// most `maximumHostConnections` to a host; the others wait for one.
class CurlMulti {
public:
    static constexpr long maximumHostConnections = 6;

    // Told, from the event loop and never from inside libcurl, how the
    // transfer ended (a CURLcode).
    using Done = std::function<void(int result)>;

    CurlMulti();
    // Every transfer is removed first.
    ~CurlMulti();
    CurlMulti(const CurlMulti &) = delete;
    CurlMulti &operator=(const CurlMulti &) = delete;

    // False when libcurl refused the handle.
    bool add(CURL *easy, Done done);
    // Ends the transfer where it is; its `done` does not run.
    void remove(CURL *easy);
    // Lets a paused transfer go on; its callbacks may run before this returns.
    void resume(CURL *easy);

private:
    struct Watch;

    static int onSocket(CURL *easy, int socket, int what, void *self, void *socketData);
    static int onTimer(CURLM *multi, long milliseconds, void *self);
    void act(int socket, int events);
    void collectDone();

    CURLM *m_multi = nullptr;
    // The notifiers' parent: deleting it takes the retired ones too.
    QObject m_context;
    QTimer m_timer;
    std::unordered_map<int, std::unique_ptr<Watch>> m_watches;
    std::unordered_map<CURL *, Done> m_transfers;
};

} // namespace corvane
