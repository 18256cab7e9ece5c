#include "location/TileLoader.h"

#include "platform/formats/BoundedImage.h"
#include "platform/net/BoundedNetworkAccessManager.h"
#include "platform/net/BoundedReply.h"

#include <QBuffer>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <memory>
#include <optional>

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

namespace corvane {

namespace {

const char *const standardTemplate = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
const char *const standardAttribution = "© OpenStreetMap contributors";

using RawHeaders = QNetworkCacheMetaData::RawHeaderList;

QByteArray headerOf(const RawHeaders &headers, const QByteArray &lowerName)
{
    for (const auto &[name, value] : headers)
        if (name.toLower() == lowerName)
            return value;
    return {};
}

// The directives of a Cache-Control value, by lower-case name.
QHash<QByteArray, QByteArray> cacheControl(const QByteArray &value)
{
    QHash<QByteArray, QByteArray> directives;
    for (const QByteArray &part : value.split(',')) {
        const qsizetype equals = part.indexOf('=');
        QByteArray argument = equals < 0 ? QByteArray() : part.mid(equals + 1).trimmed();
        if (argument.size() >= 2 && argument.startsWith('"') && argument.endsWith('"'))
            argument = argument.mid(1, argument.size() - 2);
        directives.insert((equals < 0 ? part : part.left(equals)).trimmed().toLower(), argument);
    }
    return directives;
}

// "Sun, 06 Nov 1994 08:49:37 GMT", or the older "Sun Nov  6 08:49:37 1994";
// invalid for anything else.
QDateTime httpDate(const QByteArray &value)
{
    static const QByteArrayList months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QList<QByteArray> words = value.simplified().split(' ');
    QDate date;
    QTime time;
    if (words.size() == 6 && words[0].endsWith(',') && words[5] == "GMT") {
        date = QDate(words[3].toInt(), int(months.indexOf(words[2])) + 1, words[1].toInt());
        time = QTime::fromString(QString::fromLatin1(words[4]), u"HH:mm:ss");
    } else if (words.size() == 5) {
        date = QDate(words[4].toInt(), int(months.indexOf(words[1])) + 1, words[2].toInt());
        time = QTime::fromString(QString::fromLatin1(words[3]), u"HH:mm:ss");
    }
    return date.isValid() && time.isValid() ? QDateTime(date, time, Qt::UTC) : QDateTime();
}

// The disk cache is driven here as Qt's own HTTP transport drives it, so that
// tiles it stored keep their meaning.

// Whether a cached reply may stand in for the server's: until its expiration
// date when it has one, else for a tenth of the time between its last change
// and its Date, less its age.
bool isFresh(const QNetworkCacheMetaData &entry)
{
    const RawHeaders headers = entry.rawHeaders();
    if (cacheControl(headerOf(headers, "cache-control")).contains("no-cache"))
        return false;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (entry.expirationDate().isValid())
        return now.secsTo(entry.expirationDate()) >= 0;
    const QDateTime date = httpDate(headerOf(headers, "date"));
    if (!date.isValid() || !entry.lastModified().isValid())
        return false;
    const qint64 age =
        std::max({qint64(0), date.secsTo(now), headerOf(headers, "age").toLongLong()});
    return entry.lastModified().secsTo(date) / 10 > age;
}

// Fields of one connection, and cookies: never kept.
bool isNeverKept(const QByteArray &lowerName)
{
    return lowerName == "connection" || lowerName == "keep-alive" ||
           lowerName == "proxy-authenticate" || lowerName == "proxy-authorization" ||
           lowerName == "te" || lowerName == "trailers" || lowerName == "transfer-encoding" ||
           lowerName == "upgrade" || lowerName == "set-cookie";
}

// The entry for a reply to `url`: its end-to-end fields (a 304's merged into
// those of the entry it confirms), its status, and the expiration its max-age
// or else its Expires gives.
QNetworkCacheMetaData cacheEntry(QNetworkCacheMetaData entry, const QUrl &url,
                                 const QNetworkReply &reply)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    RawHeaders headers = entry.rawHeaders();
    for (const QByteArray &name : reply.rawHeaderList()) {
        const QByteArray lower = name.toLower();
        const QByteArray value = reply.rawHeader(name);
        // A 304's length is of its own empty body; a 1xx warning is of this
        // transfer only.
        if (isNeverKept(lower) || (lower == "content-length" && status == 304) ||
            (lower == "warning" && value.size() == 3 && value.startsWith('1')))
            continue;
        const auto same = std::find_if(headers.begin(), headers.end(), [&](const auto &header) {
            return header.first.toLower() == lower;
        });
        if (same == headers.end())
            headers.append({name, value});
        else if (lower != "content-encoding" && lower != "content-range" && lower != "content-type")
            same->second = value;
    }
    entry.setUrl(url);
    entry.setRawHeaders(headers);
    const auto directives = cacheControl(headerOf(headers, "cache-control"));
    const QByteArray maxAge = directives.value("max-age");
    if (!maxAge.isEmpty())
        entry.setExpirationDate(QDateTime::currentDateTimeUtc().addSecs(maxAge.toInt()));
    else if (const QByteArray expires = headerOf(headers, "expires"); !expires.isEmpty())
        entry.setExpirationDate(httpDate(expires));
    if (const QByteArray changed = headerOf(headers, "last-modified"); !changed.isEmpty())
        entry.setLastModified(httpDate(changed));
    entry.setSaveToDisk(!directives.contains("no-store"));
    if (status != 304)
        entry.setAttributes({{QNetworkRequest::HttpStatusCodeAttribute, status},
                             {QNetworkRequest::HttpReasonPhraseAttribute,
                              reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute)}});
    return entry;
}

