#include "location/TileLoader.h"

#include "platform/BoundedImage.h"
#include "platform/BoundedReply.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <optional>

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

namespace corvane {

namespace {

const char *const standardTemplate = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
const char *const standardAttribution = "© OpenStreetMap contributors";

} // namespace

QUrl MapTileSource::url(int zoom, int x, int y) const
{
    QString text = urlTemplate;
    text.replace("{z}", QString::number(zoom));
    text.replace("{x}", QString::number(x));
    text.replace("{y}", QString::number(y));
    return QUrl(text);
}

MapTileSource MapTileSource::standardDefault()
{
    MapTileSource source;
    if (qEnvironmentVariableIsSet("CORVANE_MAP_TILE_URL")) {
        source.urlTemplate = qEnvironmentVariable("CORVANE_MAP_TILE_URL");
        source.attribution =
            qEnvironmentVariable("CORVANE_MAP_TILE_ATTRIBUTION", standardAttribution);
    } else {
        source.urlTemplate = standardTemplate;
        source.attribution = standardAttribution;
    }
    return source;
}

MapTileSource MapTileSource::hybridDefault()
{
    MapTileSource source;
    source.urlTemplate = qEnvironmentVariable("CORVANE_MAP_HYBRID_TILE_URL");
    source.attribution = qEnvironmentVariable("CORVANE_MAP_HYBRID_TILE_ATTRIBUTION");
    return source;
}

// Lives on the loader's thread: the network manager, its disk cache and the
// queue of wanted tiles.
class TileLoader::Worker : public QObject {
    Q_OBJECT
public:
    explicit Worker(Options options) : m_options(std::move(options)) { m_clock.start(); }

    void setWanted(quintptr client, const QList<QUrl> &urls)
    {
        if (urls.isEmpty())
            m_wanted.remove(client);
        else
            m_wanted.insert(client, urls);
        pump();
    }

signals:
    void loaded(const QUrl &url, const QImage &image);
    void failed(const QUrl &url);

private:
    QNetworkAccessManager &manager()
    {
        if (!m_manager) {
            m_manager = new QNetworkAccessManager(this);
            if (!m_options.cacheDirectory.isEmpty()) {
                m_cache = new QNetworkDiskCache(m_manager);
                m_cache->setCacheDirectory(m_options.cacheDirectory);
                m_cache->setMaximumCacheSize(m_options.maximumCacheSize);
                m_manager->setCache(m_cache);
            }
        }
        return *m_manager;
    }

    // The next wanted tile not under way, taking the clients in turn.
    std::optional<QUrl> next()
    {
        for (auto it = m_wanted.begin(); it != m_wanted.end();) {
            QList<QUrl> &urls = it.value();
            while (!urls.isEmpty() &&
                   (m_inFlight.contains(urls.front()) || recentlyDelivered(urls.front())))
                urls.removeFirst();
            if (urls.isEmpty()) {
                it = m_wanted.erase(it);
                continue;
            }
            const QUrl url = urls.takeFirst();
            return url;
        }
        return std::nullopt;
    }

    // A client that asks again before our answer reached it would have the
    // tile fetched twice.
    bool recentlyDelivered(const QUrl &url)
    {
        const auto it = m_delivered.constFind(url);
        if (it == m_delivered.constEnd())
            return false;
        if (m_clock.elapsed() - it.value() < deliveryWindowMs)
            return true;
        m_delivered.erase(it);
        return false;
    }

    void pump()
    {
        while (m_inFlight.size() < std::max(1, m_options.maximumConcurrentRequests)) {
            const auto url = next();
            if (!url)
                return;
            start(*url);
        }
    }

    void start(const QUrl &url)
    {
        QNetworkRequest request(url);
        if (!m_options.userAgent.isEmpty())
            request.setHeader(QNetworkRequest::UserAgentHeader, m_options.userAgent);
        request.setTransferTimeout(m_options.transferTimeoutMilliseconds);
        m_inFlight.insert(url);
        QNetworkReply *reply = manager().get(request);
        auto *bounds =
            new BoundedReply(reply, m_options.maximumTileSize,
                             std::chrono::milliseconds(m_options.transferDeadlineMilliseconds));
        connect(reply, &QNetworkReply::finished, this, [this, reply, bounds, url] {
            reply->deleteLater();
            m_inFlight.remove(url);
            if (m_delivered.size() > 4096)
                m_delivered.clear();
            m_delivered.insert(url, m_clock.elapsed());
            finish(url, *reply, *bounds);
            pump();
        });
    }

    void finish(const QUrl &url, QNetworkReply &reply, BoundedReply &bounds)
    {
        const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        QImage image;
        if (bounds.failure() == BoundedReply::Failure::none &&
            reply.error() == QNetworkReply::NoError && status == 200) {
            QByteArray body = bounds.takeBody();
            QBuffer buffer(&body);
            buffer.open(QIODevice::ReadOnly);
            image = BoundedImage::read(buffer);
        }
        if (image.isNull()) {
            // Neither a refusal nor a damaged image may stand in for the tile
            // next time.
            if (m_cache)
                m_cache->remove(url);
            emit failed(url);
            return;
        }
        emit loaded(url, image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }

    const Options m_options;
    QNetworkAccessManager *m_manager = nullptr;
    QNetworkDiskCache *m_cache = nullptr;
    QHash<quintptr, QList<QUrl>> m_wanted;
    QSet<QUrl> m_inFlight;
    QHash<QUrl, qint64> m_delivered;
    QElapsedTimer m_clock;
    static constexpr qint64 deliveryWindowMs = 2000;
};

TileLoader::TileLoader(Options options, QObject *parent) : QObject(parent)
{
    m_worker = new Worker(std::move(options));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &Worker::loaded, this, &TileLoader::tileLoaded, Qt::QueuedConnection);
    connect(m_worker, &Worker::failed, this, &TileLoader::tileFailed, Qt::QueuedConnection);
    m_thread.setObjectName("com.quendrith.corvane.map.tiles");
    m_thread.start();
}

TileLoader::~TileLoader()
{
    m_thread.quit();
    m_thread.wait();
}

std::shared_ptr<TileLoader> TileLoader::shared()
{
    static const auto loader = [] {
        Options options;
        options.cacheDirectory = standardCacheDirectory();
        options.userAgent = standardUserAgent();
        return std::make_shared<TileLoader>(options);
    }();
    return loader;
}

QString TileLoader::standardCacheDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           "/com.quendrith.corvane/MapTiles";
}

QByteArray TileLoader::standardUserAgent()
{
    return QByteArray("Corvane/") + CORVANE_VERSION;
}

void TileLoader::request(const QObject *client, const QList<QUrl> &urls)
{
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, client = quintptr(client), urls] { worker->setWanted(client, urls); },
        Qt::QueuedConnection);
}

void TileLoader::forget(const QObject *client)
{
    request(client, {});
}

} // namespace corvane

#include "TileLoader.moc"
