#include "app/qt/ImageCache.h"

#include "core/ImageHelpers.h"

#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QSvgRenderer>

namespace corvane {

namespace {

// Rendered at twice the logical size so that menus stay sharp on dense
// screens.
constexpr qreal kRatio = 2.0;

QImage renderSvg(const QString &path, QSizeF logical)
{
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    if (logical.isEmpty())
        logical = renderer.defaultSize();
    if (logical.isEmpty())
        return {};
    QImage image((logical * kRatio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    image.setDevicePixelRatio(kRatio);
    return image;
}

QImage readImage(const QString &path)
{
    QImageReader reader(path);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

bool isGuiApplication()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
}

} // namespace

ImageCache &ImageCache::shared()
{
    static ImageCache cache;
    return cache;
}

ImageCache::ImageCache() : m_cache(64 * 1024)
{
}

QColor ImageCache::accentColor()
{
    if (!isGuiApplication())
        return QColor(0x0a, 0x84, 0xff);
    return QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
}

QColor ImageCache::textColor()
{
    if (!isGuiApplication())
        return Qt::black;
    return QGuiApplication::palette().color(QPalette::Active, QPalette::WindowText);
}

QImage ImageCache::resolve(const ImageRef &ref)
{
    if (ref.isNull())
        return {};
    if (ref.source() == ImageRef::Source::Symbol && !ImageRef::symbolsEnabled())
        return {};
    const QColor accent = accentColor();
    QString key = ref.cacheKey(accent);
    if (ref.source() == ImageRef::Source::Symbol)
        key += QStringLiteral("|text(%1)").arg(textColor().name(QColor::HexArgb));
    if (const QImage *hit = m_cache.object(key))
        return *hit;

    QImage image = loadBase(ref);
    for (const auto &step : ref.steps()) {
        if (image.isNull())
            break;
        image = applyStep(image, step);
    }
    if (!image.isNull()) {
        const qsizetype kilobytes = qMax<qsizetype>(1, image.sizeInBytes() / 1024);
        m_cache.insert(key, new QImage(image), kilobytes);
    }
    return image;
}

void ImageCache::clear()
{
    m_cache.clear();
}

QImage ImageCache::loadBase(const ImageRef &ref) const
{
    switch (ref.source()) {
    case ImageRef::Source::None: return {};
    case ImageRef::Source::Resource: {
        const QString svg = QStringLiteral(":/images/%1.svg").arg(ref.name());
        if (QFile::exists(svg))
            return renderSvg(svg, {});
        const QString png = QStringLiteral(":/images/%1.png").arg(ref.name());
        return QFile::exists(png) ? readImage(png) : QImage();
    }
    case ImageRef::Source::Symbol: {
        const QString svg = QStringLiteral(":/symbols/%1.svg").arg(ref.name());
        if (!QFile::exists(svg))
            return {};
        const QImage art = renderSvg(svg, QSizeF(symbolSize, symbolSize));
        return ImageHelpers::tinted(art, textColor()).value_or(QImage());
    }
    case ImageRef::Source::File:
        if (ref.name().endsWith(QLatin1String(".svg"), Qt::CaseInsensitive))
            return renderSvg(ref.name(), {});
        return readImage(ref.name());
    case ImageRef::Source::Image:
        return ref.sourceImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    case ImageRef::Source::Provided:
        return ref.provide().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    return {};
}

QImage ImageCache::applyStep(const QImage &image, const ImageRef::Step &step) const
{
    using Kind = ImageRef::Step::Kind;
    switch (step.kind) {
    case Kind::Pad: return ImageHelpers::padded(image, step.insets).value_or(QImage());
    case Kind::Tint: {
        QColor color = step.color;
        if (step.tint == ImageRef::TintColor::Accent)
            color = accentColor();
        else if (step.tint == ImageRef::TintColor::White)
            color = Qt::white;
        return ImageHelpers::tinted(image, color).value_or(QImage());
    }
    case Kind::Thumbnail: return ImageHelpers::thumbnail(image, step.size).value_or(QImage());
    case Kind::RoundedClip: {
        const QSizeF size = image.deviceIndependentSize();
        QPainterPath path;
        path.addRoundedRect(QRectF(QPointF(0, 0), size), step.radius, step.radius);
        return ImageHelpers::clipped(image, path).value_or(QImage());
    }
    }
    return image;
}

} // namespace corvane
