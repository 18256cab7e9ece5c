#pragma once

#include "platform/ImageRef.h"

#include <QCache>
#include <QColor>
#include <QImage>
#include <QSizeF>
#include <QString>

namespace corvane {

// Turns image references into images on the main thread and keeps the
// results. Resources are ":/images/<name>.svg" or ".png"; symbols are
// ":/symbols/<name>.svg", drawn in the text colour like template images.
class ImageCache {
public:
    static ImageCache &shared();

    // A null image when the reference is null or its art is missing.
    QImage resolve(const ImageRef &ref);
    void clear();

    static constexpr qreal symbolSize = 16;

    // The colours accent and symbol tints use: the palette's highlight and
    // text colours, or fixed ones without a GUI application.
    static QColor accentColor();
    static QColor textColor();

private:
    ImageCache();
    QImage loadBase(const ImageRef &ref) const;
    QImage applyStep(const QImage &image, const ImageRef::Step &step) const;

    QCache<QString, QImage> m_cache;
};

} // namespace corvane
