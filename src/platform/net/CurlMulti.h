#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>

typedef void CURL;
typedef void CURLM;

class QSocketNotifier;

namespace corvane {

// One libcurl multi handle driven by the event loop of the thread that made
// it: its sockets are watched by socket notifiers and its timeouts by a
// timer, so no thread waits on a transfer. The transfers added to it share
// its connections (HTTP/1.1 connections kept alive, HTTP/2 multiplexed), at
// most `maximumHostConnections` to a host; the others wait for one.
//
// While nothing is known of an HTTPS origin, one transfer to it goes first
// and the others wait until its reply has begun: libcurl would otherwise open
// a connection for each while the first one's protocol is unknown, where over
// HTTP/2 they all share the first. Over HTTP/2, no more go at once than the
// connection has streams for, and the others wait for a stream to free:
// libcurl would open another connection for a transfer that finds the first
// full. libcurl does not say how many streams the server allows; where it
// allows fewer than we send, a transfer about to open that connection is
// sent back to wait instead, and tells how many fit.
// Once an origin is known to speak HTTP/1.1, its transfers open connections
// of their own, up to the host's limit, without waiting.
class CurlMulti {
public:
    static constexpr long maximumHostConnections = 6;
    // Streams of one HTTP/2 connection at once, unless the server allows
    // fewer: what servers are asked to allow at least, and what libcurl
    // takes them to allow until their settings come.
    static constexpr long maximumStreams = 100;

    // Told, from the event loop and never from inside libcurl, how the
    // transfer ended (a CURLcode).
    using Done = std::function<void(int result)>;

    CurlMulti();
    // Every transfer is removed first.
    ~CurlMulti();
    CurlMulti(const CurlMulti &) = delete;
    CurlMulti &operator=(const CurlMulti &) = delete;

    // False when libcurl refused the handle. `origin` ("https://host:port")
    // names the HTTPS server whose connections the transfer may share; empty
    // for one that waits for nothing.
    bool add(CURL *easy, Done done, const QString &origin = {});
    // Ends the transfer where it is; its `done` does not run.
    void remove(CURL *easy);
    // Lets a paused transfer go on; its callbacks may run before this
    // returns, and its `done` when they refuse what libcurl held back.
    void resume(CURL *easy);

private:
    struct Watch;
    struct Transfer {
        Done done;
        QString origin;
        CurlMulti *multi = nullptr;
        // Handed to libcurl; else waiting for its origin's first reply or a
        // free stream.
        bool started = false;
        // Started and counted among its origin's running transfers.
        bool counted = false;
        // Kept from opening a connection beside its origin's full one.
        bool sentBack = false;
        // libcurl would not take it.
        bool refused = false;
    };
    // The transfer that connects first, those that wait for it or for a
    // stream, and how many run. Kept while any of them is.
    struct Origin {
        CURL *first = nullptr;
        QList<CURL *> waiting;
        long running = 0;
        // Its first reply came over HTTP/2: the others go as streams free.
        bool multiplexed = false;
        // What its connection took before it was full.
        long streams = maximumStreams;
    };

    static int onSocket(CURL *easy, int socket, int what, void *self, void *socketData);
    static int onTimer(CURLM *multi, long milliseconds, void *self);
    void act(int socket, int events);
    void collectDone();
    bool start(CURL *easy);
    // Lets the transfers waiting for an origin go: once its first one's
    // reply has begun, as many as its connection has streams for; another
    // one first when it ended.
    void releaseWaiting();
    void release(const QString &name);
    // Starts it, or tells it that libcurl would not take it.
    void startOrRefuse(CURL *easy);
    // Has the transfer wait for a stream rather than open a connection
    // beside its origin's full one.
    void sendBackWhenFull(CURL *easy, Transfer &transfer);
    // Ended without trying: it waits again.
    bool tookBack(CURL *easy, Transfer &transfer, int result);
    void refuse(CURL *easy);
    void forget(CURL *easy);
    // Takes the transfer out of libcurl and of the tables, lets the waiting
    // ones go, and hands back what it was to be told.
    Done drop(std::unordered_map<CURL *, Transfer>::iterator found);
    static bool hasBegun(CURL *easy);

    CURLM *m_multi = nullptr;
    // The notifiers' parent: deleting it takes the retired ones too.
    QObject m_context;
    QTimer m_timer;
    std::unordered_map<int, std::unique_ptr<Watch>> m_watches;
    std::unordered_map<CURL *, Transfer> m_transfers;
    std::unordered_map<QString, Origin> m_origins;
    // Origins whose first reply came over HTTP/1.1: their transfers wait for
    // nothing. Forgotten all at once past `maximumOriginsKept`.
    static constexpr std::size_t maximumOriginsKept = 256;
    std::unordered_set<QString> m_servesOneAtATime;
};

} // namespace corvane
