#include "core/ImageHelpers.h"

#include <QPainter>

#include <cmath>
#include <vector>

namespace corvane::ImageHelpers {

namespace {

QSizeF logicalSize(const QImage &image)
{
    return QSizeF(image.size()) / image.devicePixelRatio();
}

QImage blankCanvas(QSizeF logical, qreal ratio)
{
    const QSize pixels(qMax(1, qRound(logical.width() * ratio)),
                       qMax(1, qRound(logical.height() * ratio)));
    QImage canvas(pixels, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(Qt::transparent);
    return canvas;
}

std::vector<float> gaussianKernel(qreal sigma)
{
    const int radius = qMax(1, int(std::ceil(sigma * 3)));
    std::vector<float> kernel(2 * radius + 1);
    float sum = 0;
    for (int i = -radius; i <= radius; ++i) {
        kernel[i + radius] = std::exp(-(i * i) / float(2 * sigma * sigma));
        sum += kernel[i + radius];
    }
    for (auto &weight : kernel)
        weight /= sum;
    return kernel;
}

// One pass along rows (horizontal) or columns; edges clamp.
QImage blurPass(const QImage &source, const std::vector<float> &kernel, bool horizontal)
{
    const int radius = int(kernel.size() / 2);
    const int width = source.width();
    const int height = source.height();
    QImage result(source.size(), QImage::Format_ARGB32_Premultiplied);
    result.setDevicePixelRatio(source.devicePixelRatio());
    for (int y = 0; y < height; ++y) {
        auto *out = reinterpret_cast<QRgb *>(result.scanLine(y));
        for (int x = 0; x < width; ++x) {
            float a = 0, r = 0, g = 0, b = 0;
            for (int k = -radius; k <= radius; ++k) {
                const int sx = horizontal ? qBound(0, x + k, width - 1) : x;
                const int sy = horizontal ? y : qBound(0, y + k, height - 1);
                const QRgb pixel = reinterpret_cast<const QRgb *>(source.constScanLine(sy))[sx];
                const float weight = kernel[k + radius];
                a += weight * qAlpha(pixel);
                r += weight * qRed(pixel);
                g += weight * qGreen(pixel);
                b += weight * qBlue(pixel);
            }
            out[x] = qRgba(qRound(r), qRound(g), qRound(b), qRound(a));
        }
    }
    return result;
}

} // namespace

std::optional<QImage> thumbnail(const QImage &image, QSizeF maxSize)
{
    if (image.isNull() || maxSize.isEmpty())
        return std::nullopt;
    const int maxPixels = qRound(qMax(maxSize.width(), maxSize.height()) * 2);
    QImage scaled =
        image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
            .scaled(maxPixels, maxPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull())
        return std::nullopt;
    scaled.setDevicePixelRatio(2);
    return scaled;
}

std::optional<QImage> roundedRectBlurred(const QImage &image, qreal radius)
{
    if (image.isNull())
        return std::nullopt;
    const QSizeF size = logicalSize(image);
    const qreal w = size.width();
    const qreal h = size.height();
    QImage canvas = blankCanvas(size, image.devicePixelRatio());

    QPainterPath clip;
    clip.setFillRule(Qt::OddEvenFill);
    clip.addRoundedRect(QRectF(0, 0, w, h), radius, radius);
    clip.addRoundedRect(QRectF(0.05 * w, 0.05 * h, 0.9 * w, 0.9 * h), 0.22 * 0.9 * w,
                        0.22 * 0.9 * h);
    for (const QRectF &piece :
         {QRectF(0.2 * w, 0, 0.15 * w, 0.05 * h), QRectF(0.65 * w, 0, 0.15 * w, 0.05 * h),
          QRectF(0.2 * w, 0.95 * h, 0.15 * w, 0.05 * h),
          QRectF(0.65 * w, 0.95 * h, 0.15 * w, 0.05 * h), QRectF(0, 0.2 * h, 0.05 * w, 0.15 * h),
          QRectF(0, 0.65 * h, 0.05 * w, 0.15 * h), QRectF(0.95 * w, 0.2 * h, 0.05 * w, 0.15 * h),
          QRectF(0.95 * w, 0.65 * h, 0.05 * w, 0.15 * h)})
        clip.addRect(piece);
    clip.addRoundedRect(QRectF(0.1 * w, 0.1 * h, 0.8 * w, 0.8 * h), 0.22 * 0.8 * w, 0.22 * 0.8 * h);

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipPath(clip);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const QImage blurred =
        gaussianBlurred(image.convertToFormat(QImage::Format_ARGB32_Premultiplied), 2.0);
    // The layer is 8 larger in each direction from a bottom-left origin, so
    // in top-left coordinates its overflow lies above and to the right.
    painter.drawImage(QRectF(0, -8, w + 8, h + 8), blurred);
    if (auto inner = thumbnail(image, QSizeF(0.8 * w, 0.8 * h)))
        painter.drawImage(QRectF(0.1 * w, 0.1 * h, 0.8 * w, 0.8 * h), *inner);
    painter.end();
    return canvas;
}

std::optional<QImage> padded(const QImage &image, const QMarginsF &insets)
{
    if (image.isNull())
        return std::nullopt;
    const QSizeF size = logicalSize(image);
    QImage canvas = blankCanvas(QSizeF(size.width() + insets.left() + insets.right(),
                                       size.height() + insets.top() + insets.bottom()),
                                image.devicePixelRatio());
    QPainter painter(&canvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF(QPointF(insets.left(), insets.top()), size), image);
    return canvas;
}

bool drawTinted(QPainter &painter, const QImage &image, const QColor &color, const QRectF &rect)
{
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setOpacity(1.0);
    painter.drawImage(rect, image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(rect, color);
    painter.restore();
    return true;
}

std::optional<QImage> tinted(const QImage &image, const QColor &color)
{
    if (image.isNull())
        return std::nullopt;
    const QSizeF size = logicalSize(image);
    QImage canvas = blankCanvas(size, image.devicePixelRatio());
    QPainter painter(&canvas);
    drawTinted(painter, image, color, QRectF(QPointF(0, 0), size));
    return canvas;
}

std::optional<QImage> clipped(const QImage &image, const QPainterPath &path)
{
    if (image.isNull())
        return std::nullopt;
    const QSizeF size = logicalSize(image);
    QImage canvas = blankCanvas(size, image.devicePixelRatio());
    QPainterPath clip = path;
    clip.setFillRule(Qt::OddEvenFill);
    // Filling the shape and drawing the image source-in gives the same
    // antialiased edge as a clip path at a fraction of its cost, which counts
    // for menus with thousands of application icons.
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(clip, Qt::white);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.drawImage(QRectF(QPointF(0, 0), size), image);
    return canvas;
}

QImage gaussianBlurred(const QImage &image, qreal sigma)
{
    if (image.isNull() || sigma <= 0)
        return image;
    const auto kernel = gaussianKernel(sigma * image.devicePixelRatio());
    const QImage source = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return blurPass(blurPass(source, kernel, true), kernel, false);
}

} // namespace corvane::ImageHelpers
