#include "BenchApplication.h"

#include "fixtures/http/HostileReplies.h"
#include "fixtures/http/LocalHttpServer.h"
#include "location/TileLoader.h"
#include "platform/net/BoundedReply.h"
#include "platform/net/HttpClient.h"

#include <QBuffer>
#include <QEventLoop>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <memory>
#include <thread>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

constexpr int tileCount = 200;

// A tile-sized PNG: 144 × 144 grey noise, about 20 KB.
QByteArray tilePng()
{
    QImage image(144, 144, QImage::Format_Grayscale8);
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.scanLine(y)[x] = uchar(random.bounded(256));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A body of 100 MB, for reading at the speed of the wire.
constexpr qint64 largeBodyBytes = 100'000'000;

// A local HTTPS server with every tile, trusted by the program's transport,
// and a large body.
struct Tiles {
    // Made once the application is.
    std::unique_ptr<fixture::LocalHttpServer> made;
    fixture::LocalHttpServer &server;
    QList<QUrl> urls;

    explicit Tiles(fixture::LocalHttpServer::Transport transport, quint32 streams = 1000)
        : made((bench::ensureApplication(),
                std::make_unique<fixture::LocalHttpServer>(0, transport))),
          server(*made)
    {
        server.setConcurrentStreams(streams);
        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.addCaCertificate(fixture::LocalHttpServer::certificate());
        QSslConfiguration::setDefaultConfiguration(trusting);
        const QByteArray png = tilePng();
        for (int i = 0; i < tileCount; ++i) {
            const QString path = QString("/tiles/%1.png").arg(i);
            server.setReply(path, {.body = png, .contentType = "image/png"});
            urls.append(server.url(path));
        }
        server.setReply("/large", {.body = png,
                                   .contentType = "application/octet-stream",
                                   .delivery = fixture::LocalHttpServer::Delivery::declared,
                                   .declaredLength = largeBodyBytes});
    }
};

// Over HTTPS, HTTP/1.1 or HTTP/2 (allowing 1000 streams or, as many
// servers do, 100), or plain HTTP.
enum class Wire { https, http2, http2At100Streams, plain };

Tiles &tiles(Wire wire = Wire::https)
{
    using Transport = fixture::LocalHttpServer::Transport;
    static Tiles *made = new Tiles(Transport::tls);
    static Tiles *multiplexed = new Tiles(Transport::http2);
    static Tiles *limited = new Tiles(Transport::http2, 100);
    static Tiles *plain = new Tiles(Transport::plain);
    switch (wire) {
    case Wire::https: return *made;
    case Wire::http2: return *multiplexed;
    case Wire::http2At100Streams: return *limited;
    case Wire::plain: return *plain;
    }
    return *made;
}

void countConnections(benchmark::State &state, const Tiles &world, int before)
{
    state.counters["connections"] = benchmark::Counter(world.server.connectionCount() - before,
                                                       benchmark::Counter::kAvgIterations);
}

// As the map asks for its tiles: through a tile loader of its own (no disk
// cache), two requests at a time, each tile decoded.
void BM_MapTilesOverHttps(benchmark::State &state)
{
    Tiles &world = tiles();
    const int before = world.server.connectionCount();
    for (auto _ : state) {
        state.PauseTiming();
        TileLoader loader({});
        int loaded = 0, failed = 0;
        QEventLoop loop;
        const auto settle = [&] {
            if (loaded + failed == tileCount)
                loop.quit();
        };
        QObject::connect(&loader, &TileLoader::tileLoaded, [&] { ++loaded, settle(); });
        QObject::connect(&loader, &TileLoader::tileFailed, [&] { ++failed, settle(); });
        const QObject client;
        state.ResumeTiming();
        loader.request(&client, world.urls);
        QTimer::singleShot(60s, &loop, &QEventLoop::quit);
        loop.exec();
        if (loaded != tileCount) {
            state.SkipWithError("not every tile arrived");
            break;
        }
    }
    countConnections(state, world, before);
}
BENCHMARK(BM_MapTilesOverHttps)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// As HttpClient's callers ask: every request at once, through a client of
// its own, to a server of HTTP/1.1 or of HTTP/2 allowing so many streams.
void BM_HttpClientGetsOverHttps(benchmark::State &state)
{
    Tiles &world = tiles(state.range(0) == 0     ? Wire::https
                         : state.range(1) == 100 ? Wire::http2At100Streams
                                                 : Wire::http2);
    const int before = world.server.connectionCount();
    for (auto _ : state) {
        state.PauseTiming();
        auto client = HttpClient::makeNetworkClient();
        std::atomic<int> whole = 0, done = 0;
        std::vector<std::shared_ptr<HttpRequest>> requests;
        state.ResumeTiming();
        for (const QUrl &url : world.urls)
            requests.push_back(
                client->get({url, {}, {30s, 60s, 1 << 20}}, [&](const HttpResponse &response) {
                    if (response.status == 200 && response.body)
                        ++whole;
                    ++done;
                }));
        const auto started = std::chrono::steady_clock::now();
        while (done < tileCount && std::chrono::steady_clock::now() - started < 60s)
            std::this_thread::sleep_for(1ms);
        state.PauseTiming();
        if (whole != tileCount) {
            state.SkipWithError("not every reply arrived");
            break;
        }
        requests.clear();
        client.reset();
        state.ResumeTiming();
    }
    countConnections(state, world, before);
}
BENCHMARK(BM_HttpClientGetsOverHttps)
    ->ArgNames({"http2", "streams"})
    ->Args({0, 0})
    ->Args({1, 1000})
    ->Args({1, 100})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// 100 MB through HttpClient, into memory, over HTTPS (0) or plain HTTP (1).
void BM_HttpClientLargeBody(benchmark::State &state)
{
    const QUrl url = tiles(state.range(0) == 1 ? Wire::plain : Wire::https).server.url("/large");
    for (auto _ : state) {
        state.PauseTiming();
        auto client = HttpClient::makeNetworkClient();
        std::atomic<bool> done = false;
        qint64 received = 0;
        state.ResumeTiming();
        const auto request =
            client->get({url, {}, {30s, 60s, largeBodyBytes}}, [&](const HttpResponse &response) {
                received = response.body ? response.body->size() : -1;
                done = true;
            });
        const auto started = std::chrono::steady_clock::now();
        while (!done && std::chrono::steady_clock::now() - started < 60s)
            std::this_thread::sleep_for(1ms);
        state.PauseTiming();
        if (received != largeBodyBytes) {
            state.SkipWithError("the body did not arrive whole");
            break;
        }
        client.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * largeBodyBytes);
}
BENCHMARK(BM_HttpClientLargeBody)
    ->ArgName("plain")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// A figure of /proc/self/status, in bytes.
qint64 statusBytes(const std::string &field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::stoll(line.substr(field.size() + 1)) * 1024;
    return 0;
}

// Six gzip bombs (a megabyte on the wire, a gibibyte inflated) at once
// through one client, each held to 8 MiB, over HTTP/1.1 (0) or HTTP/2 (1):
// how long until all are refused, and how far the resident memory peaks
// above where it was.
void BM_HttpClientCompressionBombs(benchmark::State &state)
{
    constexpr int bombs = 6;
    Tiles &world = tiles(state.range(0) == 1 ? Wire::http2 : Wire::https);
    static const QByteArray bomb = fixture::gzippedZeros(1024);
    world.server.setReply("/bomb", {.body = bomb,
                                    .contentType = "application/octet-stream",
                                    .fields = "Content-Encoding: gzip\r\n"});
    qint64 peakGrowth = 0;
    int refused = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto client = HttpClient::makeNetworkClient();
        std::atomic<int> tooLarge = 0, done = 0;
        std::vector<std::shared_ptr<HttpRequest>> requests;
        // The peak is measured from here.
        std::ofstream("/proc/self/clear_refs") << "5";
        const qint64 before = statusBytes("VmRSS");
        state.ResumeTiming();
        for (int i = 0; i < bombs; ++i)
            requests.push_back(
                client->get({world.server.url(QString("/bomb?%1").arg(i)), {}, {20s, 20s, 8 << 20}},
                            [&](const HttpResponse &response) {
                                if (response.errorText == BoundedReply::tooLargeText)
                                    ++tooLarge;
                                ++done;
                            }));
        const auto started = std::chrono::steady_clock::now();
        while (done < bombs && std::chrono::steady_clock::now() - started < 60s)
            std::this_thread::sleep_for(1ms);
        state.PauseTiming();
        peakGrowth = std::max(peakGrowth, statusBytes("VmHWM") - before);
        refused += tooLarge;
        requests.clear();
        client.reset();
        state.ResumeTiming();
    }
    state.counters["peak_growth_MB"] = double(peakGrowth) / 1e6;
    state.counters["refused_as_too_large"] =
        benchmark::Counter(refused, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_HttpClientCompressionBombs)
    ->ArgName("http2")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The yardstick: the same 100 MB read from the same server by the `curl`
// command, its start included.
void BM_CurlCommandLargeBody(benchmark::State &state)
{
    const QString url =
        tiles(state.range(0) == 1 ? Wire::plain : Wire::https).server.url("/large").toString();
    for (auto _ : state) {
        QProcess curl;
        curl.start("curl", {"-k", "-s", "-o", "/dev/null", "-w", "%{size_download}", url});
        if (!curl.waitForFinished(60000) ||
            curl.readAllStandardOutput().toLongLong() != largeBodyBytes) {
            state.SkipWithError("curl did not read the body whole");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * largeBodyBytes);
}
BENCHMARK(BM_CurlCommandLargeBody)
    ->ArgName("plain")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

} // namespace
