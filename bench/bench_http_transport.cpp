#include "BenchApplication.h"

#include "fixtures/http/LocalHttpServer.h"
#include "location/TileLoader.h"
#include "platform/net/HttpClient.h"

#include <QBuffer>
#include <QEventLoop>
#include <QImage>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
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

// A local HTTPS server with every tile, trusted by the program's transport.
struct Tiles {
    // Made once the application is.
    std::unique_ptr<fixture::LocalHttpServer> made;
    fixture::LocalHttpServer &server;
    QList<QUrl> urls;

    Tiles()
        : made((bench::ensureApplication(), std::make_unique<fixture::LocalHttpServer>(
                                                0, fixture::LocalHttpServer::Transport::tls))),
          server(*made)
    {
        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.addCaCertificate(fixture::LocalHttpServer::certificate());
        QSslConfiguration::setDefaultConfiguration(trusting);
        const QByteArray png = tilePng();
        for (int i = 0; i < tileCount; ++i) {
            const QString path = QString("/tiles/%1.png").arg(i);
            server.setReply(path, {.body = png, .contentType = "image/png"});
            urls.append(server.url(path));
        }
    }
};

Tiles &tiles()
{
    static Tiles *made = new Tiles;
    return *made;
}

void countConnections(benchmark::State &state, int before)
{
    state.counters["connections"] = benchmark::Counter(tiles().server.connectionCount() - before,
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
    countConnections(state, before);
}
BENCHMARK(BM_MapTilesOverHttps)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// As HttpClient's callers ask: every request at once, through a client of
// its own.
void BM_HttpClientGetsOverHttps(benchmark::State &state)
{
    Tiles &world = tiles();
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
    countConnections(state, before);
}
BENCHMARK(BM_HttpClientGetsOverHttps)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace
