#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QThread>
#include <QUrl>

#include <memory>

namespace corvane {

// Where a map style gets its raster tiles: an XYZ URL template with the
// placeholders {z}, {x} and {y}, and the credit the map must show with them.
struct MapTileSource {
    QString urlTemplate;
    QString attribution;
    int maximumZoom = 19;

    bool isEmpty() const { return urlTemplate.isEmpty(); }
    QUrl url(int zoom, int x, int y) const;

    // The OpenStreetMap standard tiles; CORVANE_MAP_TILE_URL replaces the
    // template, and set but empty means no tiles.
    static MapTileSource standardDefault();
    // None unless CORVANE_MAP_HYBRID_TILE_URL gives a template.
    static MapTileSource hybridDefault();

    bool operator==(const MapTileSource &) const = default;
};

// Fetches map tiles on a thread of its own: at most a few requests at a time,
// through a disk cache that honours the replies' cache headers (a fresh tile
// is taken from it, a stale one asked for again only if it changed), and
// decodes them there. Results arrive on the thread that made the loader. A
// reply that is not a 200 with a readable image of bounded size, or that is
// too large or too slow, fails and is taken out of the cache; whatever its
// status, no more of it is held than the tile's size allows. A tile whose
// server could not be reached stays in the cache.
class TileLoader : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString cacheDirectory;
        int maximumConcurrentRequests = 2;
        qint64 maximumCacheSize = qint64(200) << 20;
        QByteArray userAgent;
        // How long a request may go without data before it fails.
        int transferTimeoutMilliseconds = 20000;
        // How long a whole request may take, and the largest tile accepted.
        int transferDeadlineMilliseconds = 60000;
        qint64 maximumTileSize = qint64(2) << 20;
    };

    explicit TileLoader(Options options, QObject *parent = nullptr);
    ~TileLoader() override;

    // The program's loader, made on first use: the XDG cache folder, two
    // requests at a time, a User-Agent naming the program and its version.
    static std::shared_ptr<TileLoader> shared();
    static QString standardCacheDirectory();
    static QByteArray standardUserAgent();

    // Replaces what `client` waits for with `urls`, the most wanted first.
    // Requests already under way go on; a URL nobody wants any more is never
    // asked for.
    void request(const QObject *client, const QList<QUrl> &urls);
    void forget(const QObject *client);

signals:
    void tileLoaded(const QUrl &url, const QImage &image);
    void tileFailed(const QUrl &url);

private:
    class Worker;
    QThread m_thread;
    Worker *m_worker = nullptr;
};

} // namespace corvane
