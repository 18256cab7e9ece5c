#pragma once

#include <QColor>
#include <QImage>
#include <QMarginsF>
#include <QPainterPath>
#include <QRectF>
#include <QSizeF>

#include <optional>

class QPainter;

namespace corvane {

// Image operations for icons and menu images. Sizes, insets, radii and paths
// are in logical units (pixels divided by the image's device pixel ratio).
// All of them work off the main thread and without a display; a null image
// gives nothing.
namespace ImageHelpers {

// A smooth-scaled copy whose longer side is twice the request in pixels, with
// device pixel ratio 2 so that its logical size fits the request.
std::optional<QImage> thumbnail(const QImage &image, QSizeF maxSize);

// The framed icon backdrop: a blurred copy under an even-odd frame clip, with
// the 0.8 thumbnail on top. Keeps the source size.
std::optional<QImage> roundedRectBlurred(const QImage &image, qreal radius);

// A larger copy with the source drawn inside the insets (top, left, bottom,
// right as QMarginsF's top, left, bottom, right).
std::optional<QImage> padded(const QImage &image, const QMarginsF &insets);

// Draws the image into the rectangle, then fills it with the colour
// source-atop, so that only the image's own pixels take the colour.
bool drawTinted(QPainter &painter, const QImage &image, const QColor &color, const QRectF &rect);

// A copy of the same size drawn with drawTinted.
std::optional<QImage> tinted(const QImage &image, const QColor &color);

// A copy of the same size clipped to the path with the odd-even rule.
std::optional<QImage> clipped(const QImage &image, const QPainterPath &path);

// Separable Gaussian blur of the given standard deviation in pixels.
QImage gaussianBlurred(const QImage &image, qreal sigma);

} // namespace ImageHelpers
} // namespace corvane