QImage decodeTile(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const QImage image = BoundedImage::read(buffer);
    return image.isNull() ? image : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

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

// Lives on the loader's thread: the network manager, the disk cache and the
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
    // A whole 200 reply the cache holds; none when the entry is invalid.
    struct CachedTile {
        QNetworkCacheMetaData entry;
        QByteArray body;
    };

    QNetworkAccessManager &manager()
    {
        // Its replies hold no more of a body than the tile's bound, whatever
        // the status.
        if (!m_manager)
            m_manager = new BoundedNetworkAccessManager(this);
        return *m_manager;
    }

    QNetworkDiskCache *cache()
    {
        if (!m_cache && !m_options.cacheDirectory.isEmpty()) {
            m_cache = new QNetworkDiskCache(this);
            m_cache->setCacheDirectory(m_options.cacheDirectory);
            m_cache->setMaximumCacheSize(m_options.maximumCacheSize);
        }
        return m_cache;
    }

    CachedTile cached(const QUrl &url)
    {
        QNetworkCacheMetaData entry = cache() ? m_cache->metaData(url) : QNetworkCacheMetaData();
        if (!entry.isValid() || !entry.saveToDisk() ||
            entry.attributes().value(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
            return {};
        const std::unique_ptr<QIODevice> data(m_cache->data(url));
        if (!data || data->size() > m_options.maximumTileSize)
            return {};
        QByteArray body = data->readAll();
        const QByteArray length = headerOf(entry.rawHeaders(), "content-length");
        if (!length.isEmpty() && body.size() < length.toLongLong())
            return {};
        return {std::move(entry), std::move(body)};
    }

    void store(const QNetworkCacheMetaData &entry, const QByteArray &body)
    {
        if (!cache())
            return;
        QIODevice *device = m_cache->prepare(entry);
        if (device && device->write(body) == body.size()) {
            m_cache->insert(device);
            return;
        }
        // The first removal drops what was prepared, the second the older
        // entry, which must not outlive a reply that was not kept.
        if (device)
            m_cache->remove(entry.url());
        m_cache->remove(entry.url());
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

    void delivered(const QUrl &url)
    {
        if (m_delivered.size() > 4096)
            m_delivered.clear();
        m_delivered.insert(url, m_clock.elapsed());
    }

    void start(const QUrl &url)
    {
        CachedTile stored = cached(url);
        if (stored.entry.isValid() && isFresh(stored.entry)) {
            const QImage image = decodeTile(stored.body);
            if (!image.isNull()) {
                delivered(url);
                emit loaded(url, image);
                return;
            }
            m_cache->remove(url);
            stored = {};
        }
        QNetworkRequest request(url);
        if (!m_options.userAgent.isEmpty())
            request.setHeader(QNetworkRequest::UserAgentHeader, m_options.userAgent);
        request.setTransferTimeout(m_options.transferTimeoutMilliseconds);
        // A stale tile is asked for again only if it changed.
        if (const QByteArray tag = headerOf(stored.entry.rawHeaders(), "etag"); !tag.isEmpty())
            request.setRawHeader("If-None-Match", tag);
        if (stored.entry.lastModified().isValid())
            request.setHeader(QNetworkRequest::IfModifiedSinceHeader, stored.entry.lastModified());
        m_inFlight.insert(url);
        QNetworkReply *reply = manager().get(request);
        auto *bounds =
            new BoundedReply(reply, m_options.maximumTileSize,
                             std::chrono::milliseconds(m_options.transferDeadlineMilliseconds));
        connect(reply, &QNetworkReply::finished, this,
                [this, reply, bounds, url, stored = std::move(stored)] {
                    reply->deleteLater();
                    m_inFlight.remove(url);
                    delivered(url);
                    finish(url, *reply, *bounds, stored);
                    pump();
                });
    }

    void finish(const QUrl &url, QNetworkReply &reply, BoundedReply &bounds,
                const CachedTile &stored)
    {
        const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const bool whole = bounds.failure() == BoundedReply::Failure::none &&
                           reply.error() == QNetworkReply::NoError;
        QImage image;
        if (whole && status.toInt() == 304 && stored.entry.isValid()) {
            image = decodeTile(stored.body);
            const QNetworkCacheMetaData confirmed = cacheEntry(stored.entry, url, reply);
            if (!image.isNull() && confirmed != stored.entry)
                m_cache->updateMetaData(confirmed);
        } else if (whole && status.toInt() == 200) {
            const QByteArray body = bounds.takeBody();
            image = decodeTile(body);
            if (!image.isNull())
                store(cacheEntry({}, url, reply), body);
        }
        if (image.isNull()) {
            // Neither a refusal nor a damaged image may stand in for the tile
            // next time; a tile the server was not reached for stays for when
            // it is.
            if (status.isValid() && cache())
                m_cache->remove(url);
            emit failed(url);
            return;
        }
        emit loaded(url, image);
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
