#pragma once

#include "common/TestSupport.h"
#include "location/MapView.h"

#include <QImage>
#include <QWidget>

#include <memory>

namespace corvane::test {

// A map of the given size, shown offscreen so that it has that size.
inline std::unique_ptr<MapView> sizedMap(int width = 800, int height = 600)
{
    auto map = std::make_unique<MapView>();
    map->setTileSources({}, {});
    map->resize(width, height);
    map->show();
    return map;
}

inline QImage render(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image);
    return image;
}

// Without the window background, to see what the widget itself paints.
inline QImage renderAlone(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

inline QColor pixel(const QImage &image, const QPointF &point)
{
    return image.pixelColor(point.toPoint());
}

} // namespace corvane::test
