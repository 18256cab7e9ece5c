#include "platform/BoundedImage.h"

#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <optional>

namespace corvane {

const QString BoundedImage::unreadableText = QStringLiteral("The image could not be read.");
const QString BoundedImage::tooLargeText = QStringLiteral("The image is too large.");

namespace {

QImage refuse(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return {};
}

// The size the header gives, when it gives one within the bounds.
std::optional<QSize> headerSize(QImageReader &reader, QString *error)
{
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) {
        refuse(error, BoundedImage::unreadableText);
        return std::nullopt;
    }
    if (size.width() > BoundedImage::maximumSide || size.height() > BoundedImage::maximumSide ||
        qint64(size.width()) * size.height() > BoundedImage::maximumPixels) {
        refuse(error, BoundedImage::tooLargeText);
        return std::nullopt;
    }
    return size;
}

QImage decode(QImageReader &reader, QString *error)
{
    QImage image = reader.read();
    if (image.isNull())
        return refuse(error, BoundedImage::unreadableText);
    return image;
}

} // namespace

QImage BoundedImage::read(QIODevice &device, QString *error, QSize fitWithin)
{
    QImageReader reader(&device);
    const auto size = headerSize(reader, error);
    if (!size)
        return {};
    if (fitWithin.isValid() &&
        (size->width() > fitWithin.width() || size->height() > fitWithin.height()))
        reader.setScaledSize(size->scaled(fitWithin, Qt::KeepAspectRatio).expandedTo({1, 1}));
    return decode(reader, error);
}

QImage BoundedImage::thumbnail(QIODevice &device, int side, QString *error)
{
    QImageReader reader(&device);
    const auto size = headerSize(reader, error);
    if (!size)
        return {};
    const double width = size->width(), height = size->height();
    const double factor = std::max(side / width, side / height);
    // The covering side could floor to one pixel short of the square.
    const double scaledWidth = std::max<double>(side, std::floor(width * factor));
    const double scaledHeight = std::max<double>(side, std::floor(height * factor));
    const double x = std::floor((scaledWidth - side) * 0.5);
    const double y = std::floor((scaledHeight - side) * 0.5);
    // The square's part of the image, in the image's own pixels.
    const double toSourceX = width / scaledWidth, toSourceY = height / scaledHeight;
    const int left = int(std::floor(x * toSourceX));
    const int top = int(std::floor(y * toSourceY));
    const int right = std::clamp(int(std::ceil((x + side) * toSourceX)), left + 1, size->width());
    const int bottom = std::clamp(int(std::ceil((y + side) * toSourceY)), top + 1, size->height());
    reader.setClipRect(QRect(left, top, right - left, bottom - top));
    reader.setScaledSize(QSize(side, side));
    return decode(reader, error);
}

} // namespace corvane
