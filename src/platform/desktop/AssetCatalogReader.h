#pragma once

#include <QImage>
#include <QSizeF>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

// Reads named images out of a compiled asset catalog ("Assets.car"). Only
// some platforms have a reader; elsewhere make() gives nothing and callers go
// without catalog images.
class AssetCatalogReader {
public:
    struct NamedImage {
        QSizeF size;                  // in points
        std::optional<QImage> bitmap; // absent when the rendition has none
    };

    using Factory = std::function<std::unique_ptr<AssetCatalogReader>()>;

    virtual ~AssetCatalogReader() = default;

    // The platform's reader, or nothing when there is none.
    static std::unique_ptr<AssetCatalogReader> make();
    // Replaces the platform's reader (tests); an empty factory restores it.
    static void setFactory(Factory factory);

    // False when the catalog cannot be read.
    virtual bool open(const QUrl &url) = 0;
    // The catalog's images of that name, in the catalog's order.
    virtual std::vector<NamedImage> imagesWithName(const QString &name) const = 0;
};

} // namespace corvane
